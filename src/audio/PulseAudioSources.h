#pragma once

#include "detection/AudioCapture.h"

#include <chrono>
#include <vector>

namespace harkwell {

// The sound server's inputs with what it knows about them: whether it marks one as the
// computer's own microphone (form factor "internal", or an internal-microphone port), whether
// it is a Bluetooth headset's, whether it is the monitor of an output. Asks PulseAudio (or
// PipeWire's PulseAudio server) where PULSE_SERVER or the usual runtime folder says.
// Throws Error (soundServerUnreachable) when the server cannot be reached within the time-out.
std::vector<AudioInputDevice> pulseAudioSources(std::chrono::milliseconds timeout = std::chrono::seconds(5));

// The same list, for the control panel's microphone choice.
class PulseAudioInputList final : public AudioInputList {
public:
    std::vector<AudioInputDevice> inputs() override { return pulseAudioSources(); }
};

} // namespace harkwell
