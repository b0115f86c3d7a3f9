#pragma once

#include "detection/Clock.h"
#include "detection/RecognitionEvent.h"
#include "detection/WakePhraseListener.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace harkwell {

// Turns a stream of recogniser results into call detections: at most one reported detection
// per cooldown, and a recent-text window that goes stale after a pause.
//
// Not thread-safe: start and event handling run on one thread (the main thread in the app).
class WakePhraseDetector : public WakePhraseListener {
public:
    static constexpr std::chrono::milliseconds defaultDetectionCooldown{8000};
    static constexpr std::chrono::milliseconds defaultRecentMatchingResetInterval{1200};

    explicit WakePhraseDetector(std::string localeIdentifier,
                                std::shared_ptr<const Clock> clock = std::make_shared<SteadyClock>());

    // Takes the normalised phrases and the callbacks and clears the session state.
    void start(const std::vector<std::string>& phrases, DetectedCallback onDetected, ErrorCallback onError) override;
    void stop() override {}

    void handleRecognitionEvent(const RecognitionEvent& event);

    const std::string& localeIdentifier() const { return localeIdentifier_; }
    const std::vector<std::string>& phrases() const { return phrases_; }
    const std::string& recentMatchingText() const { return recentMatchingText_; }
    const std::string& lastMatchedTranscript() const { return lastMatchedTranscript_; }
    std::optional<Clock::TimePoint> lastDetectionAt() const { return lastDetectionAt_; }
    std::optional<Clock::TimePoint> lastMatchingTextUpdatedAt() const { return lastMatchingTextUpdatedAt_; }

private:
    bool shouldResetRecentMatchingText(Clock::TimePoint now) const;
    bool canEmitDetection() const;

    const std::string localeIdentifier_;
    const std::shared_ptr<const Clock> clock_;
    const Clock::duration detectionCooldown_ = defaultDetectionCooldown;
    const Clock::duration recentMatchingResetInterval_ = defaultRecentMatchingResetInterval;

    std::vector<std::string> phrases_;
    std::optional<Clock::TimePoint> lastDetectionAt_;
    std::string lastMatchedTranscript_;
    std::string recentMatchingText_;
    std::optional<Clock::TimePoint> lastMatchingTextUpdatedAt_;
    DetectedCallback onDetected_;
    ErrorCallback onError_;
};

} // namespace harkwell
