#pragma once

#include "speech/AudioFrontEnd.h"

struct SpeexPreprocessState_;

namespace harkwell {

// Takes steady background noise (a fan, an air conditioner, traffic) out of 16 kHz speech before
// the recogniser hears it, with Speex's spectral noise suppression, in frames of 20 ms. The noise
// is estimated all the time from the audio itself, so it follows a room that gets louder or quieter.
class NoiseSuppressor final : public AudioFrontEnd {
public:
    // suppressionDecibels: how far noise is pushed down at most (negative; -15 is moderate).
    explicit NoiseSuppressor(int suppressionDecibels);
    ~NoiseSuppressor() override;

private:
    void processFrame(std::span<std::int16_t> frame) override;

    SpeexPreprocessState_* state_;
};

} // namespace harkwell
