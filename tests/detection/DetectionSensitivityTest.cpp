#include "detection/DetectionSensitivity.h"

#include <gtest/gtest.h>

namespace harkwell {
namespace {

TEST(DetectionSensitivityTest, ReadsItsRawValuesAndTakesAnythingElseForMedium) {
    const std::pair<std::string_view, DetectionSensitivity> cases[]{
        {"low", DetectionSensitivity::low},     {"medium", DetectionSensitivity::medium},
        {"high", DetectionSensitivity::high},   {"", DetectionSensitivity::medium},
        {"High", DetectionSensitivity::medium}, {"loud", DetectionSensitivity::medium},
        {" low", DetectionSensitivity::medium},
    };
    EXPECT_EQ(DetectionSensitivity::fromRawValue(std::nullopt), DetectionSensitivity::medium);
    for (const auto& [raw, expected] : cases) {
        EXPECT_EQ(DetectionSensitivity::fromRawValue(raw), expected) << raw;
    }
    for (const auto sensitivity : detectionSensitivities) {
        EXPECT_EQ(DetectionSensitivity::fromRawValue(sensitivity.rawValue()), sensitivity);
    }
}

} // namespace
} // namespace harkwell
