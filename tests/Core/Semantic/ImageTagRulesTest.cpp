#include "Core/Semantic/ImageTagRules.h"

#include <algorithm>
#include <set>

#include <gtest/gtest.h>

namespace pallix::imagetags {
namespace {

using Tags = std::vector<std::string>;

TEST(ImageTagRules, TranslationTableHas94WordsWithSharedChineseTags)
{
    const auto& table = englishToChinese();
    EXPECT_EQ(table.size(), 94u);
    EXPECT_EQ(table.at("mug"), "杯子");
    EXPECT_EQ(table.at("cup"), "杯子");
    EXPECT_EQ(table.at("drawing"), "画");
    EXPECT_EQ(table.at("portrait"), "人物");
    EXPECT_EQ(table.at("drum"), "鼓");
    EXPECT_EQ(table.count("candle"), 0u);
}

TEST(ImageTagRules, LeafIdentifiersOfHierarchies)
{
    struct Case {
        const char* identifier;
        Tags expected;
    };
    for (const Case& c : {Case{"animal/cat", {"animal/cat", "animal", "cat"}}, Case{"cat", {"cat"}},
                          Case{" / ", {"/"}}, Case{"  \n", {}}, Case{"a//B /a", {"a//B /a", "a", "b"}}}) {
        SCOPED_TRACE(c.identifier);
        EXPECT_EQ(leafIdentifiers(c.identifier), c.expected);
    }
}

TEST(ImageTagRules, ClassificationsAboveTheConfidenceFloorGiveLeavesAndChineseWords)
{
    EXPECT_EQ(classificationTags({{"Animal/Cat", 0.9f}, {"dog", 0.079f}, {"cup", 0.08f}}),
              (Tags{"animal/cat", "animal", "cat", "猫", "cup", "杯子"}));
    std::vector<Classification> many(40, Classification{"x", 0.5f});
    many[34] = {"bird", 0.99f};  // the 35th result is not looked at
    const Tags tags = classificationTags(many);
    EXPECT_EQ(std::count(tags.begin(), tags.end(), "bird"), 0);
    EXPECT_EQ(tags.size(), 34u);
}

TEST(ImageTagRules, ColourOfTheAveragePixel)
{
    struct Case {
        int r, g, b;
        const char* chinese;
        const char* english;
    };
    for (const Case& c : {
             Case{0, 0, 0, "黑色", "dark"},        Case{255, 255, 255, "白色", "white"},
             Case{128, 128, 128, "灰色", "gray"},  Case{255, 0, 0, "红色", "red"},
             Case{0, 255, 0, "绿色", "green"},     Case{0, 0, 255, "蓝色", "blue"},
             Case{255, 0, 255, "紫色", "purple"},  Case{255, 0, 128, "粉色", "pink"},
             Case{38, 0, 38, "黑色", "dark"},      // v = 0.149: dark whatever the hue
             Case{255, 128, 0, "橙色", "orange"},  Case{255, 255, 0, "黄色", "yellow"},
             Case{0, 255, 255, "青色", "cyan"},    Case{255, 0, 40, "红色", "red"},  // hue ~350
             Case{230, 220, 220, "白色", "white"},  // s < 0.18, v > 0.88
         }) {
        SCOPED_TRACE(std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b));
        const auto [chinese, english] = colourTags(c.r, c.g, c.b);
        EXPECT_EQ(chinese, c.chinese);
        EXPECT_EQ(english, c.english);
    }
}

TEST(ImageTagRules, RecognisedLinesBecomeFoldedOcrTags)
{
    EXPECT_EQ(recognisedTextTags({"  SALE 50%\n", "x", std::string(41, 'a'), std::string(40, 'b'), "Café", "红色促销"}),
              (Tags{"ocr:sale 50%", "ocr:" + std::string(40, 'b'), "ocr:cafe", "ocr:红色促销"}));
    // Case and diacritics fold; full-width letters and digits keep their width.
    EXPECT_EQ(recognisedTextTags({"ＳＡＬＥ５０", "Ｃａｆé ｸﾞﾗｽ"}), (Tags{"ocr:ｓａｌｅ５０", "ocr:ｃａｆe ｸﾞﾗｽ"}));
    // Graphemes, not bytes or code points: "e" with a combining accent is one.
    EXPECT_TRUE(recognisedTextTags({"e\u0301"}).empty());
    Tags lines;
    for (int i = 0; i < 13; ++i)
        lines.push_back("line" + std::to_string(i));
    const Tags tags = recognisedTextTags(lines);
    ASSERT_EQ(tags.size(), 12u);
    EXPECT_EQ(tags.back(), "ocr:line11");
}

} // namespace
} // namespace pallix::imagetags
