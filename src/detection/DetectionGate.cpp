#include "detection/DetectionGate.h"

#include "detection/AddressCue.h"
#include "matching/PhraseLanguage.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace harkwell {

DetectionGate::DetectionGate(std::shared_ptr<const Clock> clock) : clock_(std::move(clock)) {}

void DetectionGate::reset(const std::vector<std::string>& phrases) {
    const auto normalized = normalizedWakePhrases(phrases);
    phrases_.clear();
    std::copy_if(normalized.begin(), normalized.end(), std::back_inserter(phrases_),
                 [](const std::string& phrase) { return listeningLanguageOf(phrase).has_value(); });
    for (const AppLocale language : {AppLocale::english, AppLocale::korean}) {
        streams_[language] = Stream();
        streams_[language].phrases = phrasesHeardIn(normalized, language);
    }
    // Whisper writes a Latin name in a Korean sentence as it is spelt, often with a particle glued
    // to it ("James야"): the Korean policy hears those, as it always has.
    auto& korean = streams_[AppLocale::korean].phrases;
    const auto latin = phrasesHeardIn(normalized, AppLocale::english);
    korean.insert(korean.end(), latin.begin(), latin.end());
    lastDetectionAt_.reset();
}

std::optional<WakePhraseMatch> DetectionGate::hear(const std::string& transcript, AppLocale language,
                                                   bool heardNearSpeech, bool opensUtterance) {
    const auto now = clock_->now();
    auto& stream = streams_[language];
    const auto update = incrementalTranscriptUpdate(stream.lastMatchedTranscript, transcript);
    if (stream.shouldResetRecentMatchingText(now)) {
        stream.recentMatchingText.clear();
    }
    stream.recentMatchingText = applyingTranscriptUpdate(update, stream.recentMatchingText, stream.phrases);
    if (!update.text().empty()) {
        stream.lastMatchingTextUpdatedAt = now;
    }
    // A phrase that ended the last transcript was said before a pause when the utterance ended
    // right there (the recogniser's empty transcript).
    auto beforePause = std::exchange(stream.matchBeforePause, std::nullopt);
    const bool isAtPause = beforePause && transcript.empty();
    auto match =
        isAtPause ? std::move(beforePause) : matchWakePhrases(stream.recentMatchingText, stream.phrases, language);
    stream.lastMatchedTranscript = transcript;
    if (!match) {
        return std::nullopt;
    }
    if (requiresAddress_ && !isAtPause) {
        auto cue = addressCue(transcript, match->targetPhrase);
        if (cue == AddressCue::utteranceStart && !opensUtterance) {
            cue.reset();
        }
        if (cue == AddressCue::beforePause) {
            stream.matchBeforePause = std::move(match);
            return std::nullopt;
        }
        if (!cue) {
            return std::nullopt;
        }
    }
    stream.recentMatchingText.clear();
    stream.lastMatchingTextUpdatedAt.reset();
    if (!heardNearSpeech || !canEmitDetection(now)) {
        return std::nullopt;
    }
    lastDetectionAt_ = now;
    return match;
}

bool DetectionGate::Stream::shouldResetRecentMatchingText(Clock::TimePoint now) const {
    if (recentMatchingText.empty() || !lastMatchingTextUpdatedAt) {
        return false;
    }
    return now - *lastMatchingTextUpdatedAt >= recentMatchingResetInterval;
}

bool DetectionGate::canEmitDetection(Clock::TimePoint now) const {
    return !lastDetectionAt_ || now - *lastDetectionAt_ >= detectionCooldown;
}

} // namespace harkwell
