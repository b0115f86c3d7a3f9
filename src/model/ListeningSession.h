#pragma once

#include "core/Clock.h"
#include "core/OwnerContext.h"
#include "core/SerialQueue.h"
#include "core/Ticker.h"
#include "detection/DetectionSensitivity.h"
#include "detection/WakePhraseListener.h"
#include "matching/AppLocale.h"
#include "model/MicrophoneInputs.h"
#include "speech/WhisperModel.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace harkwell {

// The listener that runs for the call phrases, one session at a time: each start begins a new
// session, and what a session's listener still reports once it has ended is dropped. Listening
// on a chosen microphone starts once MicrophoneInputs has said where (it may give way to the
// automatic choice, named by fallbackMicrophone). Ended listeners are stopped on the main thread
// and end their threads on the "Harkwell.retiring" thread.
//
// Listening that ends because the sound server or the microphone went away is tried again quietly
// (onResumeDue), after 1 s, then after twice as long each time up to 30 s by the clock, until
// audio comes (onResumed), another error ends it, or cancelResume. While the sound server is out of
// reach it is watched meanwhile (asked for its inputs each second, no listener made), and the try
// comes as soon as it answers again, however long the wait has grown. Also keeps the notice of the
// accurate recogniser's model, whose arrival starts a new session over the same phrases. Main
// thread only.
class ListeningSession : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::seconds firstResumeDelay{1};
    static constexpr std::chrono::seconds longestResumeDelay{30};

    // whisperModel: the accurate recogniser's model, which listeners share; none: no notice. Its
    // load starts here, so that the first call is already heard with it.
    ListeningSession(WakePhraseListenerFactory listenerFactory, MicrophoneInputs& microphones,
                     std::shared_ptr<const Clock> clock, std::unique_ptr<Ticker> ticker,
                     std::shared_ptr<WhisperModel> whisperModel, QObject* parent = nullptr);
    // Stops the listener and waits for the threads of every ended one.
    ~ListeningSession() override;

    // What the session's listener reports, on the main thread. An error ends the session (and any
    // trying again) before onFailed hears it; when the sound went away, trying again begins after.
    // The phrase, and the words heard around it.
    std::function<void(const QString& phrase, const QString& heard)> onDetected;
    std::function<void(const Error& error)> onFailed;
    std::function<void()> onNearSpeech;
    // Audio came to a try to listen again.
    std::function<void()> onResumed;
    // Time for the next try: the receiver starts a session when it still may.
    std::function<void()> onResumeDue;

    // Starts a new session over the phrases, ending the one under way.
    void start(const std::vector<std::string>& phrases);
    // Ends the session under way, if any.
    void stop();
    // Ends the session under way, if any, and lets the model go until listening starts again:
    // listening is off now, not between two sessions.
    void end();
    // A session is under way (its listener runs, or waits to hear where to listen or for the model
    // its phrases need).
    bool isRunning() const { return listener_ || isAwaitingSource_ || awaitingModel_; }
    // Counts sessions: work for a session that has ended meanwhile can tell.
    std::uint64_t id() const { return session_; }
    // The peak of the last 100 ms the microphone heard, 0 to 1 of full scale; 0 without a listener.
    double inputLevel() const { return listener_ ? listener_->inputLevel() : 0; }

    DetectionSensitivity sensitivity() const { return sensitivity_; }
    // While a listener runs, a new level starts a new session over the same phrases at once.
    void setSensitivity(DetectionSensitivity sensitivity);
    // A new session over the same phrases, while a listener runs (the microphone chosen changed).
    void restartListener();
    // While listening goes on the automatic choice because the chosen input was not there at its
    // start: the description of the input it uses; else empty.
    const QString& fallbackMicrophone() const { return fallbackMicrophone_; }

    bool isWaitingToResume() const { return resume_.has_value(); }
    void cancelResume();
    // Ends the session for other phrases: a try under way is followed by the next at once.
    void stopForNewPhrases();

    // What the accurate recogniser's model leaves unheard, for the languages of the call phrases:
    // with a Korean phrase, that Korean cannot be heard (the model is not installed, could not be
    // loaded, or hears English only); else that listening goes on with the basic recogniser alone
    // (not installed, could not be loaded). Empty while it loads, when everything can be heard, and
    // without a model.
    const QString& recognizerNotice() const { return recognizerNotice_; }
    // The languages of the list's call phrases (PhraseBook::languages), which the notice speaks of;
    // without any, the interface language.
    void setPhraseLanguages(std::vector<AppLocale> languages);
    // Whether phrases in Korean can be heard: not once the model is known to be missing, unreadable
    // or English-only (only Whisper hears Korean); yes while it loads, and without a model.
    bool isKoreanHeard() const;

signals:
    void sensitivityChanged();
    void fallbackMicrophoneChanged();
    void recognizerNoticeChanged();
    void isKoreanHeardChanged();

private:
    void makeListener(std::uint64_t session, const std::string& source, const QString& fallback);
    void handleError(const Error& error);
    void handleListening();
    void scheduleResume(Clock::duration delay, bool isServerAway);
    void resumeWhenDue();
    // Asks whether the sound server is back, at most once a second, while it is away.
    void watchServer();
    void updateTicker();
    void retireListener();
    void assignFallbackMicrophone(const QString& name);
    // The notice as the model and the phrases' languages now stand.
    void updateRecognizerNotice();

    WakePhraseListenerFactory listenerFactory_;
    MicrophoneInputs& microphones_;
    std::shared_ptr<const Clock> clock_;
    std::unique_ptr<Ticker> ticker_;
    bool isTicking_ = false;
    std::shared_ptr<WhisperModel> whisperModel_;
    SerialQueue retiringQueue_{"Harkwell.retiring"};
    DetectionSensitivity sensitivity_ = DetectionSensitivity::medium;
    std::vector<std::string> phrases_;
    std::vector<AppLocale> phraseLanguages_;
    std::unique_ptr<WakePhraseListener> listener_;
    bool isAwaitingSource_ = false;
    // Where to listen, kept while the model that alone hears the phrases (Korean ones) loads.
    struct Source {
        std::string name;
        QString fallback;
    };
    std::optional<Source> awaitingModel_;
    bool needsTheLoadingModel() const;
    std::uint64_t session_ = 0;
    QString fallbackMicrophone_;
    QString recognizerNotice_;
    // While listening waits to start again: the delay before the next try, and when it is due
    // (none while a try is under way).
    struct Resume {
        Clock::duration delay;
        std::optional<Clock::TimePoint> at;
        // When the wait began (the last try failed), and whether that try found the sound server
        // out of reach, which is then watched for.
        Clock::TimePoint since;
        bool isServerAway = false;
        std::optional<Clock::TimePoint> lastWatch;
    };
    bool isWatchingServer_ = false;
    std::optional<Resume> resume_;
    // Last, so that it goes first: what listeners report as they end does nothing.
    OwnerContext owner_;
};

} // namespace harkwell
