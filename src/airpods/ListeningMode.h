#pragma once

#include <optional>
#include <string_view>

namespace harkwell {

// The AirPods noise-control setting. The raw value is what is stored in the settings and
// what the helper receives to set a mode.
class ListeningMode {
public:
    enum Value { normal, anc, transparency };

    constexpr ListeningMode(Value value) : value_(value) {}
    constexpr operator Value() const { return value_; }

    // Exactly "normal", "anc" or "transparency"; no case folding.
    static std::optional<ListeningMode> fromRawValue(std::string_view raw);
    std::string_view rawValue() const;

    // Reads the mode out of the helper's output: the last line that is, as a whole and
    // ignoring case and surrounding white space, a mode word ("off", "noise", "transparent"...).
    static std::optional<ListeningMode> fromHelperOutput(std::string_view output);

private:
    Value value_;
};

} // namespace harkwell
