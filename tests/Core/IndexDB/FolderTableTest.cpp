#include "Core/IndexDB/FolderTable.h"

#include <random>

#include <gtest/gtest.h>

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
