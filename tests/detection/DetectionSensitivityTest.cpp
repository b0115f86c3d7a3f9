#include "detection/DetectionSensitivity.h"

#include <gtest/gtest.h>

namespace harkwell {
namespace {

// The stored names, and medium for anything else or nothing (that names match exactly is
// RawValueTable's).
TEST(DetectionSensitivityTest, ReadsItsRawValuesAndTakesAnythingElseForMedium) {
    const std::pair<std::optional<std::string_view>, DetectionSensitivity> cases[]{
        {"low", DetectionSensitivity::low},   {"medium", DetectionSensitivity::medium},
        {"high", DetectionSensitivity::high}, {"loud", DetectionSensitivity::medium},
        {"", DetectionSensitivity::medium},   {std::nullopt, DetectionSensitivity::medium},
    };
    for (const auto& [raw, expected] : cases) {
        EXPECT_EQ(DetectionSensitivity::fromRawValue(raw), expected) << raw.value_or("nothing");
    }
    for (const auto sensitivity : detectionSensitivities) {
        EXPECT_EQ(DetectionSensitivity::fromRawValue(sensitivity.rawValue()), sensitivity);
    }
}

} // namespace
} // namespace harkwell
