#pragma once

#include "core/RawValueTable.h"

#include <array>
#include <optional>
#include <string_view>

namespace harkwell {

// How readily listening takes what it hears for a call: high hears the most calls, low raises
// the fewest false ones. The raw value is what the settings store ("low", "medium", "high").
class DetectionSensitivity {
public:
    enum Value { low, medium, high };
    static constexpr RawValueTable<Value, 3> rawValues{{{low, "low"}, {medium, "medium"}, {high, "high"}}};

    constexpr DetectionSensitivity(Value value) : value_(value) {}
    constexpr operator Value() const { return value_; }

    // Exactly "low", "medium" or "high"; anything else, or nothing, is medium.
    static constexpr DetectionSensitivity fromRawValue(std::optional<std::string_view> raw) {
        return raw ? rawValues.value(*raw).value_or(medium) : medium;
    }
    constexpr std::string_view rawValue() const { return rawValues.rawValue(value_); }

private:
    Value value_;
};

// Every level, from low to high.
inline constexpr std::array<DetectionSensitivity, 3> detectionSensitivities{
    DetectionSensitivity::low, DetectionSensitivity::medium, DetectionSensitivity::high};

} // namespace harkwell
