#pragma once

#include "locale/AppError.h"

#include <optional>
#include <string>

namespace harkwell {

// One callback of the speech recogniser as detection sees it.
struct RecognitionEvent {
    std::optional<std::string> transcript; // the best transcription so far
    std::optional<Error> error;            // the recogniser's error, passed on unchanged
};

} // namespace harkwell
