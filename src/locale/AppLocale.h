#pragma once

// The locale library's view of the application's language: the type itself lives with matching,
// which must not depend on anything but ICU; here is the language this build was made for and
// the texts chosen by it.

#include "matching/AppLocale.h"

#include <QString>

#include <string>
#include <string_view>

namespace harkwell {

// The language this build was made for: English only when the application metadata
// "HarkwellLocale" is exactly "en-US", Korean otherwise. Looked up on every call.
AppLocale currentAppLocale();

// Chooses the text of the current interface language; Korean comes first at every call site.
std::string appText(std::string_view korean, std::string_view english);
// The same choice, for text shown through Qt.
QString uiText(std::string_view korean, std::string_view english);

} // namespace harkwell
