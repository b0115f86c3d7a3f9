#pragma once

#include "core/Clock.h"
#include "matching/AppLocale.h"
#include "matching/WakePhraseMatching.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace harkwell {

// Turns the recogniser's running transcripts into call detections. Each transcript updates a
// recent-text window (what it appends to the previous one, or all of it when it rewrote that);
// a window that has not grown for the reset interval is emptied before new words join it. A match
// empties the window and is reported unless an earlier report lies within the cooldown.
//
// Pure: no threads and no Qt; time comes from the injected clock. Not thread-safe.
class DetectionGate {
public:
    static constexpr std::chrono::milliseconds detectionCooldown{8000};
    static constexpr std::chrono::milliseconds recentMatchingResetInterval{1200};

    DetectionGate(AppLocale locale, std::shared_ptr<const Clock> clock);

    // Listens for these phrases (normalised here) from now on, forgetting everything heard
    // before and the cooldown of the last report.
    void reset(const std::vector<std::string>& phrases);
    // The recogniser's transcript so far, and whether someone spoke near the microphone just
    // before it came. Returns the match to report, whose matchedText is the window it was found
    // in; nothing when there is no match or it falls within the cooldown. A match heard without
    // near speech is dropped: its window is emptied, but no cooldown starts, so a call right
    // after it is still reported.
    // A transcript that does not open its utterance (cut from the middle of someone's talk) says
    // nothing of the address by its first word.
    std::optional<WakePhraseMatch> hear(const std::string& transcript, bool heardNearSpeech = true,
                                        bool opensUtterance = true);
    // With it, a match is reported only once the transcript says the phrase as an address
    // (AddressCue): opening the utterance, after a greeting or "you", or ending it (reported with
    // the recogniser's empty transcript that ends the utterance); a phrase in the middle of a
    // sentence is never reported.
    void setRequiresAddress(bool requiresAddress) { requiresAddress_ = requiresAddress; }
    bool requiresAddress() const { return requiresAddress_; }

    AppLocale locale() const { return locale_; }
    const std::vector<std::string>& phrases() const { return phrases_; }
    const std::string& recentMatchingText() const { return recentMatchingText_; }

private:
    bool shouldResetRecentMatchingText(Clock::TimePoint now) const;
    bool canEmitDetection(Clock::TimePoint now) const;

    const AppLocale locale_;
    const std::shared_ptr<const Clock> clock_;
    bool requiresAddress_ = false;
    std::optional<WakePhraseMatch> matchBeforePause_; // reported if the utterance ends next
    std::vector<std::string> phrases_;
    std::optional<Clock::TimePoint> lastDetectionAt_;
    std::string lastMatchedTranscript_; // the previous transcript, whether it matched or not
    std::string recentMatchingText_;
    std::optional<Clock::TimePoint> lastMatchingTextUpdatedAt_;
};

} // namespace harkwell
