#pragma once

#include "core/RawValueTable.h"

#include <array>
#include <optional>
#include <string_view>

namespace harkwell {

// What a call does to the media playing ("When someone calls"): pause the players, lower the
// sound server's playing streams to a quarter of their volume, or leave them. The raw value is
// what the settings store ("pause", "lower", "leave").
class MediaOnCall {
public:
    enum Value { pause, lower, leave };
    static constexpr RawValueTable<Value, 3> rawValues{{{pause, "pause"}, {lower, "lower"}, {leave, "leave"}}};

    constexpr MediaOnCall(Value value) : value_(value) {}
    constexpr operator Value() const { return value_; }

    // Exactly "pause", "lower" or "leave"; anything else, or nothing, is pause.
    static constexpr MediaOnCall fromRawValue(std::optional<std::string_view> raw) {
        return raw ? rawValues.value(*raw).value_or(pause) : pause;
    }
    constexpr std::string_view rawValue() const { return rawValues.rawValue(value_); }

private:
    Value value_;
};

// Every choice, in the order the panel offers them.
inline constexpr std::array<MediaOnCall, 3> mediaOnCallChoices{MediaOnCall::pause, MediaOnCall::lower,
                                                               MediaOnCall::leave};

} // namespace harkwell
