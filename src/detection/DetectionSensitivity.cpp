#include "detection/DetectionSensitivity.h"

namespace harkwell {

DetectionSensitivity DetectionSensitivity::fromRawValue(std::optional<std::string_view> raw) {
    if (raw == "low") {
        return low;
    }
    if (raw == "high") {
        return high;
    }
    return medium;
}

std::string_view DetectionSensitivity::rawValue() const {
    switch (value_) {
    case low:
        return "low";
    case medium:
        return "medium";
    case high:
        return "high";
    }
    return "medium";
}

} // namespace harkwell
