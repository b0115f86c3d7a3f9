#include "speech/PocketSphinxOptions.h"

namespace harkwell {

PocketSphinxOptions pocketSphinxOptionsFor(DetectionSensitivity sensitivity) {
    switch (sensitivity) {
    case DetectionSensitivity::low:
    case DetectionSensitivity::medium:
    case DetectionSensitivity::high:
        break;
    }
    return {};
}

} // namespace harkwell
