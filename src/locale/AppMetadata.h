#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace harkwell {

// The application's metadata, fixed when it is built (for example "HarkwellLocale").
const std::map<std::string, std::string, std::less<>>& builtInAppMetadata();

// Looks a key up in the application's metadata; nothing is cached.
std::optional<std::string> appMetadataValue(std::string_view key);

// Test seam: while set, lookups go to `lookup` instead of the built-in metadata.
using AppMetadataLookup = std::function<std::optional<std::string>(std::string_view key)>;
void setAppMetadataLookupForTesting(AppMetadataLookup lookup);

} // namespace harkwell
