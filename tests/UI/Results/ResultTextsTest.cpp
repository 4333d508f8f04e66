#include "UI/Results/ResultTexts.h"

#include <gtest/gtest.h>

#include "App/ModelTestSupport.h"

namespace pallix {
namespace {

using testing_support::fileItem;

TEST(ResultTexts, FileSizesInDecimalUnits)
{
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0 字节"},          {999, "999 字节"},       {1000, "1 KB"},        {12'345, "12 KB"},
        {999'499, "999 KB"},    {999'500, "1 MB"},       {1'234'567, "1.2 MB"}, {1'000'000, "1 MB"},
        {45'678'901, "45.7 MB"}, {3'456'789'012, "3.46 GB"}, {2'000'000'000, "2 GB"},
        {5'100'000'000'000, "5.1 TB"}};
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(ResultTexts::fileSizeText(bytes), QString::fromUtf8(text)) << bytes;
}

TEST(ResultTexts, RowAndCardTexts)
{
    // 2023-11-14 22:13:20 UTC is the 15th at 06:13 in Shanghai (the tests' zone).
    EXPECT_EQ(ResultTexts::modifiedDateText(1'700'000'000.0), "2023/11/15 06:13");

    const IndexedItem folder = fileItem("/Users/a/Pics", true);
    const IndexedItem png = fileItem("/Users/a/Pics/x.png");
    const IndexedItem bare = fileItem("/Users/a/README");
    EXPECT_EQ(ResultTexts::sizeColumnText(folder), "");
    EXPECT_EQ(ResultTexts::sizeColumnText(png), "1 字节");
    EXPECT_EQ(ResultTexts::hoverHelpText(folder), "/Users/a/Pics\n大小：文件夹");
    EXPECT_EQ(ResultTexts::hoverHelpText(png), "/Users/a/Pics/x.png\n大小：1 字节");
    // The tooltip's path reads in its stored order: its line break is the size's alone.
    EXPECT_EQ(ResultTexts::hoverHelpText(fileItem("/Users/a/b\nc/x\u202Etxt.exe")),
              QStringLiteral("/Users/a/b⟨LF⟩c/x⟨RLO⟩txt.exe\n大小：1 字节"));
    EXPECT_EQ(ResultTexts::rowTypeDescription(folder, true), "文件夹（含视频）");
    EXPECT_EQ(ResultTexts::rowTypeDescription(folder, false), "文件夹");
    EXPECT_EQ(ResultTexts::rowTypeDescription(png, true), "图片");
    EXPECT_EQ(ResultTexts::gridSubtitle(png, false), ".png");
    EXPECT_EQ(ResultTexts::gridSubtitle(bare, false), "文件");
    EXPECT_EQ(ResultTexts::gridSubtitle(folder, true), "文件夹 · 含视频");
    EXPECT_EQ(ResultTexts::gridSubtitle(folder, false), "文件夹");
}

} // namespace
} // namespace pallix
