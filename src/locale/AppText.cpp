#include "locale/AppText.h"

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

AppLocale currentAppLocale() {
    const auto value = appMetadataValue("HarkwellLocale");
    return value && *value == "en-US" ? AppLocale::english : AppLocale::korean;
}

std::string appText(std::string_view korean, std::string_view english) {
    return std::string(currentAppLocale() == AppLocale::english ? english : korean);
}

QString uiText(std::string_view korean, std::string_view english) {
    return QString::fromStdString(appText(korean, english));
}

} // namespace harkwell
