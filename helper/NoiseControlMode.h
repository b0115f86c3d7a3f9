#pragma once

#include "airpods/ListeningMode.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace harkwell::relay {

// The AirPods' own noise-control setting, with its value on the control channel.
enum class NoiseControlMode : uint8_t { off = 1, noiseCancellation = 2, transparency = 3, adaptive = 4 };

std::optional<NoiseControlMode> noiseControlModeFromByte(uint8_t value);
NoiseControlMode noiseControlModeFor(ListeningMode mode);
// Adaptive reads as noise cancellation: noise control is on.
ListeningMode listeningModeFor(NoiseControlMode mode);
// How a person calls it: "noise control off", "Adaptive"...
std::string_view describe(NoiseControlMode mode);

} // namespace harkwell::relay
