// Tokeniser and both matching policies: the first piece is the transcript, the rest phrases.
#include "FuzzInput.h"
#include "matching/WakePhraseMatching.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto pieces = harkwell::fuzz::pieces(data, size);
    const std::string transcript = pieces.front();
    const std::vector<std::string> phrases(pieces.begin() + 1, pieces.end());

    (void)harkwell::matchingTokens(transcript);
    (void)harkwell::normalizedWakeText(transcript);
    for (const auto& phrase : phrases) {
        (void)harkwell::koreanAcceptedForms(phrase);
    }
    for (const auto locale : {harkwell::AppLocale::english, harkwell::AppLocale::korean}) {
        (void)harkwell::wakePhraseContextualStrings(phrases, locale);
        const auto match = harkwell::matchWakePhrases(transcript, phrases, locale);
        if (match && match->matchedText != transcript) {
            std::abort();
        }
    }
    return 0;
}
