#include "NoiseControlMode.h"

namespace harkwell::relay {

std::optional<NoiseControlMode> noiseControlModeFromByte(uint8_t value) {
    if (value >= static_cast<uint8_t>(NoiseControlMode::off) &&
        value <= static_cast<uint8_t>(NoiseControlMode::adaptive)) {
        return static_cast<NoiseControlMode>(value);
    }
    return std::nullopt;
}

NoiseControlMode noiseControlModeFor(ListeningMode mode) {
    switch (mode) {
    case ListeningMode::normal:
        return NoiseControlMode::off;
    case ListeningMode::anc:
        return NoiseControlMode::noiseCancellation;
    case ListeningMode::transparency:
        return NoiseControlMode::transparency;
    }
    return NoiseControlMode::off;
}

ListeningMode listeningModeFor(NoiseControlMode mode) {
    switch (mode) {
    case NoiseControlMode::off:
        return ListeningMode::normal;
    case NoiseControlMode::noiseCancellation:
    case NoiseControlMode::adaptive:
        return ListeningMode::anc;
    case NoiseControlMode::transparency:
        return ListeningMode::transparency;
    }
    return ListeningMode::normal;
}

std::string_view describe(NoiseControlMode mode) {
    switch (mode) {
    case NoiseControlMode::off:
        return "noise control off";
    case NoiseControlMode::noiseCancellation:
        return "noise cancellation";
    case NoiseControlMode::transparency:
        return "transparency";
    case NoiseControlMode::adaptive:
        return "Adaptive";
    }
    return "an unknown mode";
}

} // namespace harkwell::relay
