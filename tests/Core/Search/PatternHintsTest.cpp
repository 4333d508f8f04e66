#include "Core/Search/PatternHints.h"

#include <gtest/gtest.h>

#include "Core/Search/ItemFacts.h"
#include "Core/Search/PreparedQuery.h"
#include "FactsSource.h"
#include "Platform/Text.h"

namespace pallix::testing {
namespace {

TEST(PatternHints, WhatExpressionsAndWildcardsRequire)
{
    struct Case {
        const char* pattern;
        bool wildcard;
        const char* letters;  // every match holds these
        char last, secondLast;
    } cases[] = {
        {"*.pdf", true, "pdf", 'f', 'd'},
        {"IMG_12??.*", true, "img12", 0, 0},
        {"*report*final*", true, "reportfinal", 0, 0},
        {"a?", true, "a", 0, 0},
        {"IMG_[0-9]{4}\\.JPG$", false, "imgjpg", 'g', 'p'},
        {"\\.(docx|xlsx|pptx)$", false, "x", 'x', 0},  // only x is in every one, and ends each
        {"(ab|cb)$", false, "b", 'b', 0},
        {"(xab|yab)$", false, "ab", 'b', 'a'},
        {"(a.b|cb)$", false, "", 0, 0},  // not plain: nothing
        {"^/home/user/Documents/.*20(19|20)", false, "homeuserdocuments20", 0, 0},
        {"ab+c", false, "abc", 0, 0},
        {"ab*c", false, "ac", 0, 0},
        {"x{0,3}y{2}z?", false, "y", 0, 0},
        {"report$", false, "report", 't', 'r'},
        {"rep(ort)?$", false, "rep", 0, 0},
        {"\\d+\\w", false, "", 0, 0},
        {"a|b", false, "", 0, 0},        // alternatives at the top: nothing is sure
        {"(?i)abc", false, "", 0, 0},    // flags: not read
        {"\\Qa.b\\E", false, "", 0, 0},  // quoting: not read
        {"\\x41", false, "", 0, 0},      // escapes with arguments: not read
        {"[a]bc]", false, "", 0, 0},     // a class that is not taken apart
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        const PatternHints h = c.wildcard ? PatternHints::ofWildcard(c.pattern) : PatternHints::ofExpression(c.pattern);
        EXPECT_EQ(h.requiredCharacters, ItemFacts::characterMask(c.letters));
        EXPECT_EQ(h.lastByte, c.last);
        EXPECT_EQ(h.secondLastByte, c.secondLast);
    }
}

bool fits(const PatternHints& h, const ItemFacts& f)
{
    return (f.nameCharacters & h.requiredCharacters) == h.requiredCharacters &&
           (h.lastByte == 0 || h.lastByte == f.lastByte()) &&
           (h.secondLastByte == 0 || h.secondLastByte == f.secondLastByte());
}

TEST(PatternHints, EveryPlainNameAPatternMatchesFitsItsHints)
{
    static const char* expressions[] = {"re.*port", "^Re", "port$", "\\.(pdf|txt)$", "[0-9]{4}", "(lib|doc)s?",
                                        "b3b+", "x{0,2}plan", "an\\.", "PORT", "^.$", "ual", "(re|an)(port|nual)",
                                        "_\\d", "s\\b", "T$", "e.?$", "(port|rt)$", "\\.(md|txt|pdf)$"};
    ItemGenerator gen(31);
    const std::vector<IndexedItem> items = gen.items(3000);
    int matched = 0;
    for (bool caseSensitive : {false, true}) {
        for (const char* e : expressions) {
            const PatternHints hints = PatternHints::ofExpression(e);
            const std::optional<text::Regex> re = text::Regex::compile(e, !caseSensitive);
            ASSERT_TRUE(re);
            for (const IndexedItem& item : items) {
                const ItemFacts f = ItemFacts::of(item.ref());
                if (!f.has(ItemFacts::PlainName) || !re->search(text::toNFC(item.name())))
                    continue;
                ++matched;
                ASSERT_TRUE(fits(hints, f)) << e << " matches " << item.name();
            }
        }
        for (int i = 0; i < 200; ++i) {
            std::string p = gen.token(items);
            if (!text::isAscii(p))
                continue;
            p = (gen.rng()() % 2 ? "*" : "") + p + (gen.rng()() % 2 ? "*" : "");
            const PatternHints hints = PatternHints::ofWildcard(p);
            const std::optional<text::Regex> re =
                text::Regex::compile(PreparedQuery::wildcardExpression(p), !caseSensitive);
            for (const IndexedItem& item : items) {
                const ItemFacts f = ItemFacts::of(item.ref());
                if (!f.has(ItemFacts::PlainName) || !re->search(text::toNFC(item.name())))
                    continue;
                ++matched;
                ASSERT_TRUE(fits(hints, f)) << p << " matches " << item.name();
            }
        }
    }
    EXPECT_GT(matched, 1000) << "the patterns should match many names";
}

} // namespace
} // namespace pallix::testing
