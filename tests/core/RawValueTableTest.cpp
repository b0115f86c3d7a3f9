#include "core/RawValueTable.h"

#include <gtest/gtest.h>

namespace harkwell {
namespace {

enum Colour { red, green, blue };
constexpr RawValueTable<Colour, 3> colours{{{red, "red"}, {green, "green"}, {blue, "blue-green"}}};

// Both directions work at compile time, as the enumerations' own constexpr conversions need.
static_assert(colours.value("blue-green") == blue);
static_assert(colours.rawValue(green) == "green");

TEST(RawValueTableTest, FindsOnlyTheExactName) {
    const std::pair<std::string_view, std::optional<Colour>> cases[]{
        {"red", red},           {"green", green},         {"blue-green", blue},   {"blue", std::nullopt},
        {"Red", std::nullopt},  {" red", std::nullopt},   {"red ", std::nullopt}, {"", std::nullopt},
        {"gree", std::nullopt}, {"greens", std::nullopt},
    };
    for (const auto& [raw, expected] : cases) {
        EXPECT_EQ(colours.value(raw), expected) << raw;
    }
}

TEST(RawValueTableTest, EveryValueInOrderRoundTrips) {
    EXPECT_EQ(colours.values(), (std::array{red, green, blue}));
    for (const auto colour : colours.values()) {
        EXPECT_EQ(colours.value(colours.rawValue(colour)), colour);
    }
}

} // namespace
} // namespace harkwell
