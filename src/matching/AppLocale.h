#pragma once

#include "core/RawValueTable.h"

#include <optional>
#include <string_view>

namespace harkwell {

// The application's language: it chooses the interface texts, the speech recogniser and the
// matching policy. Subsystems pass it as this type; its raw value ("ko-KR", "en-US") is what
// messages, the build's metadata and the detection benchmark's manifest hold. The language the
// interface speaks is currentAppLocale() (locale/AppLanguage.h).
class AppLocale {
public:
    enum Value { korean, english };
    static constexpr RawValueTable<Value, 2> rawValues{{{korean, "ko-KR"}, {english, "en-US"}}};

    constexpr AppLocale(Value value) : value_(value) {}
    constexpr operator Value() const { return value_; }

    // Accepts exactly "ko-KR" and "en-US".
    static constexpr std::optional<AppLocale> fromRawValue(std::string_view raw) { return rawValues.value(raw); }
    constexpr std::string_view rawValue() const { return rawValues.rawValue(value_); }

private:
    Value value_;
};

} // namespace harkwell
