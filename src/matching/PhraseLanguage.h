#pragma once

#include "matching/AppLocale.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace harkwell {

// The language a call phrase is listened for in, by its letters: a phrase with Hangul in it is
// Korean ("민수", "James님"), one in Latin letters or digits alone is English ("James", "Dr. Kim",
// "José", "007"). Nothing for a phrase with letters or digits of another script ("Иван", "王",
// Arabic-Indic digits) or without letters and digits: no recogniser here can hear it.
std::optional<AppLocale> listeningLanguageOf(std::string_view phrase);

// The phrases listened for in the language, in their order.
std::vector<std::string> phrasesHeardIn(const std::vector<std::string>& phrases, AppLocale language);

// The languages the phrases are listened for in: English first, then Korean, each once.
std::vector<AppLocale> listeningLanguagesOf(const std::vector<std::string>& phrases);

} // namespace harkwell
