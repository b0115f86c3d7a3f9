#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace harkwell {

// The interface language, which also selects the speech-recognition language.
class AppLocale {
public:
    enum Value { korean, english };

    constexpr AppLocale(Value value) : value_(value) {}
    constexpr operator Value() const { return value_; }

    // Accepts exactly "ko-KR" and "en-US".
    static std::optional<AppLocale> fromRawValue(std::string_view raw);
    std::string_view rawValue() const;

    // The language this build was made for: English only when the application metadata
    // "HarkwellLocale" is exactly "en-US", Korean otherwise. Looked up on every call.
    static AppLocale current();

private:
    Value value_;
};

// Chooses the text of the current interface language; Korean comes first at every call site.
std::string appText(std::string_view korean, std::string_view english);

} // namespace harkwell
