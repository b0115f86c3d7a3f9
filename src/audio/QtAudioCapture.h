#pragma once

#include "detection/AudioCapture.h"

namespace harkwell {

// Microphones through Qt Multimedia on PulseAudio or PipeWire: the sound server's inputs (with
// its internal and Bluetooth marks) and sessions that deliver 16 kHz mono 16-bit buffers,
// converted from whatever the device gives.
class QtAudioCaptureDevices final : public AudioCaptureDevices {
public:
    std::vector<AudioInputDevice> inputDevices() override;
    // Throws captureSetup "Cannot add {name} as input." when Qt does not offer the device.
    std::unique_ptr<AudioCaptureSession> open(const AudioInputDevice& device) override;
};

} // namespace harkwell
