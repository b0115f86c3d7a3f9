#pragma once

#include "core/Clock.h"
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
#include <type_traits>
#include <vector>

namespace harkwell {

// Listens for call phrases: checks that on-device recognition exists for the locale, asks for the
// speech and microphone permissions, streams the chosen or built-in microphone into a recognition request
// and turns the recogniser's results into call detections through a DetectionGate (at most one
// reported detection per cooldown, and a recent-text window that goes stale after a pause). The
// same audio goes through a NearSpeechWatch, which tells when someone speaks near the microphone;
// when asked to, the detector reports a call only if someone did in the last `nearSpeechLookBack`
// of audio, so that a phrase the recogniser makes out of distant chatter is not taken for a call.
// A microphone that delivers nothing for `audioTimeout` by the clock, from the start of capture
// on, is reported as stopped.
//
// Threads: construct, start, stop and destroy it on the main thread (a Qt application must
// exist). Permission answers and capture errors are moved to the main thread; recognition results
// arrive there; audio buffers arrive on its "Harkwell.capture" queue, which also starts capture
// and runs stop's teardown.
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

    WakePhraseDetector(AppLocale locale, Platform platform,
                       std::shared_ptr<const Clock> clock = std::make_shared<SteadyClock>());
    // Stops capture and recognition first.
    ~WakePhraseDetector() override;
    WakePhraseDetector(const WakePhraseDetector&) = delete;
    WakePhraseDetector& operator=(const WakePhraseDetector&) = delete;

    // Takes the phrases and the callbacks, clears the session state and starts listening.
    // Start-up failures reach onError; of the capture's failures, the first of a session does.
    // onListening, when given, hears when audio first arrives; near speech reaches onNearSpeech on
    // the main thread, at most twice a second.
    void start(const std::vector<std::string>& phrases, DetectedCallback onDetected, ErrorCallback onError,
               ListeningCallback onListening = nullptr, NearSpeechCallback onNearSpeech = nullptr) override;
    // Tears down capture and recognition synchronously on the capture queue. Permission answers
    // still on their way are dropped. A second call does nothing.
    void stop() override;
    bool isCapturing() const { return captureSession_ != nullptr; }
    // The peak of the last 100 ms of the audio the recogniser gets (0 to 1), kept as the capture
    // queue hears it; 0 once stopped.
    double inputLevel() const override { return inputLevel_.load(std::memory_order_relaxed); }
    // From the next start on, listens on the sound server's input with this identifier, or, when
    // it is empty (as at first), on the built-in microphone. A chosen input that is not there
    // fails the start with chosenMicrophoneMissing; nothing else is taken in its place.
    void useMicrophone(std::string sourceId) { microphoneSource_ = std::move(sourceId); }

    AppLocale locale() const { return gate_.locale(); }
    // A call is reported only when said as an address (DetectionGate::setRequiresAddress).
    void setRequiresAddress(bool requiresAddress) { gate_.setRequiresAddress(requiresAddress); }
    // A call is reported only when someone spoke near the microphone within the last
    // nearSpeechLookBack of the audio captured by then.
    void setRequiresNearSpeech(bool requiresNearSpeech) { requiresNearSpeech_ = requiresNearSpeech; }

private:
    void handleRecognitionEvent(const RecognitionEvent& event);
    void reportError(const Error& error);
    void reportCaptureFailure(const Error& error);

    void requestSpeechAuthorization(std::function<void(bool granted)> completion);
    void requestMicrophoneAccess();
    std::optional<Error> configureCapture();
    void startRecognition();
    // Wraps work so that, called from any thread, it runs on the main thread while this detector
    // lives and the listening session it was made for has not been stopped.
    template <typename... Args>
    std::function<void(Args...)> onMainThread(std::type_identity_t<std::function<void(Args...)>> work);

    const std::shared_ptr<const Clock> clock_;
    DetectionGate gate_;
    std::unique_ptr<SpeechRecognizer> speechRecognizer_;
    std::shared_ptr<AudioCaptureDevices> captureDevices_;
    std::shared_ptr<PermissionService> permissions_;
    std::unique_ptr<SerialQueue> captureQueue_;
    std::unique_ptr<AudioCaptureSession> captureSession_;
    std::shared_ptr<RecognitionRequest> recognitionRequest_;
    std::string microphoneSource_;
    std::string microphoneName_;
    // Made on the main thread before capture starts, gone after capture has stopped.
    std::unique_ptr<CaptureWatchdog> captureWatchdog_;
    std::unique_ptr<RecognitionTask> recognitionTask_;
    NearSpeechWatch nearSpeechWatch_;   // used on the capture queue
    std::atomic<double> inputLevel_{0}; // written on the capture queue
    // Whole frames captured since near speech, as the capture queue last saw it.
    static constexpr std::uint64_t noNearSpeech = UINT64_MAX;
    std::atomic<std::uint64_t> framesSinceNearSpeech_{noNearSpeech};
    bool requiresNearSpeech_ = false;
    // Gone when the detector goes; read only on the main thread.
    const std::shared_ptr<const int> alive_ = std::make_shared<const int>(0);
    unsigned session_ = 0;   // counts stops, so that late answers of a stopped session are dropped
    bool isStarted_ = false; // between start and stop, for the diagnostics
    DetectedCallback onDetected_;
    ErrorCallback onError_;
    ListeningCallback onListening_;
    NearSpeechCallback onNearSpeech_;
};

} // namespace harkwell
