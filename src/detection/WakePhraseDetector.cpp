#include "detection/WakePhraseDetector.h"

#include "core/HandOff.h"
#include "core/Log.h"
#include "matching/WakePhraseMatching.h"

#include <QCoreApplication>

#include <algorithm>

namespace harkwell {

namespace {

// UTF-8 text for the diagnostics, which print it quoted.
QString logged(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

} // namespace

WakePhraseDetector::WakePhraseDetector(AppLocale locale, Platform platform, std::shared_ptr<const Clock> clock)
    : clock_(std::move(clock)), gate_(locale, clock_), captureDevices_(std::move(platform.captureDevices)),
      permissions_(std::move(platform.permissions)), captureQueue_(std::make_unique<SerialQueue>("Harkwell.capture")) {
    if (platform.speechRecognizers) {
        speechRecognizer_ = platform.speechRecognizers(locale);
    }
}

WakePhraseDetector::~WakePhraseDetector() {
    // Capture callbacks use this detector; they must end before it does.
    stop();
}

void WakePhraseDetector::start(const std::vector<std::string>& phrases, DetectedCallback onDetected,
                               ErrorCallback onError, ListeningCallback onListening, NearSpeechCallback onNearSpeech) {
    // Starting again replaces what an earlier start set going, answers still on their way included.
    stop();
    gate_.reset(phrases);
    onDetected_ = std::move(onDetected);
    onError_ = std::move(onError);
    onListening_ = std::move(onListening);
    onNearSpeech_ = std::move(onNearSpeech);
    isStarted_ = true;
    QStringList phraseList;
    for (const auto& phrase : gate_.phrases()) {
        phraseList.append(logged(phrase));
    }
    qCInfo(logDetection) << "Listening in" << logged(gate_.locale().rawValue()) << "for" << phraseList;

    if (!speechRecognizer_ || !speechRecognizer_->isAvailable()) {
        reportError(AppError::speechUnavailable(gate_.locale()));
        return;
    }
    if (!speechRecognizer_->supportsOnDeviceRecognition()) {
        reportError(AppError::onDeviceSpeechUnavailable(gate_.locale()));
        return;
    }
    requestSpeechAuthorization([this](bool granted) {
        if (!granted) {
            reportError(AppError::permissionDenied("Speech Recognition"));
            return;
        }
        requestMicrophoneAccess();
    });
}

void WakePhraseDetector::stop() {
    ++session_;
    if (isStarted_) {
        isStarted_ = false;
        qCInfo(logDetection) << "Stopped listening";
    }
    captureQueue_->sync([this] {
        if (captureSession_) {
            captureSession_->stop();
        }
        if (recognitionRequest_) {
            recognitionRequest_->endAudio();
        }
        if (recognitionTask_) {
            recognitionTask_->cancel();
        }
        captureSession_.reset();
        recognitionRequest_.reset();
        recognitionTask_.reset();
        nearSpeechWatch_ = NearSpeechWatch();
        inputLevel_.store(0, std::memory_order_relaxed);
        framesSinceNearSpeech_.store(noNearSpeech, std::memory_order_relaxed);
    });
    captureWatchdog_.reset();
}

template <typename... Args>
std::function<void(Args...)> WakePhraseDetector::onMainThread(std::type_identity_t<std::function<void(Args...)>> work) {
    return [alive = std::weak_ptr<const int>(alive_), session = session_, this, work = std::move(work)](Args... args) {
        // The detector is destroyed on the main thread only, so checking there is enough.
        handOff(QCoreApplication::instance(), [alive, session, this, work, args...] {
            if (!alive.expired() && session == session_) {
                work(args...);
            }
        });
    };
}

void WakePhraseDetector::requestSpeechAuthorization(std::function<void(bool granted)> completion) {
    permissions_->requestSpeechAuthorization(
        onMainThread<AuthorizationStatus>([completion = std::move(completion)](AuthorizationStatus status) {
            completion(status == AuthorizationStatus::authorized);
        }));
}

void WakePhraseDetector::requestMicrophoneAccess() {
    permissions_->requestMicrophoneAccess(onMainThread<bool>([this](bool granted) {
        if (!granted) {
            reportError(AppError::permissionDenied("Microphone"));
            return;
        }
        if (auto error = configureCapture()) {
            reportError(*error);
            return;
        }
        startRecognition();
    }));
}

std::optional<Error> WakePhraseDetector::configureCapture() {
    std::unique_ptr<AudioCaptureSession> session;
    try {
        const auto devices = captureDevices_->inputDevices();
        std::optional<AudioInputDevice> microphone;
        if (microphoneSource_.empty()) {
            microphone = preferredBuiltInMicrophone(devices);
        } else if (const auto chosen = std::find_if(devices.begin(), devices.end(),
                                                    [this](const AudioInputDevice& device) {
                                                        return device.uniqueId == microphoneSource_ &&
                                                               !device.isMonitor;
                                                    });
                   chosen != devices.end()) {
            microphone = *chosen;
        }
        if (!microphone) {
            return microphoneSource_.empty() ? AppError::microphoneMissing() : AppError::chosenMicrophoneMissing();
        }
        session = captureDevices_->open(*microphone);
        microphoneName_ = microphone->localizedName;
    } catch (const Error& error) {
        return error;
    }
    // Nothing is stored until every step has worked.
    recognitionRequest_ = speechRecognizer_->makeRequest(wakePhraseContextualStrings(gate_.phrases(), gate_.locale()));
    captureSession_ = std::move(session);
    return std::nullopt;
}

void WakePhraseDetector::startRecognition() {
    if (!speechRecognizer_ || !recognitionRequest_) {
        return;
    }
    // Results come on the main thread, where the detector is also destroyed; those of a task
    // that was stopped may still be on their way, and are dropped.
    recognitionTask_ = speechRecognizer_->recognitionTask(
        recognitionRequest_,
        [alive = std::weak_ptr<const int>(alive_), session = session_, this](const RecognitionEvent& event) {
            if (!alive.expired() && session == session_) {
                handleRecognitionEvent(event);
            }
        });
    // Watching starts before capture does: a capture that never gets going is caught as well.
    captureWatchdog_ = std::make_unique<CaptureWatchdog>(
        clock_, audioTimeout, onMainThread<>([this] {
            if (onListening_) {
                auto onListening = onListening_; // a copy: the callback may start this detector again
                onListening();
            }
        }),
        onMainThread<>([this] { reportCaptureFailure(AppError::microphoneStopped(microphoneName_)); }));
    // The queue belongs to this detector and is drained before it goes, so `this` outlives the work;
    // the watchdog goes only after capture has stopped.
    captureQueue_->async(
        [this, watchdog = captureWatchdog_.get(),
         onCaptureError = onMainThread<Error>([this](const Error& error) { reportCaptureFailure(error); }),
         onNearSpeech = onMainThread<>([this] {
             if (onNearSpeech_) {
                 onNearSpeech_();
             }
         })] {
            if (!captureSession_) {
                return;
            }
            captureSession_->start(
                [this, watchdog, onNearSpeech](std::span<const std::int16_t> samples) {
                    watchdog->beginBuffer();
                    if (recognitionRequest_) {
                        recognitionRequest_->append(samples);
                    }
                    watchdog->endBuffer();
                    const bool near = nearSpeechWatch_.hear(samples);
                    inputLevel_.store(nearSpeechWatch_.lastFramePeak(), std::memory_order_relaxed);
                    framesSinceNearSpeech_.store(nearSpeechWatch_.framesSinceNearSpeech().value_or(noNearSpeech),
                                                 std::memory_order_relaxed);
                    if (near) {
                        onNearSpeech();
                    }
                },
                onCaptureError);
        });
}

void WakePhraseDetector::handleRecognitionEvent(const RecognitionEvent& event) {
    if (event.transcript) {
        constexpr auto lookBackFrames = static_cast<std::uint64_t>(
            nearSpeechLookBack.count() * NearSpeechWatch::sampleRate / 1000 / NearSpeechWatch::frameSamples);
        const bool heardNearSpeech =
            !requiresNearSpeech_ || framesSinceNearSpeech_.load(std::memory_order_relaxed) <= lookBackFrames;
        if (const auto match = gate_.hear(*event.transcript, heardNearSpeech, event.opensUtterance)) {
            qCInfo(logDetection) << "Detected" << logged(match->targetPhrase) << "in the window"
                                 << logged(match->matchedText) << "as" << logged(match->matchedForm);
            if (onDetected_) {
                // A copy: the callback may start this detector again, replacing itself.
                auto onDetected = onDetected_;
                onDetected(match->targetPhrase);
            }
        }
    }
    if (event.error) {
        reportError(*event.error);
    }
}

void WakePhraseDetector::reportError(const Error& error) {
    if (onError_) {
        // A copy: the callback may start this detector again, replacing itself.
        auto onError = onError_;
        onError(error);
    }
}

void WakePhraseDetector::reportCaptureFailure(const Error& error) {
    // The capture and the watchdog may both see the microphone go; the first tells.
    if (captureWatchdog_ && captureWatchdog_->noteFailure()) {
        reportError(error);
    }
}

} // namespace harkwell
