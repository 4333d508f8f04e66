#include "Core/Semantic/ImageTagRules.h"

#include <algorithm>
#include <unordered_set>

#include "Core/IndexDB/IndexSql.h"
#include "Core/Semantic/ImageSemanticStore.h"
#include "Platform/Text.h"

namespace pallix::imagetags {

namespace {

constexpr std::size_t kMaxClassifications = 34;
constexpr float kMinConfidence = 0.08f;
constexpr std::size_t kMaxTextLines = 12;
constexpr std::size_t kMinTextGraphemes = 2;
constexpr std::size_t kMaxTextGraphemes = 40;

struct ColourRule {
    double hueBelow;  // the rule holds for hues under this bound (after the ones before it)
    const char* chinese;
    const char* english;
};

// Hue bands in order; [345, 360) is red again, the rest of [310, 345) pink.
constexpr ColourRule kHueBands[] = {
    {18, "红色", "red"},     {45, "橙色", "orange"}, {70, "黄色", "yellow"}, {160, "绿色", "green"},
    {200, "青色", "cyan"},   {260, "蓝色", "blue"},  {310, "紫色", "purple"}, {345, "粉色", "pink"},
    {361, "红色", "red"},
};

} // namespace

const std::unordered_map<std::string, std::string>& englishToChinese()
{
    static const std::unordered_map<std::string, std::string> table{
    {"cup", "杯子"}, {"mug", "杯子"}, {"coffee", "咖啡"}, {"tea", "茶"}, {"flower", "花"}, {"plant", "植物"}, {"tree", "树"},
    {"grass", "草"}, {"leaf", "叶子"}, {"leaves", "叶子"}, {"cat", "猫"}, {"dog", "狗"}, {"bird", "鸟"}, {"horse", "马"},
    {"cow", "牛"}, {"sheep", "羊"}, {"pig", "猪"}, {"rabbit", "兔子"}, {"mouse", "老鼠"}, {"bear", "熊"}, {"elephant", "大象"},
    {"tiger", "老虎"}, {"lion", "狮子"}, {"monkey", "猴子"}, {"fish", "鱼"}, {"food", "食物"}, {"fruit", "水果"},
    {"vegetable", "蔬菜"}, {"bread", "面包"}, {"cake", "蛋糕"}, {"dessert", "甜点"}, {"bottle", "瓶子"}, {"glass", "玻璃杯"},
    {"wine", "酒"}, {"beer", "啤酒"}, {"car", "汽车"}, {"bicycle", "自行车"}, {"motorcycle", "摩托车"}, {"bus", "公交车"},
    {"train", "火车"}, {"airplane", "飞机"}, {"boat", "船"}, {"book", "书"}, {"painting", "画"}, {"art", "画"},
    {"drawing", "画"}, {"sculpture", "雕塑"}, {"person", "人物"}, {"people", "人物"}, {"portrait", "人物"}, {"baby", "婴儿"},
    {"child", "儿童"}, {"man", "男人"}, {"woman", "女人"}, {"sky", "天空"}, {"cloud", "云"}, {"sun", "太阳"}, {"moon", "月亮"},
    {"star", "星星"}, {"rain", "雨"}, {"snow", "雪"}, {"mountain", "山"}, {"ocean", "海"}, {"lake", "湖"}, {"river", "河"},
    {"beach", "海滩"}, {"sand", "沙子"}, {"rock", "石头"}, {"building", "建筑"}, {"house", "房子"}, {"city", "城市"},
    {"road", "道路"}, {"bridge", "桥"}, {"furniture", "家具"}, {"chair", "椅子"}, {"table", "桌子"}, {"bed", "床"},
    {"sofa", "沙发"}, {"lamp", "灯"}, {"computer", "电脑"}, {"laptop", "笔记本"}, {"phone", "手机"}, {"camera", "相机"},
    {"watch", "手表"}, {"bag", "包"}, {"shoe", "鞋"}, {"hat", "帽子"}, {"glasses", "眼镜"}, {"toy", "玩具"}, {"ball", "球"},
    {"music", "音乐"}, {"guitar", "吉他"}, {"piano", "钢琴"}, {"drum", "鼓"},
    };
    return table;
}

bool isSystemImagePath(std::string_view path)
{
    static constexpr std::string_view kSystemRoots[] = {"/usr/", "/opt/", "/snap/", "/var/", "/etc/", "/boot/"};
    static constexpr std::string_view kIconThemes[] = {"/.icons/", "/.local/share/icons/"};
    for (const std::string_view root : kSystemRoots)
        if (path.starts_with(root))
            return true;
    for (const std::string_view themes : kIconThemes)
        if (path.find(themes) != std::string_view::npos)
            return true;
    return false;
}

std::vector<std::string> withoutRepeats(std::vector<std::string> tags)
{
    std::unordered_set<std::string> seen;
    std::erase_if(tags, [&](const std::string& tag) { return !seen.insert(tag).second; });
    return tags;
}

std::vector<std::string> leafIdentifiers(std::string_view identifier)
{
    const std::string_view trimmed = indexsql::trimmed(identifier);
    if (trimmed.empty())
        return {};
    std::vector<std::string> leaves{std::string(trimmed)};
    std::size_t start = 0;
    while (start <= trimmed.size()) {
        const std::size_t slash = std::min(trimmed.find('/', start), trimmed.size());
        if (std::string part = text::lower(indexsql::trimmed(trimmed.substr(start, slash - start))); !part.empty())
            leaves.push_back(std::move(part));
        start = slash + 1;
    }
    return withoutRepeats(std::move(leaves));
}

std::string labelTag(std::string_view label)
{
    std::string tag;
    for (const std::string& word : ImageSemanticStore::splitTags(label))
        tag += (tag.empty() ? "" : "_") + word;
    return tag;
}

std::vector<std::string> classificationTags(const std::vector<Classification>& results)
{
    const auto& chinese = englishToChinese();
    std::vector<std::string> tags;
    for (std::size_t i = 0; i < std::min(results.size(), kMaxClassifications); ++i) {
        if (!(results[i].confidence >= kMinConfidence))
            continue;
        for (const std::string& leaf : leafIdentifiers(text::lower(results[i].identifier))) {
            tags.push_back(labelTag(leaf));
            if (const auto found = chinese.find(leaf); found != chinese.end())
                tags.push_back(found->second);
        }
    }
    return tags;
}

std::pair<std::string, std::string> colourTags(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    const double r = red / 255.0, g = green / 255.0, b = blue / 255.0;
    const double v = std::max({r, g, b});
    const double d = v - std::min({r, g, b});
    const double s = v != 0 ? d / v : 0;
    if (v < 0.16)
        return {"黑色", "dark"};
    if (s < 0.18)
        return v > 0.88 ? std::pair<std::string, std::string>{"白色", "white"}
                        : std::pair<std::string, std::string>{"灰色", "gray"};
    double hue = 0;
    if (d != 0) {
        hue = v == r ? (g - b) / d : v == g ? (b - r) / d + 2 : (r - g) / d + 4;
        hue *= 60;
        if (hue < 0)
            hue += 360;
    }
    for (const ColourRule& band : kHueBands)
        if (hue < band.hueBelow)
            return {band.chinese, band.english};
    return {"红色", "red"};
}

std::vector<std::string> recognisedTextTags(const std::vector<std::string>& lines)
{
    std::vector<std::string> tags;
    for (std::size_t i = 0; i < std::min(lines.size(), kMaxTextLines); ++i) {
        const std::string_view line = indexsql::trimmed(lines[i]);
        const std::size_t graphemes = text::graphemeCount(line);
        if (graphemes < kMinTextGraphemes || graphemes > kMaxTextGraphemes)
            continue;
        tags.push_back("ocr:" + text::lower(text::foldCaseAndDiacritics(line)));
    }
    return tags;
}

} // namespace pallix::imagetags
