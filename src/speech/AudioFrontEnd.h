#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace harkwell {

// What cleans the microphone's audio before the recogniser hears it.
enum class AudioFrontEndKind {
    none,   // the audio as captured
    speex,  // Speex's spectral noise suppression
    webrtc, // the WebRTC audio processing module: high-pass filter, noise suppression, gain control
};

struct AudioFrontEndSettings {
    AudioFrontEndKind kind = AudioFrontEndKind::speex;
    // Speex: how far steady noise is pushed down at most (dB, negative).
    int speexSuppressionDecibels = -15;
    // WebRTC: how hard noise is suppressed, 0 (low) to 3 (very high), and whether the level is
    // evened out by its adaptive digital gain control.
    int webRtcSuppressionLevel = 2;
    bool webRtcGainControl = true;
};

// "none", "speex", "webrtc"; nothing for another text.
std::optional<AudioFrontEndKind> audioFrontEndKind(std::string_view name);

// Cleans 16 kHz mono speech in whole frames of the processor's own length: what is left of an
// incomplete frame comes out with the next call, so however the audio is cut, every sample comes
// out once and the same.
class AudioFrontEnd {
public:
    virtual ~AudioFrontEnd() = default;
    AudioFrontEnd(const AudioFrontEnd&) = delete;
    AudioFrontEnd& operator=(const AudioFrontEnd&) = delete;

    std::vector<std::int16_t> process(std::span<const std::int16_t> samples);

protected:
    explicit AudioFrontEnd(std::size_t frameSamples) : frameSamples_(frameSamples) {}
    virtual void processFrame(std::span<std::int16_t> frame) = 0;

private:
    const std::size_t frameSamples_;
    std::vector<std::int16_t> pending_;
};

// The front end the settings name; none for AudioFrontEndKind::none.
std::unique_ptr<AudioFrontEnd> makeAudioFrontEnd(const AudioFrontEndSettings& settings);

} // namespace harkwell
