#include "matching/WakePhraseMatching.h"

#include "matching/UnicodeText.h"
#include "matching/WakePhraseMatchingDetail.h"

#include <algorithm>
#include <unordered_set>

namespace harkwell {

std::vector<std::string> matchingTokens(std::string_view text) {
    const icu::UnicodeString folded = unicode::foldedForMatching(unicode::fromUtf8(text));
    const auto boundaries = unicode::characterBoundaries(folded);
    std::vector<std::string> tokens;
    int32_t tokenStart = -1;
    for (size_t i = 0; i + 1 < boundaries.size(); ++i) {
        const bool partOfToken = unicode::isLetterOrNumber(folded.char32At(boundaries[i]));
        if (partOfToken && tokenStart < 0) {
            tokenStart = boundaries[i];
        } else if (!partOfToken && tokenStart >= 0) {
            tokens.push_back(unicode::toUtf8(icu::UnicodeString(folded, tokenStart, boundaries[i] - tokenStart)));
            tokenStart = -1;
        }
    }
    if (tokenStart >= 0) {
        tokens.push_back(unicode::toUtf8(icu::UnicodeString(folded, tokenStart)));
    }
    return tokens;
}

namespace {

std::string joined(const std::vector<std::string>& tokens, std::string_view separator) {
    std::string out;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (i > 0) {
            out += separator;
        }
        out += tokens[i];
    }
    return out;
}

bool containsTokenSequence(const std::vector<std::string>& tokens, const std::vector<std::string>& sequence) {
    if (sequence.size() > tokens.size()) {
        return false;
    }
    return std::search(tokens.begin(), tokens.end(), sequence.begin(), sequence.end()) != tokens.end();
}

using FormsForPhrase = std::vector<std::string> (*)(const std::string& phrase);

std::optional<WakePhraseMatch> matchAcceptedForms(std::string_view transcript, const std::vector<std::string>& phrases,
                                                  FormsForPhrase formsForPhrase) {
    const auto tokens = matchingTokens(transcript);
    if (tokens.empty()) {
        return std::nullopt;
    }
    for (const auto& phrase : normalizedWakePhrases(phrases)) {
        for (const auto& form : formsForPhrase(phrase)) {
            const auto formTokens = matchingTokens(form);
            if (!formTokens.empty() && containsTokenSequence(tokens, formTokens)) {
                return detail::makeMatch(phrase, transcript, form);
            }
        }
    }
    return std::nullopt;
}

} // namespace

namespace detail {

std::string tokenKey(std::string_view text) { return joined(matchingTokens(text), " "); }

std::vector<std::string> unique(const std::vector<std::string>& values) {
    std::unordered_set<std::string> seen;
    std::vector<std::string> kept;
    for (const auto& value : values) {
        auto key = tokenKey(value);
        if (!key.empty() && seen.insert(std::move(key)).second) {
            kept.push_back(value);
        }
    }
    return kept;
}

WakePhraseMatch makeMatch(const std::string& phrase, std::string_view transcript, const std::string& form) {
    return WakePhraseMatch{phrase, std::string(transcript), form,
                           form == phrase ? "configured-phrase" : "accepted-form"};
}

} // namespace detail

std::string normalizedWakeText(std::string_view text) { return joined(matchingTokens(text), ""); }

std::vector<std::string> normalizedWakePhrases(const std::vector<std::string>& phrases) {
    std::unordered_set<std::string> seen;
    std::vector<std::string> kept;
    for (const auto& phrase : phrases) {
        auto trimmedPhrase = unicode::trimmed(phrase);
        auto key = detail::tokenKey(trimmedPhrase);
        if (!key.empty() && seen.insert(std::move(key)).second) {
            kept.push_back(std::move(trimmedPhrase));
        }
    }
    return kept;
}

std::vector<std::string> EnglishWakePhrasePolicy::contextualHints(const std::vector<std::string>& phrases) const {
    return normalizedWakePhrases(phrases);
}

std::optional<WakePhraseMatch> EnglishWakePhrasePolicy::match(std::string_view transcript,
                                                              const std::vector<std::string>& phrases) const {
    return matchAcceptedForms(transcript, phrases,
                              [](const std::string& phrase) { return std::vector<std::string>{phrase}; });
}

std::unique_ptr<WakePhrasePolicy> wakePhrasePolicy(AppLocale locale) {
    if (locale == AppLocale::english) {
        return std::make_unique<EnglishWakePhrasePolicy>();
    }
    return std::make_unique<KoreanWakePhrasePolicy>();
}

std::vector<std::string> wakePhraseContextualStrings(const std::vector<std::string>& phrases, AppLocale locale) {
    return wakePhrasePolicy(locale)->contextualHints(phrases);
}

std::optional<WakePhraseMatch> matchWakePhrases(std::string_view transcript, const std::vector<std::string>& phrases,
                                                AppLocale locale) {
    return wakePhrasePolicy(locale)->match(transcript, phrases);
}

} // namespace harkwell
