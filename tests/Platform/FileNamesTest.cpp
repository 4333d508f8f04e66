#include "Platform/FileNames.h"

#include <random>

#include <gtest/gtest.h>

#include "Platform/Text.h"

namespace pallix {
namespace {

using namespace filenames;

const std::string kReplacement = "\xEF\xBF\xBD";

// Bytes as the system gives them, their stored form, and how they are shown.
TEST(FileNames, BytesThatAreNotUtf8AreEscapedOneCodePointEach)
{
    const std::string e80 = "\xF4\x8F\xBA\x80";  // the escape of byte 0x80
    const std::string eB9 = "\xF4\x8F\xBA\xB9";
    const std::string eFA = "\xF4\x8F\xBB\xBA";
    const std::string eC4 = "\xF4\x8F\xBB\x84";
    const std::string eAF = "\xF4\x8F\xBA\xAF";
    const struct {
        const char* label;
        std::string bytes;
        std::string stored;
        std::string shown;
    } cases[] = {
        {"ASCII", "/home/a b/report.pdf", "/home/a b/report.pdf", "/home/a b/report.pdf"},
        {"UTF-8 Chinese", "/家/合同.pdf", "/家/合同.pdf", "/家/合同.pdf"},
        {"GBK 国 in a folder name", "/x/\xB9\xFA/y.txt", "/x/" + eB9 + eFA + "/y.txt",
         "/x/" + kReplacement + kReplacement + "/y.txt"},
        {"a lead byte whose follower is no continuation", "\xC4" "a", eC4 + "a", kReplacement + "a"},
        {"a sequence cut at the end", "ab\xE5\x90", "ab\xF4\x8F\xBB\xA5\xF4\x8F\xBA\x90",
         "ab" + kReplacement + kReplacement},
        {"an overlong slash", "\xC0\xAF", "\xF4\x8F\xBB\x80" + eAF, kReplacement + kReplacement},
        {"an encoded surrogate", "\xED\xA0\x80",
         "\xF4\x8F\xBB\xAD" "\xF4\x8F\xBA\xA0" + e80, kReplacement + kReplacement + kReplacement},
        {"a code point of the escape range itself", e80, "\xF4\x8F\xBB\xB4\xF4\x8F\xBA\x8F\xF4\x8F\xBA\xBA" + e80,
         kReplacement + kReplacement + kReplacement + kReplacement},
        {"a private code point beside the range", "\xF4\x8F\xBC\x80", "\xF4\x8F\xBC\x80", "\xF4\x8F\xBC\x80"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(fromFileSystem(c.bytes), c.stored);
        EXPECT_EQ(toFileSystem(c.stored), c.bytes);
        EXPECT_EQ(displayForm(c.stored), c.shown);
        EXPECT_EQ(isStoredAsIs(c.bytes), c.stored == c.bytes);
        EXPECT_EQ(hasEscapes(c.stored), c.stored != c.bytes);
    }
}

// Any bytes come back exactly from a stored form that is valid UTF-8, so no
// two names share one stored form.
TEST(FileNames, EveryByteStringSurvivesTheRoundTrip)
{
    std::mt19937 random(20241208);
    std::uniform_int_distribution<int> byte(1, 255);
    std::uniform_int_distribution<int> length(0, 24);
    const std::string pieces[] = {"\xF4\x8F\xBA", "\xF4\x8F\xBB", "\xE4\xB8", "\xED\xBF", "\xF0\x9F\x98", "/"};
    for (int round = 0; round < 20000; ++round) {
        std::string bytes;
        for (int n = length(random); n > 0; --n) {
            if (byte(random) < 40)
                bytes += pieces[std::size_t(byte(random)) % std::size(pieces)];
            else
                bytes.push_back(static_cast<char>(byte(random)));
        }
        const std::string stored = fromFileSystem(bytes);
        ASSERT_TRUE(text::isValidUtf8(stored)) << round;
        ASSERT_EQ(toFileSystem(stored), bytes) << round;
        ASSERT_TRUE(text::isValidUtf8(displayForm(stored))) << round;
        ASSERT_EQ(displayForm(stored).find("\xF4\x8F\xBA"), std::string::npos) << round;
        ASSERT_EQ(displayForm(stored).find("\xF4\x8F\xBB"), std::string::npos) << round;
    }
}

} // namespace
} // namespace pallix
