#pragma once

#include "locale/AppError.h"
#include "matching/AppLocale.h"

#include <optional>
#include <string>

namespace harkwell {

// One callback of the speech recogniser as detection sees it.
struct RecognitionEvent {
    std::optional<std::string> transcript; // the best transcription so far
    std::optional<Error> error;            // the recogniser's error, passed on unchanged
    // Whether the transcript begins where the speaker began; false for a stretch cut from the
    // middle of someone's talk, whose first word opens nothing.
    bool opensUtterance = true;
    // The language the transcript is in: it is matched against the phrases of that language, with
    // that language's policy, as a stream of its own.
    AppLocale language = AppLocale::english;
    // The whole text the transcript grows into, when the recogniser has it already (a Whisper
    // window delivered word by word): what was heard around a call found early in it.
    std::optional<std::string> wholeTranscript = std::nullopt;
    // The recogniser heard something that sounds like a call phrase just now, whatever it wrote
    // (an event of its own, without transcript): asked for by a recogniser that screens the talk.
    bool soundsLikeCallPhrase = false;
};

} // namespace harkwell
