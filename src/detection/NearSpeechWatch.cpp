#include "detection/NearSpeechWatch.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace harkwell {

namespace {

constexpr double fullScale = 32768.0;

double decibelsOfMeanSquare(double meanSquare) {
    if (meanSquare <= 0) {
        return NearSpeechWatch::silenceDbfs;
    }
    return std::max(NearSpeechWatch::silenceDbfs, 10 * std::log10(meanSquare / (fullScale * fullScale)));
}

} // namespace

double NearSpeechWatch::levelOf(std::span<const std::int16_t> samples) {
    if (samples.empty()) {
        return silenceDbfs;
    }
    double energy = 0;
    for (const std::int16_t sample : samples) {
        energy += double(sample) * double(sample);
    }
    return decibelsOfMeanSquare(energy / double(samples.size()));
}

bool NearSpeechWatch::hearFrame(double levelDbfs) {
    const double background = background_.value_or(levelDbfs);
    const bool loud = levelDbfs >= background + nearMarginDecibels && levelDbfs >= quietestNearLevelDbfs;
    background_ = levelDbfs < background ? std::max(levelDbfs, background - backgroundFallPerFrameDecibels)
                                         : std::min(levelDbfs, background + backgroundRisePerFrameDecibels);
    if (recentLoudFrames_.size() == static_cast<std::size_t>(loudFrameWindow)) {
        recentLoudFrames_.erase(recentLoudFrames_.begin());
    }
    recentLoudFrames_.push_back(loud);
    return std::count(recentLoudFrames_.begin(), recentLoudFrames_.end(), true) >= loudFramesNeeded;
}

bool NearSpeechWatch::hear(std::span<const std::int16_t> samples) {
    bool heard = false;
    for (const std::int16_t sample : samples) {
        frameEnergy_ += double(sample) * double(sample);
        framePeak_ = std::max(framePeak_, std::abs(int(sample)));
        if (++frameFill_ < frameSamples) {
            continue;
        }
        lastFramePeak_ = std::min(1.0, framePeak_ / fullScale);
        framePeak_ = 0;
        const bool near = hearFrame(decibelsOfMeanSquare(frameEnergy_ / double(frameSamples)));
        frameEnergy_ = 0;
        frameFill_ = 0;
        framesSinceReport_ = std::min(framesSinceReport_ + 1, reportIntervalFrames);
        if (near && framesSinceReport_ >= reportIntervalFrames) {
            framesSinceReport_ = 0;
            heard = true;
        }
    }
    return heard;
}

} // namespace harkwell
