#include "Core/IndexDB/LiveSearchIndexes.h"

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

namespace pallix {
namespace {

using Key = LiveSearchIndexes::Key;

// The positions a build over `names` gives for `keys`: the reference.
std::vector<std::uint32_t> builtPositions(const std::vector<std::string>& names, const std::vector<Key>& keys)
{
    NameList forms;
    for (const std::string& n : names)
        forms.append(n, n);
    const std::optional<SearchIndexes> built = buildSearchIndexes(forms, 1, {});
    std::vector<std::uint32_t> out;
    for (std::size_t k = 0; k < keys.size(); ++k) {
        const PostingIndex& index = keys[k].first == IndexKind::Characters ? built->characters
                                    : keys[k].first == IndexKind::Bigrams  ? built->bigrams
                                                                           : built->prefixes;
        const std::optional<PostingIndex::Postings> group = index.find(keys[k].second);
        if (!group)
            return {};
        if (k == 0)
            group->appendTo(out);
        else
            group->retainPresent(out);
    }
    return out;
}

LiveSearchIndexes liveOver(const std::vector<std::string>& names)
{
    NameList forms;
    for (const std::string& n : names)
        forms.append(n, n);
    LiveSearchIndexes live;
    live.startOver(static_cast<std::uint32_t>(names.size()));
    live.installBase(*buildSearchIndexes(forms, 1, {}));
    return live;
}

const std::vector<std::vector<Key>> kQueries{
    {{IndexKind::Characters, "a"}},
    {{IndexKind::Characters, "报"}},
    {{IndexKind::Bigrams, "ab"}},
    {{IndexKind::Prefixes, "ab"}, {IndexKind::Bigrams, "ab"}, {IndexKind::Bigrams, "bc"}},
    {{IndexKind::Prefixes, "c"}},
    {{IndexKind::Bigrams, "报告"}, {IndexKind::Characters, "a"}},
    {{IndexKind::Bigrams, "zz"}},
};

TEST(LiveSearchIndexes, RandomAppendsAndRemovalsAnswerAsABuildOfTheListNow)
{
    std::mt19937 random(20261207);
    const std::vector<std::string> syllables{"a", "b", "c", "ab", "bc", "报", "告", "z"};
    auto randomName = [&] {
        std::string n;
        for (int i = 0, len = 1 + int(random() % 4); i < len; ++i)
            n += syllables[random() % syllables.size()];
        return n;
    };
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i)
        names.push_back(randomName());
    LiveSearchIndexes live = liveOver(names);

    for (int step = 0; step < 200; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        if (random() % 3 != 0 || names.empty()) {
            names.push_back(randomName());
            live.appendItem(names.back(), names.back(), names.back());
        } else {
            // A run of positions, or scattered ones, as a folder's removal drops them.
            std::vector<std::uint32_t> removed;
            const std::uint32_t first = random() % names.size();
            for (std::uint32_t p = first; p < names.size() && removed.size() < 1 + random() % 20; p += 1 + random() % 3)
                removed.push_back(p);
            live.removePositions(removed);
            for (auto it = removed.rbegin(); it != removed.rend(); ++it)
                names.erase(names.begin() + *it);
        }
        for (const auto& keys : kQueries)
            ASSERT_EQ(live.positionsWithAll(keys), builtPositions(names, keys)) << keys.front().second;
        for (const std::string key : {"a", "报", "zz", "c"})
            ASSERT_EQ(live.hasLive(IndexKind::Prefixes, key), !builtPositions(names, {{IndexKind::Prefixes, key}}).empty());
    }
    EXPECT_GT(live.changeCount(), 0u);
}

// The positions from `from` on, as the parts give them, stopping nowhere.
std::vector<std::uint32_t> fromParts(const LiveSearchIndexes& live, const std::vector<Key>& keys, std::uint32_t from)
{
    std::vector<std::uint32_t> out;
    live.forEachPartWithAll(keys, from, [&](const std::vector<std::uint32_t>& part) {
        EXPECT_TRUE(out.empty() || part.front() > out.back()) << "parts come in order";
        out.insert(out.end(), part.begin(), part.end());
        return true;
    });
    std::erase_if(out, [&](std::uint32_t p) { return p < from; });
    return out;
}

TEST(LiveSearchIndexes, PartsFromAPositionOnHoldWhatTheWholeListHoldsThere)
{
    // Three parts of the list and more, with removals and appends, which
    // move positions across the parts' edges.
    std::mt19937 random(8);
    const std::vector<std::string> syllables{"a", "b", "ab", "报", "告", "z"};
    std::vector<std::string> names;
    for (int i = 0; i < 150'000; ++i)
        names.push_back(syllables[random() % syllables.size()] + syllables[random() % syllables.size()]);
    LiveSearchIndexes live = liveOver(names);
    std::vector<std::uint32_t> removed;
    for (std::uint32_t p = 60'000; p < 70'000; p += 3)
        removed.push_back(p);
    live.removePositions(removed);
    for (auto it = removed.rbegin(); it != removed.rend(); ++it)
        names.erase(names.begin() + *it);
    for (int i = 0; i < 50; ++i) {
        names.push_back("ab报告");
        live.appendItem(names.back(), names.back(), names.back());
    }
    for (const auto& keys : kQueries) {
        const std::vector<std::uint32_t> all = live.positionsWithAll(keys);
        for (std::uint32_t from : {0u, 65'535u, 65'536u, 66'000u, 131'072u, 146'660u, 200'000u}) {
            SCOPED_TRACE(keys.front().second + " from " + std::to_string(from));
            std::vector<std::uint32_t> expected(std::lower_bound(all.begin(), all.end(), from), all.end());
            EXPECT_EQ(fromParts(live, keys, from), expected);
        }
    }
    // Stopping after the first part leaves the rest unvisited.
    int visits = 0;
    live.forEachPartWithAll({{IndexKind::Characters, "a"}}, 0, [&](const std::vector<std::uint32_t>&) { return ++visits < 1; });
    EXPECT_EQ(visits, 1);
}

TEST(LiveSearchIndexes, RecordStartedBeforeTheBuildTakesTheWritesMadeMeanwhile)
{
    std::vector<std::string> names{"alpha", "beta", "gamma", "alpine"};
    LiveSearchIndexes record;
    record.startOver(4);
    EXPECT_FALSE(record.complete());
    // While the build runs: "beta" goes, "alps" comes.
    record.removePositions({1});
    names.erase(names.begin() + 1);
    record.appendItem("alps", "alps", "alps");
    names.push_back("alps");

    NameList forms;
    for (const std::string n : {"alpha", "beta", "gamma", "alpine"})
        forms.append(n, n);
    record.installBase(*buildSearchIndexes(forms, 1, {}));
    ASSERT_TRUE(record.complete());
    const std::vector<Key> al{{IndexKind::Prefixes, "al"}};
    EXPECT_EQ(record.positionsWithAll(al), (std::vector<std::uint32_t>{0, 2, 3}));
    EXPECT_EQ(record.positionsWithAll(al), builtPositions(names, al));
    EXPECT_FALSE(record.hasLive(IndexKind::Prefixes, "be"));
    EXPECT_TRUE(record.positionsWithAll({}).empty());
}

} // namespace
} // namespace pallix
