#pragma once

// The interface language: chosen once at start from the desktop's locale (or fixed by the build),
// and the Korean translations that speak it. The language type itself, AppLocale, has its one
// home in matching (matching/AppLocale.h), which depends on ICU alone.

#include "matching/AppLocale.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <string_view>

namespace harkwell {

// The language the build option and the desktop choose. A build that follows the desktop (the
// option "system", or none) speaks Korean when the first of the desktop's UI languages is Korean
// and English otherwise; a build fixed to one language speaks English only for exactly "en-US".
AppLocale chooseAppLocale(std::optional<std::string_view> buildLocale, const QStringList& uiLanguages);

// Chooses the language from this build's option and QLocale::system().uiLanguages() (which follow
// LANGUAGE, LC_ALL, LC_MESSAGES and LANG) and speaks it. Called once at start, after the
// QCoreApplication is made.
AppLocale useDesktopAppLocale();

// Speaks `locale` from now on: the texts through tr() come in it (the Korean translations are
// installed into the QCoreApplication, or removed), and so does everything currentAppLocale() decides.
void useAppLocale(AppLocale locale);

// The interface language: the one chosen at start, English until then. Any thread.
AppLocale currentAppLocale();

// The text `source` of `context` in `locale`, whichever language is spoken now.
QString translatedText(AppLocale locale, const char* context, const char* source, const char* disambiguation = nullptr);

} // namespace harkwell
