#pragma once

#include <array>
#include <string_view>

namespace harkwell {

// How readily a call is heard: High hears the most calls, Low raises the fewest false calls.
// Stored by its raw value.
enum class DetectionSensitivity { low, medium, high };

inline constexpr std::array<DetectionSensitivity, 3> detectionSensitivities{
    DetectionSensitivity::low, DetectionSensitivity::medium, DetectionSensitivity::high};

// "low", "medium" or "high".
constexpr std::string_view rawValue(DetectionSensitivity sensitivity) {
    switch (sensitivity) {
    case DetectionSensitivity::low:
        return "low";
    case DetectionSensitivity::high:
        return "high";
    case DetectionSensitivity::medium:
        break;
    }
    return "medium";
}

// The level a raw value names; anything else (absent, empty, unknown, another case) is medium.
constexpr DetectionSensitivity detectionSensitivity(std::string_view raw) {
    for (const auto sensitivity : detectionSensitivities) {
        if (raw == rawValue(sensitivity)) {
            return sensitivity;
        }
    }
    return DetectionSensitivity::medium;
}

} // namespace harkwell
