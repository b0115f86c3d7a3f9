#include "speech/AudioFrontEnd.h"

#include "speech/NoiseSuppressor.h"
#include "speech/WebRtcAudioProcessor.h"

namespace harkwell {

std::optional<AudioFrontEndKind> audioFrontEndKind(std::string_view name) {
    if (name == "none") {
        return AudioFrontEndKind::none;
    }
    if (name == "speex") {
        return AudioFrontEndKind::speex;
    }
    if (name == "webrtc") {
        return AudioFrontEndKind::webrtc;
    }
    return std::nullopt;
}

std::vector<std::int16_t> AudioFrontEnd::process(std::span<const std::int16_t> samples) {
    pending_.insert(pending_.end(), samples.begin(), samples.end());
    const auto whole = pending_.size() - pending_.size() % frameSamples_;
    std::vector<std::int16_t> cleaned(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(whole));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(whole));
    for (std::size_t at = 0; at < cleaned.size(); at += frameSamples_) {
        processFrame(std::span(cleaned).subspan(at, frameSamples_));
    }
    return cleaned;
}

std::unique_ptr<AudioFrontEnd> makeAudioFrontEnd(const AudioFrontEndSettings& settings) {
    switch (settings.kind) {
    case AudioFrontEndKind::none:
        return nullptr;
    case AudioFrontEndKind::speex:
        return std::make_unique<NoiseSuppressor>(settings.speexSuppressionDecibels);
    case AudioFrontEndKind::webrtc:
        return std::make_unique<WebRtcAudioProcessor>(settings.webRtcSuppressionLevel, settings.webRtcGainControl);
    }
    return nullptr;
}

} // namespace harkwell
