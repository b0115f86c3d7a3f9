#pragma once

#include <cstdint>
#include <span>
#include <vector>

struct SpeexPreprocessState_;

namespace harkwell {

// Takes steady background noise (a fan, an air conditioner, traffic) out of 16 kHz speech before
// the recogniser hears it, with Speex's spectral noise suppression. The noise is estimated all
// the time from the audio itself, so it follows a room that gets louder or quieter.
class NoiseSuppressor {
public:
    // suppressionDecibels: how far noise is pushed down at most (negative; -15 is moderate).
    explicit NoiseSuppressor(int suppressionDecibels);
    ~NoiseSuppressor();
    NoiseSuppressor(const NoiseSuppressor&) = delete;
    NoiseSuppressor& operator=(const NoiseSuppressor&) = delete;

    // The samples cleaned, in whole frames of 20 ms: the rest of an incomplete frame comes with
    // the next call.
    std::vector<std::int16_t> process(std::span<const std::int16_t> samples);

private:
    SpeexPreprocessState_* state_;
    std::vector<std::int16_t> pending_;
};

} // namespace harkwell
