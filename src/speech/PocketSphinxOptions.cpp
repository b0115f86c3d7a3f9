#include "speech/PocketSphinxOptions.h"

namespace harkwell {

PocketSphinxOptions pocketSphinxOptionsFor(DetectionSensitivity) { return {}; }

} // namespace harkwell
