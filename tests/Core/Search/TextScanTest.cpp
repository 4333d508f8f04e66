#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "Core/Search/TextScan.h"
#include "Platform/Text.h"

using namespace pallix;

namespace {

// Texts whose clusters the fast paths must not get wrong.
const std::vector<std::string> kTexts{
    "",
    "plain ascii",
    "crlf\r\nhere\r",
    "\n\r",
    "季度报告总结",
    "ひらがなカタカナ",
    "ｆｕｌｌ－ｗｉｄｔｈ",
    "e\u0301te\u0301",          // decomposed accents join their letter
    "a\u0301\u0302\u0303b",     // several marks on one letter
    "报\u0301告",               // a mark on an ideograph
    "\u1100\u1161\u11A8x",      // Hangul jamo make one syllable
    "\U0001F1E8\U0001F1F3\U0001F1FA",  // regional indicators pair up
    "\U0001F469\u200D\U0001F4BB!",     // an emoji ZWJ sequence
    "क्षि",                   // Devanagari conjunct with a virama
    "x\u200Dy",
    std::string("a") + std::string(200, '\xCC').replace(1, 199, "") + "",  // stray byte
};

std::vector<std::string> clustersOf(std::string_view s)
{
    std::vector<std::string> out;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t end = textscan::clusterEnd(s, i);
        out.emplace_back(s.substr(i, end - i));
        i = end;
    }
    return out;
}

std::vector<std::string> referenceClustersOf(std::string_view s)
{
    std::vector<std::string> out;
    while (!s.empty()) {
        std::size_t n = text::graphemeByteOffset(s, 1);
        out.emplace_back(s.substr(0, n));
        s.remove_prefix(n);
    }
    return out;
}

} // namespace

TEST(TextScan, ClustersAgreeWithTheBreakIterator)
{
    for (const std::string& s : kTexts) {
        SCOPED_TRACE(s);
        EXPECT_EQ(textscan::clusterCount(s), text::graphemeCount(s));
        EXPECT_EQ(clustersOf(s), referenceClustersOf(s));
    }
}

// The plain-text test reads eight bytes at a time: a "\r\n" or a non-ASCII
// character at any place of a word or of the bytes after the last word.
TEST(TextScan, ClustersCountedAtEveryPlaceOfAWord)
{
    for (std::size_t length : {1u, 7u, 8u, 9u, 16u, 23u}) {
        for (std::size_t at = 0; at + 1 < length; ++at) {
            for (const char* odd : {"\r\n", "\xC3\xA9", "e\xCC\x81", "\xE6\x96\x87"}) {
                std::string s(length, 'a');
                s.replace(at, 2, odd);
                SCOPED_TRACE(testing::Message() << length << " " << at << " " << odd);
                EXPECT_EQ(textscan::clusterCount(s), text::graphemeCount(s));
            }
        }
        EXPECT_EQ(textscan::clusterCount(std::string(length, 'a')), length);
        EXPECT_EQ(textscan::clusterCount(std::string(length, '\x0C')), length);
    }
}

TEST(TextScan, LongClusterWidensTheWindow)
{
    std::string zalgo = "a";
    for (int i = 0; i < 100; ++i)
        zalgo += "\u0301";  // 200 bytes of marks on one letter
    zalgo += "b";
    EXPECT_EQ(textscan::clusterEnd(zalgo, 0), zalgo.size() - 1);
    EXPECT_EQ(textscan::clusterCount(zalgo), 2u);
}

TEST(TextScan, FindAnswersAsTheLibrarysSearch)
{
    // Every piece of a few texts, and texts from a small alphabet (repeats,
    // overlaps, the needle at either end, longer than the text), up to and
    // past the length where the search changes its way.
    std::vector<std::string> texts = {"report final.pdf", "租房合同 final v2.pdf", "合同合", "\xE5\x90\x88",
                                      std::string(63, 'a') + "ab", std::string(70, 'a') + "ba"};
    std::mt19937 random(7);
    const std::string alphabet("ab\0", 3);
    for (int n = 0; n < 300; ++n) {
        std::string t;
        for (std::size_t len = random() % 8; len > 0; --len)
            t += alphabet[random() % alphabet.size()];
        texts.push_back(t);
    }
    for (const std::string& haystack : texts)
        for (const std::string& text : texts)
            for (std::size_t from = 0; from <= std::min<std::size_t>(text.size(), 8); ++from)
                for (std::size_t to = from; to <= text.size(); ++to) {
                    const std::string_view needle = std::string_view(text).substr(from, to - from);
                    ASSERT_EQ(textscan::find(haystack, needle), haystack.find(needle))
                        << "\"" << haystack << "\", \"" << needle << "\"";
                }
}

TEST(TextScan, FindAndAffixes)
{
    EXPECT_EQ(textscan::find("季度报告", "报告"), 6u);
    EXPECT_EQ(textscan::find("abc", ""), 0u);
    EXPECT_EQ(textscan::find("abc", "abcd"), std::string_view::npos);
    EXPECT_EQ(textscan::find("", "a"), std::string_view::npos);
    EXPECT_EQ(textscan::clustersBefore("季度报告", 6), 2u);
    EXPECT_TRUE(textscan::startsWith("abc", ""));
    EXPECT_TRUE(textscan::endsWith("abc", "bc"));
    EXPECT_FALSE(textscan::endsWith("c", "bc"));
}
