#include "detection/DetectionGate.h"

#include "detection/AddressCue.h"

#include <utility>

namespace harkwell {

DetectionGate::DetectionGate(AppLocale locale, std::shared_ptr<const Clock> clock)
    : locale_(locale), clock_(std::move(clock)) {}

void DetectionGate::reset(const std::vector<std::string>& phrases) {
    phrases_ = normalizedWakePhrases(phrases);
    lastDetectionAt_.reset();
    lastMatchedTranscript_.clear();
    recentMatchingText_.clear();
    lastMatchingTextUpdatedAt_.reset();
}

std::optional<WakePhraseMatch> DetectionGate::hear(const std::string& transcript, bool heardNearSpeech,
                                                   bool opensUtterance) {
    const auto now = clock_->now();
    const auto update = incrementalTranscriptUpdate(lastMatchedTranscript_, transcript);
    if (shouldResetRecentMatchingText(now)) {
        recentMatchingText_.clear();
    }
    recentMatchingText_ = applyingTranscriptUpdate(update, recentMatchingText_, phrases_);
    if (!update.text().empty()) {
        lastMatchingTextUpdatedAt_ = now;
    }
    // A phrase that ended the last transcript was said before a pause when the utterance ended
    // right there (the recogniser's empty transcript).
    auto beforePause = std::exchange(matchBeforePause_, std::nullopt);
    const bool isAtPause = beforePause && transcript.empty();
    auto match = isAtPause ? std::move(beforePause) : matchWakePhrases(recentMatchingText_, phrases_, locale_);
    lastMatchedTranscript_ = transcript;
    if (!match) {
        return std::nullopt;
    }
    if (requiresAddress_ && !isAtPause) {
        auto cue = addressCue(transcript, match->targetPhrase);
        if (cue == AddressCue::utteranceStart && !opensUtterance) {
            cue.reset();
        }
        if (cue == AddressCue::beforePause) {
            matchBeforePause_ = std::move(match);
            return std::nullopt;
        }
        if (!cue) {
            return std::nullopt;
        }
    }
    recentMatchingText_.clear();
    lastMatchingTextUpdatedAt_.reset();
    if (!heardNearSpeech || !canEmitDetection(now)) {
        return std::nullopt;
    }
    lastDetectionAt_ = now;
    return match;
}

bool DetectionGate::shouldResetRecentMatchingText(Clock::TimePoint now) const {
    if (recentMatchingText_.empty() || !lastMatchingTextUpdatedAt_) {
        return false;
    }
    return now - *lastMatchingTextUpdatedAt_ >= recentMatchingResetInterval;
}

bool DetectionGate::canEmitDetection(Clock::TimePoint now) const {
    return !lastDetectionAt_ || now - *lastDetectionAt_ >= detectionCooldown;
}

} // namespace harkwell
