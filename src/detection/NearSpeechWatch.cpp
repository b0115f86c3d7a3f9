#include "detection/NearSpeechWatch.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

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
    // Measured against the room before this frame: a talker's first word is not its own background.
    const auto background = backgroundLevel();
    const bool loud =
        background && levelDbfs >= settings_.floorDecibels && levelDbfs >= *background + settings_.marginDecibels;
    nearRun_ = loud ? nearRun_ + 1 : 0;
    if (isHearingNearSpeech()) {
        lastNearFrame_ = framesHeard_;
    }
    ++framesHeard_;
    recentLevels_.push_back(levelDbfs);
    if (recentLevels_.size() > settings_.backgroundFrames) {
        recentLevels_.pop_front();
    }
    return isHearingNearSpeech();
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

std::optional<std::uint64_t> NearSpeechWatch::framesSinceNearSpeech() const {
    if (!lastNearFrame_) {
        return std::nullopt;
    }
    return framesHeard_ - 1 - *lastNearFrame_;
}

std::optional<double> NearSpeechWatch::backgroundLevel() const {
    if (recentLevels_.empty()) {
        return std::nullopt;
    }
    std::vector<double> levels(recentLevels_.begin(), recentLevels_.end());
    const auto rank = static_cast<std::size_t>(settings_.backgroundPercentile * static_cast<double>(levels.size() - 1));
    std::nth_element(levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(rank), levels.end());
    return levels[rank];
}

} // namespace harkwell
