#pragma once

#include "detection/AudioCapture.h"

namespace harkwell {

// Microphones of PulseAudio (or PipeWire's PulseAudio server) through libpulse: the server's
// inputs with its internal and Bluetooth marks, and sessions that record 16 kHz mono 16-bit
// buffers of 100 ms, converted by the server from whatever the device gives.
//
// Each session opens a connection of its own to the server, where PULSE_SERVER or the usual
// runtime folder says, so a session started after the server was restarted finds the new one.
// Its errors: soundServerUnreachable when no connection can be made; captureSetup "Cannot add
// {name} as input." when the server refuses to record the device; microphoneStopped when the
// server or the device goes away while recording. A stream is never moved to another input.
class PulseAudioCaptureDevices final : public AudioCaptureDevices {
public:
    std::vector<AudioInputDevice> inputDevices() override;
    std::unique_ptr<AudioCaptureSession> open(const AudioInputDevice& device) override;
};

} // namespace harkwell
