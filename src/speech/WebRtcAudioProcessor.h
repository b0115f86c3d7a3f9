#pragma once

#include "speech/AudioFrontEnd.h"

#include <memory>

namespace webrtc {
class AudioProcessing;
}

namespace harkwell {

// Cleans 16 kHz speech with the WebRTC audio processing module, in frames of 10 ms: a high-pass
// filter (hum and rumble), noise suppression that estimates the noise from the audio itself, and,
// when asked, adaptive digital gain control that evens out near and far voices.
class WebRtcAudioProcessor final : public AudioFrontEnd {
public:
    // suppressionLevel: 0 (low) to 3 (very high).
    WebRtcAudioProcessor(int suppressionLevel, bool hasGainControl);
    ~WebRtcAudioProcessor() override;

private:
    void processFrame(std::span<std::int16_t> frame) override;

    std::unique_ptr<webrtc::AudioProcessing> processing_;
    std::vector<float> buffer_;
};

} // namespace harkwell
