#include "app/PopoverPlacement.h"

#include <gtest/gtest.h>

namespace harkwell {
namespace {

TEST(PopoverPlacementTest, HangsBelowTheIconOrAboveItAndStaysOnTheScreen) {
    const QSize size{420, 560};
    const QRect screen{0, 0, 1280, 800};
    const QRect belowTopPanel{0, 28, 1280, 772};
    // The icon's geometry, the pointer, the screen's free area, the pop-up's place.
    const std::vector<std::tuple<std::optional<QRect>, QPoint, QRect, QPoint>> cases{
        {QRect(600, 2, 24, 24), {}, belowTopPanel, {401, 28}},            // centred below a top panel
        {QRect(1250, 2, 24, 24), {}, belowTopPanel, {860, 28}},           // at the right end, kept on screen
        {QRect(1282, 2, 24, 24), {}, {1280, 28, 1920, 1052}, {1280, 28}}, // left end of a second screen
        {QRect(1250, 776, 24, 24), {}, {0, 0, 1280, 772}, {860, 212}},    // above a bottom panel
        {std::nullopt, {640, 10}, screen, {429, 18}},                     // no icon: below the pointer
        {std::nullopt, {640, 790}, screen, {429, 222}},                   // no icon, pointer low: above it
        {QRect(600, 2, 24, 24), {}, {0, 0, 1280, 500}, {401, 0}},         // screen too low: top-aligned
    };
    for (const auto& [icon, pointer, available, origin] : cases) {
        EXPECT_EQ(popoverOrigin(size, icon, pointer, available), origin) << origin.x() << "," << origin.y();
    }
}
} // namespace
} // namespace harkwell
