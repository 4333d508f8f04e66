#include "Core/Search/ResultCollation.h"

#include <random>

#include <gtest/gtest.h>

#include "Platform/Text.h"

namespace pallix {
namespace {

int sign(int v) { return (v > 0) - (v < 0); }

std::string randomText(std::mt19937& rng)
{
    // Every ASCII byte (controls are ignorable, case is not weighed), and now
    // and then a character the fast path hands to the collator.
    static const char* others[] = {"\xC3\xA9", "e\xCC\x81", "\xE6\x8A\xA5", "\xC3\x89", "\xEF\xBC\xA1"};
    std::string s;
    for (int n = int(rng() % 9); n > 0; --n) {
        if (rng() % 15 == 0)
            s += others[rng() % std::size(others)];
        else if (rng() % 4 == 0)
            s += static_cast<char>(rng() % 128);
        else
            s += "aAbB/._- 09zZ"[rng() % 13];
    }
    return s;
}

TEST(ResultCollation, AgreesWithTheCollator)
{
    std::mt19937 rng(17);
    for (int i = 0; i < 60000; ++i) {
        const std::string a = randomText(rng);
        const std::string b = rng() % 3 ? randomText(rng) : a.substr(0, a.size() / 2) + randomText(rng);
        SCOPED_TRACE(testing::PrintToString(a) + " vs " + testing::PrintToString(b));
        const int expected = sign(text::compareZhCaseInsensitive(a, b));
        ASSERT_EQ(sign(compareResultText(a, b)), expected);
        // The same texts cut into pieces anywhere.
        const std::size_t ca = rng() % (a.size() + 1), cb = rng() % (b.size() + 1);
        const TextPieces pa{{std::string_view(a).substr(0, ca), std::string_view(a).substr(ca), {}}};
        const TextPieces pb{{{}, std::string_view(b).substr(0, cb), std::string_view(b).substr(cb)}};
        ASSERT_EQ(sign(compareResultText(pa, pb)), expected);
        // Keys decide only what they can tell.
        if (const int byKeys = resultTextKey(a).compare(resultTextKey(b)); byKeys != 2) {
            ASSERT_EQ(byKeys, expected);
        }
    }
}

TEST(ResultCollation, PathsWithSharedHeadsAgreeWithTheCollator)
{
    // Paths that share folders of any script, then differ.
    static const char* folders[] = {"/home/u", "/数据/报告", "/Caf\xC3\xA9/x", "/e\xCC\x81t\xC3\xA9", "/ｒ/Ａ"};
    std::mt19937 rng(23);
    for (int i = 0; i < 5000; ++i) {
        const std::string head = std::string(folders[rng() % std::size(folders)]) + "/";
        const std::string a = head + randomText(rng), b = head + (rng() % 2 ? "" : "sub/") + randomText(rng);
        SCOPED_TRACE(testing::PrintToString(a) + " vs " + testing::PrintToString(b));
        const std::size_t cut = rng() % (head.size() + 1);
        const TextPieces pa{{std::string_view(a).substr(0, cut), std::string_view(a).substr(cut), {}}};
        const TextPieces pb{{std::string_view(b), {}, {}}};
        ASSERT_EQ(sign(compareResultText(pa, pb)), sign(text::compareZhCaseInsensitive(a, b)));
    }
}

TEST(ResultCollation, CaseAndIgnorablesAsTheCollatorHasThem)
{
    EXPECT_EQ(compareResultText("Apple", "apple"), 0);
    EXPECT_LT(compareResultText("apple", "Banana"), 0);
    EXPECT_EQ(compareResultText("a\x01" "b", "ab"), 0);  // a control character weighs nothing
    EXPECT_LT(compareResultText("ab", "abc"), 0);
    // An accent after the common head belongs to its last letter: é before e in zh_CN.
    EXPECT_EQ(sign(compareResultText("/d/e\xCC\x81", "/d/e")), sign(text::compareZhCaseInsensitive("/d/e\xCC\x81", "/d/e")));
    EXPECT_FALSE(resultTextKey("caf\xC3\xA9").known);
    EXPECT_EQ(resultTextKey("Report.pdf").compare(resultTextKey("report.PDF")), 0);  // complete and equal
    const std::string longer(30, 'a');
    EXPECT_EQ(resultTextKey(longer + "b").compare(resultTextKey(longer + "c")), 2);  // past the key
}

} // namespace
} // namespace pallix
