#pragma once

#include "core/Clock.h"
#include "core/OwnerContext.h"
#include "core/PermissionService.h"
#include "core/SerialQueue.h"
#include "detection/AudioCapture.h"
#include "detection/CaptureWatchdog.h"
#include "detection/DetectionGate.h"
#include "detection/NearSpeechWatch.h"
#include "detection/RecognitionEvent.h"
#include "detection/SpeechRecognizer.h"
#include "detection/WakePhraseListener.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace harkwell {

// Listens for call phrases, each in its own language (listeningLanguageOf: Hangul phrases in Korean,
// Latin ones in English), whatever the interface's: checks that on-device recognition exists for
// at least one of the phrases' languages (the phrases of the others, and those of no language,
// are not listened for, and the log says so), asks for the speech and microphone permissions,
// streams the chosen or built-in microphone into a recognition request and turns the recogniser's
// results into call detections through a DetectionGate (at most one reported detection per
// cooldown, and a recent-text window per language that goes stale after a pause). The
// same audio goes through a NearSpeechWatch, which tells when someone speaks near the microphone;
// when asked to, the detector reports a call only if someone did in the last `nearSpeechLookBack`
// of audio, so that a phrase the recogniser makes out of distant chatter is not taken for a call.
// A microphone that delivers nothing for `audioTimeout` by the clock, from the start of capture
// on, is reported as stopped.
//
// Threads: construct, start and stop it on the main thread (a Qt application must exist);
// permission answers, recognition results, capture errors and near speech reach the main thread
// while the session they belong to lives. Its "Harkwell.capture" queue reads the sound server's
// inputs, opens and starts capture, takes the audio buffers and tears the session down, so that
// neither a sound server that does not answer nor a recogniser that is still setting up holds the
// main thread. Destruction waits for that teardown, the recogniser's threads included; once
// stopped, the detector may be destroyed on any thread.
class WakePhraseDetector : public WakePhraseListener {
public:
    static constexpr std::chrono::milliseconds audioTimeout{4000};
    static constexpr std::chrono::milliseconds nearSpeechLookBack{2000};

    // The platform services the detector listens through.
    struct Platform {
        SpeechRecognizerFactory speechRecognizers;
        std::shared_ptr<AudioCaptureDevices> captureDevices;
        std::shared_ptr<PermissionService> permissions;
    };

    explicit WakePhraseDetector(Platform platform,
                                std::shared_ptr<const Clock> clock = std::make_shared<SteadyClock>());
    // Stops, then waits for capture and recognition to end.
    ~WakePhraseDetector() override;
    WakePhraseDetector(const WakePhraseDetector&) = delete;
    WakePhraseDetector& operator=(const WakePhraseDetector&) = delete;

    // Takes the phrases and the callbacks, clears the session state and starts listening. The
    // recogniser is asked of the platform for the phrases' languages (English when no phrase has
    // one), again only when they change.
    // Start-up failures reach onError; of the capture's failures, the first of a session does.
    // onListening, when given, hears when audio first arrives; near speech reaches onNearSpeech on
    // the main thread, at most twice a second.
    void start(const std::vector<std::string>& phrases, DetectedCallback onDetected, ErrorCallback onError,
               ListeningCallback onListening = nullptr, NearSpeechCallback onNearSpeech = nullptr) override;
    // Ends the session at once: nothing of it reaches the callbacks any more. Capture and
    // recognition are torn down on the capture queue. A second call does nothing.
    void stop() override;
    // Whether the capture queue has started capture for the session and not torn it down.
    bool isCapturing() const { return isCapturing_.load(); }
    // The peak of the last 100 ms of the audio the recogniser gets (0 to 1), kept as the capture
    // queue hears it; 0 once stopped.
    double inputLevel() const override { return inputLevel_.load(std::memory_order_relaxed); }
    // From the next start on, listens on the sound server's input with this identifier, or, when
    // it is empty (as at first), on the built-in microphone. A chosen input that is not there
    // fails the start with chosenMicrophoneMissing; nothing else is taken in its place. The inputs
    // are read on the capture queue.
    void useMicrophone(std::string sourceId) { microphoneSource_ = std::move(sourceId); }

    // A call is reported only when said as an address (DetectionGate::setRequiresAddress).
    void setRequiresAddress(bool requiresAddress) { gate_.setRequiresAddress(requiresAddress); }
    // A call is reported only when someone spoke near the microphone within the last
    // nearSpeechLookBack of the audio captured by then.
    void setRequiresNearSpeech(bool requiresNearSpeech) { requiresNearSpeech_ = requiresNearSpeech; }

private:
    // What one session's capture holds; made, used and destroyed on the capture queue.
    struct Capture {
        std::shared_ptr<SpeechRecognizer> recognizer; // outlives its task
        std::unique_ptr<AudioCaptureSession> session;
        std::shared_ptr<RecognitionRequest> request;
        std::unique_ptr<RecognitionTask> task;
        std::unique_ptr<CaptureWatchdog> watchdog;
        NearSpeechWatch nearSpeechWatch;
        std::string microphoneName;
    };

    void handleRecognitionEvent(const RecognitionEvent& event);
    void reportError(const Error& error);

    void requestSpeechAuthorization(std::function<void(bool granted)> completion);
    void requestMicrophoneAccess();
    // On the capture queue: the microphone for the session's choice among the sound server's
    // inputs, opened; the recognition of its audio; capture started.
    void startCapture(const OwnerContext::Handle& session, const std::string& source,
                      std::shared_ptr<SpeechRecognizer> recognizer, const std::vector<std::string>& contextualStrings);
    // The recogniser for the languages, made when they differ from the last start's.
    void prepareRecognizer(const std::vector<AppLocale>& languages);
    // From any thread: the first failure of the capture (the watchdog's finding included) reaches
    // onError, while the capture and its session live.
    void failCapture(std::weak_ptr<Capture> capture, OwnerContext::Handle session, const Error& error);
    void endCapture();

    const std::shared_ptr<const Clock> clock_;
    DetectionGate gate_;
    SpeechRecognizerFactory speechRecognizers_;
    std::optional<std::vector<AppLocale>> recognizerLanguages_; // what speechRecognizer_ was asked for
    std::shared_ptr<SpeechRecognizer> speechRecognizer_;
    std::shared_ptr<AudioCaptureDevices> captureDevices_;
    std::shared_ptr<PermissionService> permissions_;
    std::string microphoneSource_;
    std::shared_ptr<Capture> capture_;  // on the capture queue only
    std::atomic<double> inputLevel_{0}; // written on the capture queue
    // Whole frames captured since near speech, as the capture queue last saw it.
    static constexpr std::uint64_t noNearSpeech = UINT64_MAX;
    std::atomic<std::uint64_t> framesSinceNearSpeech_{noNearSpeech};
    std::atomic<bool> isCapturing_{false};
    bool requiresNearSpeech_ = false;
    // The listening session between start and stop: what is handed back to the main thread for it
    // runs while it lives.
    std::unique_ptr<OwnerContext> session_;
    DetectedCallback onDetected_;
    ErrorCallback onError_;
    ListeningCallback onListening_;
    NearSpeechCallback onNearSpeech_;
    // Last, so that it drains first: its work uses the members above.
    std::unique_ptr<SerialQueue> captureQueue_;
};

} // namespace harkwell
