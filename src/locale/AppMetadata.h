#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace harkwell {

// The application's metadata, fixed when it is built (for example "HarkwellLocale").
const std::map<std::string, std::string, std::less<>>& builtInAppMetadata();

// Looks a key up in the application's metadata.
std::optional<std::string> appMetadataValue(std::string_view key);

} // namespace harkwell
