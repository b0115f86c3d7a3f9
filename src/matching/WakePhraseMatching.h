#pragma once

// Wake-phrase matching: phrase normalisation and tokens, the English and Korean matching
// policies, and the running-transcript window. Pure functions over UTF-8 text; nothing is
// cached and nothing fails. Characters are user-perceived characters (grapheme clusters).

#include "matching/AppLocale.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace harkwell {

struct WakePhraseMatch {
    std::string targetPhrase; // the configured phrase, as normalizedWakePhrases returns it
    std::string matchedText;  // the transcript as the caller passed it
    std::string matchedForm;  // the phrase or one of its accepted forms, as built
    std::string reason;       // "configured-phrase" or "accepted-form"

    bool operator==(const WakePhraseMatch&) const = default;
};

class WakePhrasePolicy {
public:
    virtual ~WakePhrasePolicy() = default;
    virtual AppLocale locale() const = 0;
    // The texts to offer the speech recogniser as contextual strings.
    virtual std::vector<std::string> contextualHints(const std::vector<std::string>& phrases) const = 0;
    virtual std::optional<WakePhraseMatch> match(std::string_view transcript,
                                                 const std::vector<std::string>& phrases) const = 0;
};

// Whole-token sequences only: 'James' matches 'hey james, got a sec' but not 'Jameson'.
class EnglishWakePhrasePolicy final : public WakePhrasePolicy {
public:
    AppLocale locale() const override { return AppLocale::english; }
    std::vector<std::string> contextualHints(const std::vector<std::string>& phrases) const override;
    std::optional<WakePhraseMatch> match(std::string_view transcript,
                                         const std::vector<std::string>& phrases) const override;
};

// Also accepts the honorific and vocative forms of a one-token phrase ('민수님', '민수야').
class KoreanWakePhrasePolicy final : public WakePhrasePolicy {
public:
    AppLocale locale() const override { return AppLocale::korean; }
    std::vector<std::string> contextualHints(const std::vector<std::string>& phrases) const override;
    std::optional<WakePhraseMatch> match(std::string_view transcript,
                                         const std::vector<std::string>& phrases) const override;
};

// A fresh policy for the locale.
std::unique_ptr<WakePhrasePolicy> wakePhrasePolicy(AppLocale locale);

// Maximal runs of letters and numbers, case and diacritics folded: 'Café-au-lait' gives
// 'cafe', 'au', 'lait'.
std::vector<std::string> matchingTokens(std::string_view text);
// The tokens joined with nothing: a phrase's identity ('Dr. Kim' gives 'drkim').
std::string normalizedWakeText(std::string_view text);
// Trimmed phrases, without blanks and without repeats of an earlier phrase's tokens.
std::vector<std::string> normalizedWakePhrases(const std::vector<std::string>& phrases);
// The phrase as typed, then its honorific and vocative forms when it is one token.
std::vector<std::string> koreanAcceptedForms(std::string_view phrase);
// The honorific or vocative suffix that ends the word after something else ('민서야' gives '야',
// '지훈씨' gives '씨'); empty when there is none.
std::string_view koreanFormSuffix(std::string_view word);

std::vector<std::string> wakePhraseContextualStrings(const std::vector<std::string>& phrases, AppLocale locale);
std::optional<WakePhraseMatch> matchWakePhrases(std::string_view transcript, const std::vector<std::string>& phrases,
                                                AppLocale locale);

// What a new recogniser transcript brings against the previous one.
class IncrementalTranscriptUpdate {
public:
    enum class Kind { append, replace };

    static IncrementalTranscriptUpdate append(std::string text) { return {Kind::append, std::move(text)}; }
    static IncrementalTranscriptUpdate replace(std::string text) { return {Kind::replace, std::move(text)}; }

    Kind kind() const { return kind_; }
    const std::string& text() const { return text_; }

    bool operator==(const IncrementalTranscriptUpdate&) const = default;

private:
    IncrementalTranscriptUpdate(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {}

    Kind kind_;
    std::string text_;
};

// Window limits, in characters.
inline constexpr int wakeWindowMargin = 24;
inline constexpr int wakeWindowMinimum = 32;
inline constexpr int wakeWindowMaximum = 96;

IncrementalTranscriptUpdate incrementalTranscriptUpdate(std::string_view previous, std::string_view current);
std::string applyingTranscriptUpdate(const IncrementalTranscriptUpdate& update, std::string_view window,
                                     const std::vector<std::string>& phrases);
// `existing` followed by `appending`, cut to the last (longest phrase + 24, between 32 and 96)
// characters.
std::string recentWakePhraseWindow(std::string_view appending, std::string_view existing,
                                   const std::vector<std::string>& phrases);
// The window limit for a phrase list.
int wakeWindowLimit(const std::vector<std::string>& phrases);

} // namespace harkwell
