#include "matching/PhraseLanguage.h"

#include "matching/UnicodeText.h"

#include <unicode/uchar.h>
#include <unicode/uscript.h>

#include <algorithm>

namespace harkwell {

std::optional<AppLocale> listeningLanguageOf(std::string_view phrase) {
    bool hasHangul = false;
    bool hasLatinOrDigit = false;
    const auto text = unicode::fromUtf8(phrase);
    for (int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) {
        const UChar32 c = text.char32At(i);
        const bool isDigit = u_isdigit(c);
        if (!isDigit && !u_hasBinaryProperty(c, UCHAR_ALPHABETIC)) {
            continue;
        }
        UErrorCode status = U_ZERO_ERROR;
        const auto script = uscript_getScript(c, &status);
        if (script == USCRIPT_HANGUL) {
            hasHangul = true;
        } else if (script == USCRIPT_LATIN || (isDigit && script == USCRIPT_COMMON)) {
            hasLatinOrDigit = true; // digits of their own script (Arabic-Indic, Devanagari) are not read out
        } else if (script != USCRIPT_COMMON && script != USCRIPT_INHERITED) {
            return std::nullopt;
        }
    }
    if (hasHangul) {
        return AppLocale::korean;
    }
    if (hasLatinOrDigit) {
        return AppLocale::english;
    }
    return std::nullopt;
}

std::vector<std::string> phrasesHeardIn(const std::vector<std::string>& phrases, AppLocale language) {
    std::vector<std::string> heard;
    std::copy_if(phrases.begin(), phrases.end(), std::back_inserter(heard),
                 [language](const std::string& phrase) { return listeningLanguageOf(phrase) == language; });
    return heard;
}

std::vector<AppLocale> listeningLanguagesOf(const std::vector<std::string>& phrases) {
    std::vector<AppLocale> languages;
    for (const AppLocale language : {AppLocale::english, AppLocale::korean}) {
        if (!phrasesHeardIn(phrases, language).empty()) {
            languages.push_back(language);
        }
    }
    return languages;
}

} // namespace harkwell
