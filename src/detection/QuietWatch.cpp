#include "detection/QuietWatch.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace harkwell {

QuietWatch::QuietWatch(std::shared_ptr<const Clock> clock) : QuietWatch(std::move(clock), Settings{}) {}

QuietWatch::QuietWatch(std::shared_ptr<const Clock> clock, Settings settings)
    : clock_(std::move(clock)), settings_(settings), lastNearSpeechAt_(clock_->now()) {}

void QuietWatch::hear(double levelDecibels) {
    // The background before this stretch: a talker's first word is measured against the room.
    const auto background = backgroundDecibels();
    const bool isNear = background && levelDecibels >= settings_.floorDecibels &&
                        levelDecibels >= *background + settings_.marginDecibels;
    nearRun_ = isNear ? nearRun_ + 1 : 0;
    if (isHearingNearSpeech()) {
        lastNearSpeechAt_ = clock_->now();
    }
    recentLevels_.push_back(levelDecibels);
    if (recentLevels_.size() > settings_.backgroundFrames) {
        recentLevels_.pop_front();
    }
}

void QuietWatch::restart() {
    nearRun_ = 0;
    lastNearSpeechAt_ = clock_->now();
}

Clock::duration QuietWatch::quietFor() const { return clock_->now() - lastNearSpeechAt_; }

std::optional<double> QuietWatch::backgroundDecibels() const {
    if (recentLevels_.empty()) {
        return std::nullopt;
    }
    std::vector<double> levels(recentLevels_.begin(), recentLevels_.end());
    const auto rank = static_cast<std::size_t>(settings_.backgroundPercentile * static_cast<double>(levels.size() - 1));
    std::nth_element(levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(rank), levels.end());
    return levels[rank];
}

double levelDecibels(std::span<const std::int16_t> samples) {
    double sum = 0;
    for (const auto sample : samples) {
        sum += static_cast<double>(sample) * sample;
    }
    const double rms = samples.empty() ? 0 : std::sqrt(sum / static_cast<double>(samples.size()));
    return std::max(-100.0, 20 * std::log10(std::max(rms, 1e-9) / 32768.0));
}

} // namespace harkwell
