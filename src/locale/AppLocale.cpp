#include "locale/AppLocale.h"

#include "locale/AppMetadata.h"

#include <mutex>

namespace harkwell {

namespace {

std::mutex& lookupMutex() {
    static std::mutex mutex;
    return mutex;
}

AppMetadataLookup& lookupOverride() {
    static AppMetadataLookup lookup;
    return lookup;
}

} // namespace

std::optional<std::string> appMetadataValue(std::string_view key) {
    {
        std::lock_guard lock(lookupMutex());
        if (lookupOverride()) {
            return lookupOverride()(key);
        }
    }
    const auto& metadata = builtInAppMetadata();
    if (auto it = metadata.find(key); it != metadata.end()) {
        return it->second;
    }
    return std::nullopt;
}

void setAppMetadataLookupForTesting(AppMetadataLookup lookup) {
    std::lock_guard lock(lookupMutex());
    lookupOverride() = std::move(lookup);
}

std::optional<AppLocale> AppLocale::fromRawValue(std::string_view raw) {
    if (raw == "ko-KR") {
        return AppLocale::korean;
    }
    if (raw == "en-US") {
        return AppLocale::english;
    }
    return std::nullopt;
}

std::string_view AppLocale::rawValue() const { return value_ == english ? "en-US" : "ko-KR"; }

AppLocale AppLocale::current() {
    const auto value = appMetadataValue("HarkwellLocale");
    return value && *value == "en-US" ? AppLocale::english : AppLocale::korean;
}

std::string appText(std::string_view korean, std::string_view english) {
    return std::string(AppLocale::current() == AppLocale::english ? english : korean);
}

} // namespace harkwell
