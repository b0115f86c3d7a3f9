#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

namespace harkwell {

// The names an enumeration's values are stored, logged and exchanged under ("anc", "medium",
// "en-US"): one entry a value, in the enumeration's order, which making the table checks at
// compile time. Header only and the standard library alone, so that the pure libraries (matching)
// use it without linking core.
template <typename Value, std::size_t count>
class RawValueTable {
public:
    using Entry = std::pair<Value, std::string_view>;

    consteval RawValueTable(const Entry (&entries)[count]) {
        for (std::size_t i = 0; i < count; ++i) {
            if (static_cast<std::size_t>(entries[i].first) != i) {
                throw "the entries must follow the enumeration's order, one a value";
            }
            entries_[i] = entries[i];
        }
    }

    // The value named exactly `raw`: no case folding, no trimming.
    constexpr std::optional<Value> value(std::string_view raw) const {
        for (const auto& [value, name] : entries_) {
            if (name == raw) {
                return value;
            }
        }
        return std::nullopt;
    }

    constexpr std::string_view rawValue(Value value) const {
        return entries_.at(static_cast<std::size_t>(value)).second;
    }

    // Every value, in the enumeration's order.
    constexpr std::array<Value, count> values() const {
        std::array<Value, count> values{};
        for (std::size_t i = 0; i < count; ++i) {
            values[i] = entries_[i].first;
        }
        return values;
    }

private:
    std::array<Entry, count> entries_{};
};

} // namespace harkwell
