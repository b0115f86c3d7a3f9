#include "speech/WebRtcAudioProcessor.h"

#include <webrtc/modules/audio_processing/include/audio_processing.h>

#include <algorithm>
#include <cmath>

namespace harkwell {

namespace {
constexpr int sampleRate = 16000;
constexpr std::size_t frameSamples = 160; // 10 ms
} // namespace

WebRtcAudioProcessor::WebRtcAudioProcessor(int suppressionLevel, bool hasGainControl)
    : AudioFrontEnd(frameSamples), processing_(webrtc::AudioProcessing::Create()), buffer_(frameSamples) {
    processing_->high_pass_filter()->Enable(true);
    processing_->noise_suppression()->set_level(
        static_cast<webrtc::NoiseSuppression::Level>(std::clamp(suppressionLevel, 0, 3)));
    processing_->noise_suppression()->Enable(true);
    if (hasGainControl) {
        processing_->gain_control()->set_mode(webrtc::GainControl::kAdaptiveDigital);
        processing_->gain_control()->Enable(true);
    }
}

WebRtcAudioProcessor::~WebRtcAudioProcessor() = default;

void WebRtcAudioProcessor::processFrame(std::span<std::int16_t> frame) {
    std::transform(frame.begin(), frame.end(), buffer_.begin(),
                   [](std::int16_t sample) { return static_cast<float>(sample) / 32768.0f; });
    float* channel = buffer_.data();
    const webrtc::StreamConfig config(sampleRate, 1);
    if (processing_->ProcessStream(&channel, config, config, &channel) != webrtc::AudioProcessing::kNoError) {
        return; // the frame goes on as captured
    }
    std::transform(buffer_.begin(), buffer_.end(), frame.begin(), [](float sample) {
        return static_cast<std::int16_t>(std::lround(std::clamp(sample * 32768.0f, -32768.0f, 32767.0f)));
    });
}

} // namespace harkwell
