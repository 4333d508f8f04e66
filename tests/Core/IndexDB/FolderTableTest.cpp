#include "Core/IndexDB/FolderTable.h"

#include <random>

#include <gtest/gtest.h>

#include "Platform/Text.h"

namespace pallix {
namespace {

TEST(FolderTable, InternsEachPathOnceWithItsForms)
{
    FolderTable table;
    const std::uint32_t home = table.intern("/Home");
    const std::uint32_t docs = table.intern("/Home/Docs");
    EXPECT_EQ(table.intern("/Home"), home);
    EXPECT_EQ(table.find("/Home/Docs"), std::optional<std::uint32_t>(docs));
    EXPECT_FALSE(table.find("/home"));  // letter case counts
    EXPECT_EQ(table.size(), 2u);

    const FolderForms f = table.forms(docs);
    EXPECT_EQ(f.path, "/Home/Docs");
    EXPECT_EQ(f.comparable, "/home/docs");
    EXPECT_EQ(f.normalized, "homedocs");
    EXPECT_EQ(f.comparableCount, 10u);
    EXPECT_EQ(f.normalizedCount, 8u);
    EXPECT_TRUE(f.asciiPath);
    EXPECT_EQ(f.parent, home);
    EXPECT_EQ(table.forms(home).parent, ItemFacts::kNoFolder) << "no folder / was interned";

    const std::uint32_t cafe = table.intern("/Home/Cafe\xCC\x81");
    EXPECT_EQ(table.forms(cafe).comparable, "/home/caf\xC3\xA9");  // lower-cased NFC
    EXPECT_FALSE(table.forms(cafe).asciiPath);
}

TEST(FolderTable, FoldersTakenFromAnotherTableKeepTheirForms)
{
    FolderTable a, b;
    a.intern("/x");
    const std::uint32_t deep = a.intern("/x/Y z");
    b.intern("/x/Y z");
    const std::uint32_t copied = b.internFrom(a, deep);
    EXPECT_EQ(copied, 0u) << "already there";
    const std::uint32_t parent = b.internFrom(a, 0);
    EXPECT_EQ(b.forms(parent).path, "/x");
    EXPECT_EQ(b.forms(b.intern("/x/w")).parent, parent);
    EXPECT_EQ(b.forms(copied).normalized, a.forms(deep).normalized);
}

TEST(FolderTable, PathHashesJoin)
{
    std::mt19937 rng(1);
    for (int i = 0; i < 500; ++i) {
        std::string s;
        for (int n = int(rng() % 70); n > 0; --n)
            s += static_cast<char>(rng() % 256);
        const std::size_t cut = rng() % (s.size() + 1);
        EXPECT_EQ(PathHash::join(PathHash::of(s.substr(0, cut)), std::string_view(s).substr(cut)), PathHash::of(s));
    }
    EXPECT_NE(PathHash::of("/a/b"), PathHash::of("/a/c"));
}

// The flag the typing scan trusts instead of lower-casing a folder's path per
// search: generated paths mixing ASCII, composed and decomposed accents, case
// outside ASCII, final sigma, ideographs, Hangul jamo and fullwidth letters.
TEST(FolderTable, KnowsWhetherLowerCasingThePathGivesItsComparableForm)
{
    const std::vector<std::string> parts = {"Docs", "a b", "\xC3\x89t\xC3\xA9", "E\xCC\x81t\xC3\xA9", "e\xCC\x81",
                                            "\xCE\xA3\xCE\x9F\xCE\xA6\xCE\x99\xCE\x91", "\xCF\x83\xCE\xBF\xCF\x86",
                                            "\xC4\xB0stanbul", "\xE6\x96\x87\xE6\xA1\xA3", "\xD0\x9F\xD0\xA0\xD0\x9E",
                                            "\xD0\xBF\xD1\x80\xD0\xBE", "\xE1\x84\x80\xE1\x85\xA1", "\xEF\xBC\xB2",
                                            "\xC3\x9F", "\xC7\x85x", "A\xCC\x8A"};
    std::mt19937 rng(7);
    FolderTable table, copy;
    int withFlag = 0, withoutFlag = 0, nonAsciiWithFlag = 0;
    for (int i = 0; i < 400; ++i) {
        std::string path;
        for (int n = 1 + int(rng() % 4); n > 0; --n)
            path += "/" + parts[rng() % parts.size()];
        const std::uint32_t id = table.intern(path);
        const FolderForms f = table.forms(id);
        const bool lowersTo = text::lower(f.path) == f.comparable;
        ASSERT_EQ(f.lowersToComparable, lowersTo) << path;
        EXPECT_EQ(copy.forms(copy.internFrom(table, id)).lowersToComparable, lowersTo) << path;
        (lowersTo ? withFlag : withoutFlag) += 1;
        nonAsciiWithFlag += lowersTo && !f.asciiPath;
    }
    // Both answers met, and the flag set beyond ASCII: the case the scan gains on.
    EXPECT_GT(withoutFlag, 0);
    EXPECT_GT(nonAsciiWithFlag, 0);
    EXPECT_GT(withFlag, nonAsciiWithFlag);
}

TEST(FolderTable, ManyFoldersStayFindable)
{
    FolderTable table;
    for (int i = 0; i < 20000; ++i)
        table.intern("/vol/f" + std::to_string(i));
    for (int i = 0; i < 20000; i += 97)
        ASSERT_EQ(table.find("/vol/f" + std::to_string(i)), std::optional<std::uint32_t>(i));
    EXPECT_GT(table.memoryUsage(), 0u);
}

} // namespace
} // namespace pallix
