#include "speech/PocketSphinxOptions.h"

namespace harkwell {

PocketSphinxOptions pocketSphinxOptionsFor(DetectionSensitivity sensitivity) {
    PocketSphinxOptions options;
    switch (sensitivity) {
    case DetectionSensitivity::low:
        options.phraseWordLogProbability = -2.5;
        options.heldBackWords = 2;
        break;
    case DetectionSensitivity::medium:
        break;
    case DetectionSensitivity::high:
        options.phraseWordLogProbability = -1.5;
        options.frontEnd.speexSuppressionDecibels = -10;
        break;
    }
    return options;
}

} // namespace harkwell
