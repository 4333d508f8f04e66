#include <gtest/gtest.h>

#include "Core/HotKey/HotKey.h"

namespace pallix {
namespace {

TEST(GlobalHotKey, DisplayStringOrdersModifiersAndNamesTheKey)
{
    constexpr std::uint32_t C = GlobalHotKey::kCommand, S = GlobalHotKey::kShift, O = GlobalHotKey::kOption,
                            Ct = GlobalHotKey::kControl;
    struct Case {
        std::uint32_t keyCode;
        std::uint32_t modifiers;
        const char* expected;
    };
    const Case cases[] = {
        // Modifier order is fixed, whatever the bits.
        {49, O, "⌥Space"},
        {3, Ct | O | S | C, "⌃⌥⇧⌘F"},
        {0, C | S, "⇧⌘A"},
        {24, Ct, "⌃Key24"},
        {50, C, "⌘Key50"},
        // No modifier is legal; unknown bits are ignored.
        {0, 0, "A"},
        {0, 0x1 | 0x400 | 0x80000000u, "A"},
        // Named keys win over the character table.
        {123, 0, "←"},
        {126, 0, "↑"},
        {36, 0, "Return"},  // named before the table, which has no character for it
        // Digits and letters at the table's edges.
        {29, 0, "0"},
        {22, 0, "6"},
        {45, 0, "N"},
        {46, 0, "M"},
        // Holes of the table, and codes beyond it.
        {10, 0, "Key10"},
        {30, 0, "Key30"},
        {44, 0, "Key44"},
        {47, 0, "Key47"},
        {122, 0, "Key122"},
        {4294967295u, S, "⇧Key4294967295"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "key " << c.keyCode << " modifiers " << c.modifiers);
        EXPECT_EQ(GlobalHotKey({c.keyCode, c.modifiers}).displayString(), c.expected);
    }
}

TEST(GlobalHotKey, EncodesKeyCodeBeforeModifiers)
{
    EXPECT_EQ(GlobalHotKey::optionSpace().toJson().dump(), R"({"keyCode":49,"carbonModifiers":2048})");
    const GlobalHotKey big{4294967295u, 4294967295u};
    EXPECT_EQ(GlobalHotKey::fromJson(nlohmann::json::parse(big.toJson().dump())), big);
}

TEST(GlobalHotKey, DecodingIsTypeStrict)
{
    struct Case {
        const char* json;
        std::optional<GlobalHotKey> expected;
    };
    const Case cases[] = {
        {R"({"keyCode":49,"carbonModifiers":2048})", GlobalHotKey{49, 2048}},
        {R"({"carbonModifiers":0,"keyCode":0})", GlobalHotKey{0, 0}},
        {R"({"keyCode":4294967295,"carbonModifiers":256})", GlobalHotKey{4294967295u, 256}},
        {R"({"keyCode":49.0,"carbonModifiers":2048})", GlobalHotKey{49, 2048}},
        {R"({"keyCode":49})", std::nullopt},
        {R"({"carbonModifiers":2048})", std::nullopt},
        {R"({"keyCode":null,"carbonModifiers":2048})", std::nullopt},
        {R"({"keyCode":-1,"carbonModifiers":2048})", std::nullopt},
        {R"({"keyCode":4294967296,"carbonModifiers":2048})", std::nullopt},
        {R"({"keyCode":49.5,"carbonModifiers":2048})", std::nullopt},
        {R"({"keyCode":true,"carbonModifiers":2048})", std::nullopt},
        {R"({"keyCode":"49","carbonModifiers":2048})", std::nullopt},
        {R"({"keyCode":49,"carbonModifiers":1e300})", std::nullopt},
        {R"([49,2048])", std::nullopt},
        {R"(null)", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        EXPECT_EQ(GlobalHotKey::fromJson(nlohmann::json::parse(c.json)), c.expected);
    }
}

} // namespace
} // namespace pallix
