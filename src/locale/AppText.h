#pragma once

// The language this build was made for and the texts chosen by it. The language type itself,
// AppLocale, has its one home in matching (matching/AppLocale.h), which depends on ICU alone.

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
