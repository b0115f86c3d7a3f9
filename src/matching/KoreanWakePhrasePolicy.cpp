#include "matching/UnicodeText.h"
#include "matching/WakePhraseMatching.h"
#include "matching/WakePhraseMatchingDetail.h"

#include <array>

namespace harkwell {

namespace {

constexpr std::array<std::string_view, 4> koreanSuffixes{"님", "씨", "아", "야"};

UChar32 lastCodePoint(std::string_view text) {
    const icu::UnicodeString unicodeText = unicode::fromUtf8(text);
    return unicodeText.isEmpty() ? U_SENTINEL : unicodeText.char32At(unicodeText.length() - 1);
}

bool hasKoreanFinalConsonant(std::string_view text) {
    const UChar32 last = lastCodePoint(text);
    return unicode::isHangulSyllable(last) && (last - unicode::firstHangulSyllable) % 28 != 0;
}

bool isSingleHangulSyllable(std::string_view text) {
    const icu::UnicodeString unicodeText = unicode::fromUtf8(text);
    return !unicodeText.isEmpty() && unicode::characterBoundaries(unicodeText).size() == 2 &&
           unicode::isHangulSyllable(unicodeText.char32At(0));
}

// Whether the form is exactly the concatenation of one or more whole consecutive tokens,
// not followed by a lone Hangul syllable. A candidate that no longer is the start of the form
// can never become the form, so the search moves on to the next start.
bool containsKoreanForm(const std::vector<std::string>& tokens, const std::string& form) {
    for (size_t start = 0; start < tokens.size(); ++start) {
        std::string candidate;
        for (size_t i = start; i < tokens.size(); ++i) {
            candidate += tokens[i];
            if (candidate.size() > form.size() || form.compare(0, candidate.size(), candidate) != 0) {
                break;
            }
            if (candidate.size() == form.size()) {
                if (i + 1 == tokens.size() || !isSingleHangulSyllable(tokens[i + 1])) {
                    return true;
                }
            }
        }
    }
    return false;
}

std::vector<std::string> uniqueForms(const std::vector<std::string>& phrases) {
    std::vector<std::string> forms;
    for (const auto& phrase : normalizedWakePhrases(phrases)) {
        auto phraseForms = koreanAcceptedForms(phrase);
        forms.insert(forms.end(), phraseForms.begin(), phraseForms.end());
    }
    return detail::unique(forms);
}

} // namespace

std::vector<std::string> koreanAcceptedForms(std::string_view phrase) {
    const std::string trimmedPhrase = unicode::trimmed(phrase);
    if (trimmedPhrase.empty()) {
        return {};
    }
    const auto tokens = matchingTokens(trimmedPhrase);
    if (tokens.size() != 1) {
        return {trimmedPhrase};
    }
    const std::string& token = tokens.front();
    for (const auto suffix : koreanSuffixes) {
        if (unicode::endsWithCharacters(token, suffix)) {
            return {trimmedPhrase};
        }
    }
    const std::string vocative = hasKoreanFinalConsonant(token) ? "아" : "야";
    return detail::unique({
        trimmedPhrase,
        token + "님",
        token + " 님",
        token + "씨",
        token + " 씨",
        token + vocative,
        token + " " + vocative,
    });
}

std::string_view koreanFormSuffix(std::string_view word) {
    for (const auto suffix : koreanSuffixes) {
        if (word.size() > suffix.size() && unicode::endsWithCharacters(word, suffix)) {
            return suffix;
        }
    }
    return {};
}

std::vector<std::string> KoreanWakePhrasePolicy::contextualHints(const std::vector<std::string>& phrases) const {
    return uniqueForms(phrases);
}

std::optional<WakePhraseMatch> KoreanWakePhrasePolicy::match(std::string_view transcript,
                                                             const std::vector<std::string>& phrases) const {
    const auto tokens = matchingTokens(transcript);
    if (tokens.empty()) {
        return std::nullopt;
    }
    for (const auto& phrase : normalizedWakePhrases(phrases)) {
        for (const auto& form : koreanAcceptedForms(phrase)) {
            const auto normalised = normalizedWakeText(form);
            if (!normalised.empty() && containsKoreanForm(tokens, normalised)) {
                return detail::makeMatch(phrase, transcript, form);
            }
        }
    }
    return std::nullopt;
}

} // namespace harkwell
