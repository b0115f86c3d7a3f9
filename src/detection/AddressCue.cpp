#include "detection/AddressCue.h"

#include "matching/WakePhraseMatching.h"

#include <algorithm>
#include <array>

namespace harkwell {

std::optional<AddressCue> addressCue(std::string_view utterance, std::string_view phrase) {
    const auto words = matchingTokens(utterance);
    const auto phraseWords = matchingTokens(phrase);
    if (phraseWords.empty() || phraseWords.size() > words.size()) {
        return std::nullopt;
    }
    const auto found = std::find_end(words.begin(), words.end(), phraseWords.begin(), phraseWords.end());
    if (found == words.end()) {
        return std::nullopt;
    }
    if (found == words.begin()) {
        return AddressCue::utteranceStart;
    }
    static constexpr std::array<std::string_view, 7> greetings{"hey", "hi", "hello", "sorry", "ok", "okay", "oh"};
    const auto& before = *(found - 1);
    if (std::find(greetings.begin(), greetings.end(), before) != greetings.end() ||
        (before == "me" && found - words.begin() >= 2 && *(found - 2) == "excuse")) {
        return AddressCue::afterGreeting;
    }
    if (before == "you") {
        return AddressCue::afterYou;
    }
    if (found + static_cast<std::ptrdiff_t>(phraseWords.size()) == words.end()) {
        return AddressCue::beforePause;
    }
    return std::nullopt;
}

} // namespace harkwell
