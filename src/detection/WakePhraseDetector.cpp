#include "detection/WakePhraseDetector.h"

#include "matching/WakePhraseMatching.h"

namespace harkwell {

WakePhraseDetector::WakePhraseDetector(std::string localeIdentifier, std::shared_ptr<const Clock> clock)
    : localeIdentifier_(std::move(localeIdentifier)), clock_(std::move(clock)) {}

void WakePhraseDetector::start(const std::vector<std::string>& phrases, DetectedCallback onDetected,
                               ErrorCallback onError) {
    phrases_ = normalizedWakePhrases(phrases);
    onDetected_ = std::move(onDetected);
    onError_ = std::move(onError);
    lastDetectionAt_.reset();
    lastMatchedTranscript_.clear();
    recentMatchingText_.clear();
    lastMatchingTextUpdatedAt_.reset();
}

void WakePhraseDetector::handleRecognitionEvent(const RecognitionEvent& event) {
    if (event.transcript) {
        const auto now = clock_->now();
        const auto update = incrementalTranscriptUpdate(lastMatchedTranscript_, *event.transcript);
        if (shouldResetRecentMatchingText(now)) {
            recentMatchingText_.clear();
        }
        recentMatchingText_ = applyingTranscriptUpdate(update, recentMatchingText_, phrases_);
        if (!update.text().empty()) {
            lastMatchingTextUpdatedAt_ = now;
        }
        const auto match = matchWakePhrases(recentMatchingText_, phrases_, localeIdentifier_);
        lastMatchedTranscript_ = *event.transcript;

        if (match) {
            recentMatchingText_.clear();
            lastMatchingTextUpdatedAt_.reset();
            if (canEmitDetection()) {
                lastDetectionAt_ = clock_->now();
                if (onDetected_) {
                    // A copy: the callback may start this detector again, replacing itself.
                    auto onDetected = onDetected_;
                    onDetected(match->targetPhrase);
                }
            }
        }
    }
    if (event.error && onError_) {
        auto onError = onError_;
        onError(*event.error);
    }
}

bool WakePhraseDetector::shouldResetRecentMatchingText(Clock::TimePoint now) const {
    if (recentMatchingText_.empty() || !lastMatchingTextUpdatedAt_) {
        return false;
    }
    return now - *lastMatchingTextUpdatedAt_ >= recentMatchingResetInterval_;
}

bool WakePhraseDetector::canEmitDetection() const {
    return !lastDetectionAt_ || clock_->now() - *lastDetectionAt_ >= detectionCooldown_;
}

} // namespace harkwell
