#pragma once

#include "core/Clock.h"
#include "matching/AppLocale.h"
#include "matching/WakePhraseMatching.h"

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace harkwell {

// Turns the recogniser's running transcripts into call detections. The transcripts of each
// language are a stream of their own, matched with that language's policy against the phrases
// listened for in it (listeningLanguageOf; Korean also hears Latin phrases as spelt): each transcript updates its
// language's recent-text window (what it appends to the language's previous transcript, or all of it when it rewrote
// that); a window that has not grown for the reset interval is emptied before new words join it.
// A match empties its window and is reported unless an earlier report, in either language, lies
// within the cooldown.
//
// Pure: no threads and no Qt; time comes from the injected clock. Not thread-safe.
class DetectionGate {
public:
    static constexpr std::chrono::milliseconds detectionCooldown{8000};
    static constexpr std::chrono::milliseconds recentMatchingResetInterval{1200};

    explicit DetectionGate(std::shared_ptr<const Clock> clock);

    // Listens for these phrases (normalised here; those of no language are left out) from now on,
    // forgetting everything heard before and the cooldown of the last report.
    void reset(const std::vector<std::string>& phrases);
    // The recogniser's transcript so far in a language, and whether someone spoke near the
    // microphone just before it came. Returns the match to report, whose matchedText is the window
    // it was found in; nothing when there is no match or it falls within the cooldown. A match
    // heard without near speech is dropped: its window is emptied, but no cooldown starts, so a
    // call right after it is still reported.
    // A transcript that does not open its utterance (cut from the middle of someone's talk) says
    // nothing of the address by its first word.
    std::optional<WakePhraseMatch> hear(const std::string& transcript, AppLocale language, bool heardNearSpeech = true,
                                        bool opensUtterance = true);
    // With it, a match is reported only once the transcript says the phrase as an address
    // (AddressCue): opening the utterance, after a greeting or "you", or ending it (reported with
    // the recogniser's empty transcript in that language that ends the utterance); a phrase in the
    // middle of a sentence is never reported.
    void setRequiresAddress(bool requiresAddress) { requiresAddress_ = requiresAddress; }
    bool requiresAddress() const { return requiresAddress_; }

    // The phrases listened for, normalised, in their order.
    const std::vector<std::string>& phrases() const { return phrases_; }
    const std::string& recentMatchingText(AppLocale language) const { return streams_[language].recentMatchingText; }

private:
    // What the gate holds of one language's transcripts.
    struct Stream {
        std::vector<std::string> phrases;
        std::optional<WakePhraseMatch> matchBeforePause; // reported if the utterance ends next
        std::string lastMatchedTranscript;               // the previous transcript, whether it matched or not
        std::string recentMatchingText;
        std::optional<Clock::TimePoint> lastMatchingTextUpdatedAt;

        bool shouldResetRecentMatchingText(Clock::TimePoint now) const;
    };

    bool canEmitDetection(Clock::TimePoint now) const;

    const std::shared_ptr<const Clock> clock_;
    bool requiresAddress_ = false;
    std::vector<std::string> phrases_;
    std::array<Stream, 2> streams_; // by AppLocale::Value
    std::optional<Clock::TimePoint> lastDetectionAt_;
};

} // namespace harkwell
