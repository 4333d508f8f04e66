#include "App/ImageTags/ImageTagWrites.h"

#include <gtest/gtest.h>

namespace pallix {
namespace {

using Groups = std::vector<std::vector<std::string>>;

// The tag groups of a search for "red" and "cup" (with their keyword forms).
const Groups kRedCup{{"red", "ocr:red"}, {"cup", "ocr:cup", "mug"}};

// A store whose every write succeeds and keeps nothing.
struct NoDatabase final : ImageTagStore {
    std::optional<std::string> bootstrap() override { return std::nullopt; }
};

struct Recorded {
    std::shared_ptr<ImageTagWrites> writes = std::make_shared<ImageTagWrites>(std::make_shared<NoDatabase>());
    std::uint64_t mark = writes->mark();
    bool changes(const Groups& groups = kRedCup, const std::vector<std::string>& answered = {}) const
    {
        return writes->mayChangeSince(mark, groups, answered);
    }
};

TEST(ImageTagWrites, OnlyWritesThatCouldMatchOrUnmatchChangeAnAnswer)
{
    struct Case {
        const char* what;
        std::vector<std::string> tags;
        bool merged;
        std::vector<std::string> answered;
        bool expected;
    } cases[] = {
        {"tags of neither word", {"blue", "ocr:sale", "dog"}, false, {}, false},
        {"one word of two", {"red", "car"}, false, {}, false},
        {"every group, by any of its words", {"Red", "coffee mug"}, false, {}, true},
        {"a word found as the head of a tag", {"reddish", "cups"}, false, {}, true},
        {"recognised text, split at other characters", {"ocr:RED", "ocr:cup!"}, false, {}, true},
        {"diacritics and case folded", {"rëd", "CÚP"}, false, {}, true},
        {"an answered image written without them", {"blue"}, false, {"/p/img.png"}, true},
        {"a merge that adds one group's word", {"cup"}, true, {}, true},
        {"a merge of other words", {"dog"}, true, {}, false},
    };
    for (const Case& c : cases) {
        Recorded r;
        if (c.merged)
            ASSERT_EQ(r.writes->mergeTags("/p/img.png", c.tags, 1), std::nullopt);
        else
            ASSERT_EQ(r.writes->upsert("/p/img.png", c.tags, 1), std::nullopt);
        EXPECT_EQ(r.changes(kRedCup, c.answered), c.expected) << c.what;
        // Nothing written after the write: nothing can have changed since.
        EXPECT_FALSE(r.writes->mayChangeSince(r.writes->mark(), kRedCup, c.answered)) << c.what;
    }
}

TEST(ImageTagWrites, WritesTheRecordNoLongerHoldsAndAReopenedStoreMayChangeAnything)
{
    Recorded lost;
    for (std::size_t i = 0; i <= ImageTagWrites::kKeptWrites; ++i)
        ASSERT_EQ(lost.writes->upsert("/p/" + std::to_string(i) + ".png", {"dog"}, 1), std::nullopt);
    EXPECT_TRUE(lost.changes()) << "the first write since the mark is no longer recorded";
    Recorded kept;
    for (std::size_t i = 0; i < ImageTagWrites::kKeptWrites; ++i)
        ASSERT_EQ(kept.writes->upsert("/p/" + std::to_string(i) + ".png", {"dog"}, 1), std::nullopt);
    EXPECT_FALSE(kept.changes());

    Recorded reopened;
    EXPECT_EQ(reopened.writes->bootstrap(), std::nullopt);
    EXPECT_TRUE(reopened.changes());
}

} // namespace
} // namespace pallix
