// Transcript tracking over a sequence of transcripts: the window never exceeds its limit.
#include "FuzzInput.h"
#include "matching/UnicodeText.h"
#include "matching/WakePhraseMatching.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto pieces = harkwell::fuzz::pieces(data, size);
    const std::vector<std::string> phrases{pieces.front()};
    const int limit = harkwell::wakeWindowLimit(phrases);
    std::string previous;
    std::string window;
    for (size_t i = 1; i < pieces.size(); ++i) {
        const auto update = harkwell::incrementalTranscriptUpdate(previous, pieces[i]);
        window = harkwell::applyingTranscriptUpdate(update, window, phrases);
        if (harkwell::unicode::characterCount(window) > limit || limit > harkwell::wakeWindowMaximum) {
            std::abort();
        }
        (void)harkwell::matchWakePhrases(window, phrases, harkwell::AppLocale::korean);
        previous = pieces[i];
    }
    return 0;
}
