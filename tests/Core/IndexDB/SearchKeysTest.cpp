#include "Core/IndexDB/SearchKeys.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace pallix {
namespace {

using Keys = std::vector<std::string>;

Keys sorted(Keys k)
{
    std::sort(k.begin(), k.end());
    return k;
}

TEST(SearchKeys, KeysOfNameStems)
{
    struct Case {
        const char* stem;
        Keys characters;  // in order, repeats kept
        Keys bigrams;     // as a set
        Keys prefixes;    // in order
    } cases[] = {
        // The space is no key, but the pair across it is.
        {"report 2024", {"r", "e", "p", "o", "r", "t", "2", "0", "2", "4"},
         {"re", "ep", "po", "or", "rt", "t2", "20", "02", "24"}, {"r", "re", "rep", "repo"}},
        {"项目计划书", {"项", "目", "计", "划", "书"}, {"项目", "目计", "计划", "划书"},
         {"项", "项目", "项目计", "项目计划"}},
        {"a", {"a"}, {}, {"a"}},
        {"--", {}, {}, {}},
        {"", {}, {}, {}},
        // Repeated pairs once; punctuation dropped.
        {"aa_aa", {"a", "a", "a", "a"}, {"aa"}, {"a", "aa", "aaa", "aaaa"}},
        // A letter with a combining accent is one character.
        {"cafe\xCC\x81 x", {"c", "a", "f", "e\xCC\x81", "x"}, {"ca", "af", "fe\xCC\x81", "e\xCC\x81x"},
         {"c", "ca", "caf", "cafe\xCC\x81"}},
        // Symbols and emoji are no characters of a name's keys.
        {"a😀b©c", {"a", "b", "c"}, {"ab", "bc"}, {"a", "ab", "abc"}},
        // Full-width digits are numbers; the ideographic space is white space.
        {"２\u3000日", {"２", "日"}, {"２日"}, {"２", "２日"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stem);
        EXPECT_EQ(searchCharacters(c.stem), c.characters);
        EXPECT_EQ(sorted(searchBigrams(c.stem)), sorted(c.bigrams));
        EXPECT_EQ(searchPrefixes(c.stem), c.prefixes);
    }
}

TEST(SearchKeys, KeptCharactersAreViewsIntoTheText)
{
    const std::string s = "ab 计";
    std::vector<std::string_view> kept{"stale"};
    keptCharacters(s, kept);
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[2], "计");
    EXPECT_EQ(kept[2].data(), s.data() + 3);
}

} // namespace
} // namespace pallix
