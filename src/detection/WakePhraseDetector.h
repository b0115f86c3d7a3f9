#pragma once

#include "core/Clock.h"
#include "core/PermissionService.h"
#include "core/SerialQueue.h"
#include "detection/AudioCapture.h"
#include "detection/DetectionGate.h"
#include "detection/RecognitionEvent.h"
#include "detection/SpeechRecognizer.h"
#include "detection/WakePhraseListener.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace harkwell {

// Listens for call phrases: checks that on-device recognition exists for the locale, asks for the
// speech and microphone permissions, streams the built-in microphone into a recognition request
// and turns the recogniser's results into call detections through a DetectionGate (at most one
// reported detection per cooldown, and a recent-text window that goes stale after a pause).
//
// Threads: construct, start, stop and destroy it on the main thread (a Qt application must
// exist). Permission answers and capture errors are moved to the main thread; recognition results
// arrive there; audio buffers arrive on its "Harkwell.capture" queue, which also starts capture
// and runs stop's teardown.
class WakePhraseDetector : public WakePhraseListener {
public:
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
    // Start-up failures reach onError.
    void start(const std::vector<std::string>& phrases, DetectedCallback onDetected, ErrorCallback onError) override;
    // Tears down capture and recognition synchronously on the capture queue. Permission answers
    // still on their way are dropped. A second call does nothing.
    void stop() override;
    bool isCapturing() const { return captureSession_ != nullptr; }

    AppLocale locale() const { return gate_.locale(); }
    // A call is reported only when said as an address (DetectionGate::setRequiresAddress).
    void setRequiresAddress(bool requiresAddress) { gate_.setRequiresAddress(requiresAddress); }

private:
    void handleRecognitionEvent(const RecognitionEvent& event);
    void reportError(const Error& error);

    void requestSpeechAuthorization(std::function<void(bool granted)> completion);
    void requestMicrophoneAccess();
    std::optional<Error> configureCapture();
    void startRecognition();
    // Wraps work so that, called from any thread, it runs on the main thread while this detector
    // lives and the listening session it was made for has not been stopped.
    template <typename... Args>
    std::function<void(Args...)> onMainThread(std::type_identity_t<std::function<void(Args...)>> work);

    DetectionGate gate_;
    std::unique_ptr<SpeechRecognizer> speechRecognizer_;
    std::shared_ptr<AudioCaptureDevices> captureDevices_;
    std::shared_ptr<PermissionService> permissions_;
    std::unique_ptr<SerialQueue> captureQueue_;
    std::unique_ptr<AudioCaptureSession> captureSession_;
    std::shared_ptr<RecognitionRequest> recognitionRequest_;
    std::unique_ptr<RecognitionTask> recognitionTask_;
    // Gone when the detector goes; read only on the main thread.
    const std::shared_ptr<const int> alive_ = std::make_shared<const int>(0);
    unsigned session_ = 0;   // counts stops, so that late answers of a stopped session are dropped
    bool isStarted_ = false; // between start and stop, for the diagnostics
    DetectedCallback onDetected_;
    ErrorCallback onError_;
};

} // namespace harkwell
