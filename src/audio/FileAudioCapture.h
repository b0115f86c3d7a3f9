#pragma once

#include "detection/AudioCapture.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace harkwell {

// 16 kHz mono 16-bit samples of a WAV file; throws std::runtime_error saying what is wrong.
std::vector<std::int16_t> readWave(const std::string& path);

// A microphone that plays recorded samples into the detector: in 100 ms buffers, as fast as the
// recogniser takes them or at real-time pace. `fedSamples` counts what has been delivered;
// `onFinished` runs on the capture thread once everything has been.
class FileAudioCaptureDevices final : public AudioCaptureDevices {
public:
    struct Source {
        std::function<bool(std::vector<std::int16_t>& buffer)> next; // false at the end
        bool realtime = false;
        std::shared_ptr<std::atomic<std::uint64_t>> fedSamples = std::make_shared<std::atomic<std::uint64_t>>(0);
        std::function<void()> onFinished;
    };

    explicit FileAudioCaptureDevices(Source source) : source_(std::move(source)) {}

    std::vector<AudioInputDevice> inputDevices() override {
        return {{"BuiltInMicrophoneDevice", "Recorded audio", true, false, false}};
    }
    std::unique_ptr<AudioCaptureSession> open(const AudioInputDevice& device) override;

private:
    Source source_;
};

} // namespace harkwell
