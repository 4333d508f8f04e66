#include "Platform/Text.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "Platform/Clock.h"

using namespace pallix;

namespace {

std::string utf8(char32_t c)
{
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

} // namespace

TEST(Text, FoldIgnoresCaseDiacriticsAndWidth)
{
    struct Case {
        const char* input;
        const char* folded;
    } cases[] = {
        // Latin case and accents
        {"Café", "cafe"},
        {"Cafe\u0301", "cafe"},  // decomposed accent
        {"ÅNGSTRÖM", "angstrom"},
        {"İstanbul", "istanbul"},  // dotted capital I loses its dot too
        {"Straße", "strasse"},
        {"ΣΊΣΥΦΟΣ", "σισυφοσ"},
        // width
        {"Ｒｅｐｏｒｔ－２０２４", "report-2024"},
        {"ｶﾀｶﾅ", "カタカナ"},  // half-width katakana
        {"a\u3000b", "a b"},   // ideographic space
        // CJK is left alone, full-width punctuation becomes ASCII
        {"报告（最终版）", "报告(最终版)"},
        {"报告、最终版。", "报告、最终版。"},
        {"", ""},
        {"plain ascii 123", "plain ascii 123"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(text::fold(c.input), c.folded);
    }
}

// The fast path handles ASCII, CJK ideographs, full-width ASCII and CJK
// punctuation without ICU; a string with one accented letter takes ICU for the
// whole string. Both must agree on every code point the fast path accepts.
TEST(Text, FastFoldAgreesWithIcuFold)
{
    auto check = [](char32_t first, char32_t last) {
        for (char32_t c = first; c <= last; ++c) {
            const std::string s = utf8(c);
            const std::string fast = text::fold(s);
            const std::string slow = text::fold(s + "é");
            ASSERT_EQ(slow, fast + "e") << "U+" << std::hex << static_cast<unsigned>(c);
            const std::string fastLmn = text::foldLettersMarksNumbers(s);
            const std::string slowLmn = text::foldLettersMarksNumbers(s + "é");
            ASSERT_EQ(slowLmn, fastLmn + "e") << "U+" << std::hex << static_cast<unsigned>(c);
        }
    };
    check(0x01, 0x7F);
    check(0x3000, 0x3029);
    check(0xFF01, 0xFF5E);
    check(0x3400, 0x4DBF);
    check(0x4E00, 0x9FFF);
}

TEST(Text, FoldLettersMarksNumbersKeepsOnlyLMN)
{
    struct Case {
        const char* input;
        const char* expected;
    } cases[] = {
        {"报告（最终版）.docx", "报告最终版docx"},
        {"Café Menü.txt", "cafemenutxt"},
        {"Ｒｅｐｏｒｔ－２０２４.pdf", "report2024pdf"},
        {"!!! ... ---", ""},
        {"a_b-c d", "abcd"},
        {"٣ apples", "٣apples"},           // Arabic-Indic digit is a number
        {"x²", "x²"},                      // superscript two is a number (No), kept as is
        {"🎉party🎉", "party"},            // symbols go
        {"日本語のファイル", "日本語のファイル"},
    };
    std::string reused = "garbage left from an earlier call";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        text::foldLettersMarksNumbers(c.input, reused);
        EXPECT_EQ(reused, c.expected);
        EXPECT_EQ(text::foldLettersMarksNumbers(c.input), c.expected);
    }
}

TEST(Text, CaseMappingAndNormalization)
{
    EXPECT_EQ(text::lower("ÄÖÜ ABC"), "äöü abc");
    EXPECT_EQ(text::upper("straße pdf"), "STRASSE PDF");
    EXPECT_EQ(text::upper("pdf"), "PDF");
    EXPECT_EQ(text::toNFC("e\u0301"), "\u00e9");
    EXPECT_EQ(text::toNFC("\u00e9"), "\u00e9");
    EXPECT_EQ(text::toNFC("\uAC00"), "\uAC00");
    EXPECT_EQ(text::toNFC("\u1100\u1161"), "\uAC00");  // Hangul jamo compose
}

TEST(Text, CharacterClasses)
{
    EXPECT_TRUE(text::isWhiteSpace(U' '));
    EXPECT_TRUE(text::isWhiteSpace(U'\u3000'));
    EXPECT_TRUE(text::isWhiteSpace(U'\u00A0'));
    EXPECT_FALSE(text::isWhiteSpace(U'a'));

    EXPECT_TRUE(text::isLetterMarkOrNumber(U'报'));
    EXPECT_TRUE(text::isLetterMarkOrNumber(U'\u0301'));
    EXPECT_TRUE(text::isLetterMarkOrNumber(U'7'));
    EXPECT_TRUE(text::isLetterMarkOrNumber(U'Ⅻ'));
    EXPECT_FALSE(text::isLetterMarkOrNumber(U'（'));
    EXPECT_FALSE(text::isLetterMarkOrNumber(U'_'));
    EXPECT_FALSE(text::isLetterMarkOrNumber(U' '));

    EXPECT_TRUE(text::isPunctuationOrSymbol(U'（'));
    EXPECT_TRUE(text::isPunctuationOrSymbol(U'$'));
    EXPECT_TRUE(text::isPunctuationOrSymbol(U'+'));
    EXPECT_TRUE(text::isPunctuationOrSymbol(U'、'));
    EXPECT_FALSE(text::isPunctuationOrSymbol(U'a'));
    EXPECT_FALSE(text::isPunctuationOrSymbol(U' '));

    EXPECT_TRUE(text::isIdeographic(U'报'));
    EXPECT_TRUE(text::isIdeographic(U'〇'));
    EXPECT_FALSE(text::isIdeographic(U'カ'));
    EXPECT_FALSE(text::isIdeographic(U'a'));
}

TEST(Text, Utf8ValidationAndDecoding)
{
    EXPECT_TRUE(text::isValidUtf8("报告 report.txt"));
    EXPECT_TRUE(text::isValidUtf8(""));
    EXPECT_FALSE(text::isValidUtf8("\xff"));
    EXPECT_FALSE(text::isValidUtf8("a\xc0\xaf"));      // overlong
    EXPECT_FALSE(text::isValidUtf8("\xed\xa0\x80"));    // surrogate
    EXPECT_FALSE(text::isValidUtf8("\xe6\x8a"));        // truncated
    EXPECT_FALSE(text::isValidUtf8("\xf4\x90\x80\x80"));  // above U+10FFFF

    const std::string s = "a报\xffz";
    std::size_t offset = 0;
    EXPECT_EQ(text::nextCodePoint(s, offset), U'a');
    EXPECT_EQ(offset, 1u);
    EXPECT_EQ(text::nextCodePoint(s, offset), U'报');
    EXPECT_EQ(offset, 4u);
    EXPECT_EQ(text::nextCodePoint(s, offset), U'\uFFFD');
    EXPECT_EQ(offset, 5u);
    EXPECT_EQ(text::nextCodePoint(s, offset), U'z');
}

TEST(Text, GraphemeClusters)
{
    struct Case {
        const char* input;
        std::size_t count;
    } cases[] = {
        {"", 0},
        {"abc", 3},
        {"\r\n", 1},
        {"a\r\nb", 3},
        {"\n\r", 2},
        {"e\u0301", 1},
        {"报告", 2},
        {"\U0001F468\u200D\U0001F469\u200D\U0001F467", 1},  // family emoji
        {"\U0001F1E8\U0001F1F3\U0001F1FA\U0001F1F8", 2},    // two flags
        {"\uAC00\u1100\u1161", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(text::graphemeCount(c.input), c.count);
    }

    EXPECT_EQ(text::graphemeByteOffset("e\u0301x", 1), 3u);
    EXPECT_EQ(text::graphemeByteOffset("e\u0301x", 2), 4u);
    EXPECT_EQ(text::graphemeByteOffset("e\u0301x", 9), 4u);
    EXPECT_EQ(text::graphemeByteOffset("abc", 0), 0u);
    EXPECT_EQ(text::graphemeByteOffset("\r\nab", 1), 2u);
    EXPECT_EQ(text::graphemeByteOffset("ab", 5), 2u);
    EXPECT_EQ(text::graphemesBefore("e\u0301报x", 6), 2u);
    EXPECT_EQ(text::graphemesBefore("a\r\nb", 3), 2u);
}

TEST(Text, CanonicalEquivalence)
{
    EXPECT_TRUE(text::canonicallyEqual("caf\u00e9", "cafe\u0301"));
    EXPECT_TRUE(text::canonicallyEqual("\u212B", "\u00C5"));  // Angstrom sign and Å
    EXPECT_FALSE(text::canonicallyEqual("cafe", "caf\u00e9"));
    EXPECT_FALSE(text::canonicallyEqual("Ｒ", "R"));  // width is not canonical
    EXPECT_TRUE(text::canonicallyEqual("abc", "abc"));

    // One text matched against many, composed or not, on either side.
    const text::CanonicalMatch decomposed("/文档/cafe\u0301/合同.pdf");
    EXPECT_TRUE(decomposed("/文档/caf\u00e9/合同.pdf"));
    EXPECT_TRUE(decomposed("/文档/cafe\u0301/合同.pdf"));
    EXPECT_FALSE(decomposed("/文档/cafe/合同.pdf"));
    EXPECT_FALSE(decomposed("/文档/caf\u00e9/合同.pdf "));
    const text::CanonicalMatch composed("/\u00C5/报告");
    EXPECT_TRUE(composed("/\u212B/报告"));  // not composed itself: composed to Å
    EXPECT_FALSE(composed("/A/报告"));
    // Bytes that are not UTF-8 match only themselves.
    const text::CanonicalMatch broken("/下载/\xB9\xA4\xD7\xF7.txt");
    EXPECT_TRUE(broken("/下载/\xB9\xA4\xD7\xF7.txt"));
    EXPECT_FALSE(broken("/下载/\xB9\xA4\xD7\xF8.txt"));
}

TEST(Text, ChineseCollationIgnoresCaseOnly)
{
    EXPECT_EQ(text::compareZhCaseInsensitive("Report", "report"), 0);
    EXPECT_LT(text::compareZhCaseInsensitive("apple", "Banana"), 0);
    EXPECT_GT(text::compareZhCaseInsensitive("b", "A"), 0);
    EXPECT_NE(text::compareZhCaseInsensitive("e", "é"), 0);  // accents still count
    // Pinyin order: an (安) before zhong (中), though 中 has the lower code point.
    EXPECT_LT(text::compareZhCaseInsensitive("安", "中"), 0);
    EXPECT_GT(text::compareZhCaseInsensitive("中", "安"), 0);
}

TEST(Text, RegexCompilesAndSearches)
{
    EXPECT_FALSE(text::Regex::compile("(", false).has_value());
    EXPECT_FALSE(text::Regex::compile("[a-", true).has_value());

    auto insensitive = text::Regex::compile("re.*rt", true);
    ASSERT_TRUE(insensitive);
    EXPECT_TRUE(insensitive->search("My REPORT.pdf"));
    EXPECT_FALSE(insensitive->search("repo"));

    auto sensitive = text::Regex::compile("^Re", false);
    ASSERT_TRUE(sensitive);
    EXPECT_TRUE(sensitive->search("Report"));
    EXPECT_FALSE(sensitive->search("report"));
    EXPECT_FALSE(sensitive->search("xReport"));

    auto han = text::Regex::compile("\\p{Han}{2}\\d+$", false);
    ASSERT_TRUE(han);
    EXPECT_TRUE(han->search("季度报告2024"));
    EXPECT_FALSE(han->search("报2024"));
    EXPECT_FALSE(han->search("bad \xff utf8"));
}

TEST(Text, RegexEscapeMatchesTheLiteralOnly)
{
    const std::string literals[] = {"a.b*c(1)", "\\^$.|?*+()[]{}-", "报告[final]+v2?", "x{2}"};
    for (const std::string& literal : literals) {
        SCOPED_TRACE(literal);
        auto exact = text::Regex::compile("^" + text::Regex::escape(literal) + "$", false);
        ASSERT_TRUE(exact);
        EXPECT_TRUE(exact->search(literal));
    }
    auto dots = text::Regex::compile(text::Regex::escape("a.b*c"), false);
    ASSERT_TRUE(dots);
    EXPECT_FALSE(dots->search("axbbbc"));
    EXPECT_EQ(text::Regex::escape("plain 报告"), "plain 报告");
}

TEST(Text, OneRegexSearchedFromManyThreads)
{
    auto re = text::Regex::compile("report\\d{4}", true);
    ASSERT_TRUE(re);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                const bool shouldMatch = (i + t) % 2 == 0;
                const std::string subject = shouldMatch ? "季度 REPORT" + std::to_string(1000 + i) : "report-" + std::to_string(i);
                if (re->search(subject) != shouldMatch)
                    ++wrong;
                if (text::graphemeCount(subject) != subject.size() - (shouldMatch ? 4 : 0))
                    ++wrong;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(wrong.load(), 0);
}

// A match that backtracks exponentially runs out of its budget and answers no;
// after a few such answers the watch gives the expression up, and a cancelled
// token stops matches before they start. Cheap matches are untouched.
TEST(Text, RegexMatchesAreBoundedByTheirWatch)
{
    auto runaway = text::Regex::compile("^(\\w+\\s?)+$", false);
    ASSERT_TRUE(runaway.has_value());
    const std::string longWord = std::string(40, 'a') + ".txt";  // years without a budget

    text::RegexWatch watch;
    EXPECT_FALSE(runaway->search(longWord, &watch));
    EXPECT_TRUE(watch.exceededBudget());
    EXPECT_FALSE(watch.stopped());
    EXPECT_TRUE(runaway->search("short words", &watch)) << "one exhausted match gives nothing up";
    for (int i = 1; i < text::RegexWatch::kGiveUpAfter; ++i)
        EXPECT_FALSE(runaway->search(longWord, &watch));
    EXPECT_TRUE(watch.stopped());
    EXPECT_FALSE(runaway->search("short words", &watch)) << "given up for the rest of the search";

    EXPECT_FALSE(runaway->search(longWord)) << "without a watch the budget holds too";

    CancelToken cancel;
    text::RegexWatch cancelled(&cancel);
    EXPECT_TRUE(runaway->search("short words", &cancelled));
    cancel.cancel();
    EXPECT_FALSE(runaway->search("short words", &cancelled));
    EXPECT_FALSE(cancelled.exceededBudget());
}
