#include "speech/NoiseSuppressor.h"

#include <speex/speex_preprocess.h>

namespace harkwell {

namespace {
constexpr int frameSamples = 320; // 20 ms at 16 kHz
}

NoiseSuppressor::NoiseSuppressor(int suppressionDecibels) : state_(speex_preprocess_state_init(frameSamples, 16000)) {
    int on = 1;
    speex_preprocess_ctl(state_, SPEEX_PREPROCESS_SET_DENOISE, &on);
    speex_preprocess_ctl(state_, SPEEX_PREPROCESS_SET_NOISE_SUPPRESS, &suppressionDecibels);
}

NoiseSuppressor::~NoiseSuppressor() { speex_preprocess_state_destroy(state_); }

std::vector<std::int16_t> NoiseSuppressor::process(std::span<const std::int16_t> samples) {
    pending_.insert(pending_.end(), samples.begin(), samples.end());
    const auto whole = pending_.size() - pending_.size() % frameSamples;
    std::vector<std::int16_t> cleaned(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(whole));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(whole));
    for (std::size_t at = 0; at < cleaned.size(); at += frameSamples) {
        speex_preprocess_run(state_, cleaned.data() + at);
    }
    return cleaned;
}

} // namespace harkwell
