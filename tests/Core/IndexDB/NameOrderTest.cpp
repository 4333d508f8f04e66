#include "Core/IndexDB/NameOrder.h"

#include <gtest/gtest.h>

#include "Core/Search/ResultCollation.h"

namespace pallix {
namespace {

TextList listOf(const std::vector<std::string>& names)
{
    TextList list;
    for (const std::string& n : names)
        list.append(n);
    return list;
}

int sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }
int compareOrders(std::uint32_t a, std::uint32_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

TEST(NameOrder, OrdinalsCompareAsTheResultOrderComparesNames)
{
    // Case twins, accents, ignorable and ordered punctuation, digits that sort
    // as text, ideographs, keys that share long heads, and the empty name.
    const std::vector<std::string> names = {
        "apple",       "Apple",        "APPLE",        "banana",       "Banana.txt",   "café",
        "cafe",        "CAFÉ",         "cafè",         "a-b",          "a_b",          "ab",
        "a b",         "a.b",          "file10",       "file2",        "file1",        "报告",
        "北京",        "中文",         "阿",           "报告 2024",    "IMG_0001.jpg", "img_0001.JPG",
        "img_0002.jpg","aaaaaaaaaaaaaaaaaaaab", "aaaaaaaaaaaaaaaaaaaac", "aaaaaaaaaaaaaaaaaaaa", "",
        "Ω",           "ω",            "日本語.txt",   "x",            "X",            "#tag",
    };
    const std::optional<std::vector<std::uint32_t>> orders = nameOrdersOf(listOf(names), 1, [] { return true; });
    ASSERT_TRUE(orders);
    ASSERT_EQ(orders->size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_GE((*orders)[i], 1u) << "0 means unknown";
        for (std::size_t j = 0; j < names.size(); ++j) {
            SCOPED_TRACE(names[i] + " vs " + names[j]);
            EXPECT_EQ(compareOrders((*orders)[i], (*orders)[j]), sign(compareResultText(names[i], names[j])));
        }
    }
}

TEST(NameOrder, ManyNamesOnSeveralThreadsGetTheSameOrdinals)
{
    // Enough names for the keys to be made on several threads.
    std::vector<std::string> names;
    const char* words[] = {"Report", "report", "报告", "Café", "cafe", "IMG_", "notes-", "z"};
    for (int i = 0; i < 140000; ++i)
        names.push_back(std::string(words[i % 8]) + std::to_string((i * 7919) % 5003));
    const TextList list = listOf(names);
    const auto single = nameOrdersOf(list, 1, [] { return true; });
    const auto several = nameOrdersOf(list, 4, [] { return true; });
    ASSERT_TRUE(single && several);
    EXPECT_EQ(*single, *several);
    // Spot checks against the texts themselves.
    for (std::size_t i = 0; i + 1 < names.size(); i += 997) {
        SCOPED_TRACE(names[i] + " vs " + names[i + 1]);
        EXPECT_EQ(compareOrders((*single)[i], (*single)[i + 1]), sign(compareResultText(names[i], names[i + 1])));
    }
}

TEST(NameOrder, StoppedWorkGivesNothing)
{
    EXPECT_FALSE(nameOrdersOf(listOf({"a", "b"}), 1, [] { return false; }));
    const std::optional<std::vector<std::uint32_t>> none = nameOrdersOf(TextList(), 1, [] { return true; });
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
}

} // namespace
} // namespace pallix
