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
    for (const auto& [raw, expected] : cases) {
        EXPECT_EQ(detectionSensitivity(raw), expected) << raw;
    }
    for (const auto sensitivity : detectionSensitivities) {
        EXPECT_EQ(detectionSensitivity(rawValue(sensitivity)), sensitivity);
    }
}

} // namespace
} // namespace harkwell
