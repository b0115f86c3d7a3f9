#include "app/PopoverPlacement.h"

#include <gtest/gtest.h>

namespace harkwell {
namespace {

TEST(PopoverPlacementTest, HangsBelowTheIconOrAboveItAndStaysOnTheScreen) {
    const QSize size{420, 560};
    const QRect screen{0, 0, 1280, 800};
    const QRect belowTopPanel{0, 28, 1280, 772};
    struct Case {
        const char* name;
        std::optional<QRect> icon;
        QPoint pointer;
        QRect available;
        QPoint origin;
    };
    const std::vector<Case> cases{
        {"icon in a top panel: centred, below the panel", QRect(600, 2, 24, 24), {}, belowTopPanel, {401, 28}},
        {"icon at the right end, kept on screen", QRect(1250, 2, 24, 24), {}, belowTopPanel, {860, 28}},
        {"icon at the left end, kept on screen", QRect(2, 2, 24, 24), {}, belowTopPanel, {0, 28}},
        {"icon in a bottom panel, above it", QRect(1250, 776, 24, 24), {}, {0, 0, 1280, 772}, {860, 212}},
        {"no icon geometry, below the pointer", std::nullopt, {640, 10}, screen, {429, 18}},
        {"empty icon geometry, below the pointer", QRect(), {640, 10}, screen, {429, 18}},
        {"no icon geometry, pointer low: above it", std::nullopt, {640, 790}, screen, {429, 222}},
        {"second screen", QRect(2000, 2, 24, 24), {}, {1280, 28, 1920, 1052}, {1801, 28}},
        {"screen too low: top-aligned", QRect(600, 2, 24, 24), {}, {0, 0, 1280, 500}, {401, 0}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(popoverOrigin(size, c.icon, c.pointer, c.available), c.origin) << c.name;
    }
}

} // namespace
} // namespace harkwell
