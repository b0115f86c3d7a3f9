#include "speech/NoiseSuppressor.h"

#include <speex/speex_preprocess.h>

namespace harkwell {

namespace {
constexpr int frameSamples = 320; // 20 ms at 16 kHz
}

NoiseSuppressor::NoiseSuppressor(int suppressionDecibels)
    : AudioFrontEnd(frameSamples), state_(speex_preprocess_state_init(frameSamples, 16000)) {
    int on = 1;
    speex_preprocess_ctl(state_, SPEEX_PREPROCESS_SET_DENOISE, &on);
    speex_preprocess_ctl(state_, SPEEX_PREPROCESS_SET_NOISE_SUPPRESS, &suppressionDecibels);
}

NoiseSuppressor::~NoiseSuppressor() { speex_preprocess_state_destroy(state_); }

void NoiseSuppressor::processFrame(std::span<std::int16_t> frame) { speex_preprocess_run(state_, frame.data()); }

} // namespace harkwell
