#pragma once

#include "core/RawValueTable.h"

#include <optional>
#include <string_view>

namespace harkwell {

// The AirPods noise-control setting. The raw value is what is stored in the settings and
// what the helper receives to set a mode.
class ListeningMode {
public:
    enum Value { normal, anc, transparency };
    static constexpr RawValueTable<Value, 3> rawValues{
        {{normal, "normal"}, {anc, "anc"}, {transparency, "transparency"}}};

    constexpr ListeningMode(Value value) : value_(value) {}
    constexpr operator Value() const { return value_; }

    // Exactly "normal", "anc" or "transparency"; no case folding.
    static constexpr std::optional<ListeningMode> fromRawValue(std::string_view raw) { return rawValues.value(raw); }
    constexpr std::string_view rawValue() const { return rawValues.rawValue(value_); }

    // Reads the mode out of the helper's output: the last line that is, as a whole and
    // ignoring case and surrounding white space, a mode word ("off", "noise", "transparent"...).
    static std::optional<ListeningMode> fromHelperOutput(std::string_view output);

private:
    Value value_;
};

} // namespace harkwell
