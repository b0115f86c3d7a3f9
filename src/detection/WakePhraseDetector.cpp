#include "detection/WakePhraseDetector.h"

#include "core/HandOff.h"
#include "core/Log.h"
#include "matching/PhraseLanguage.h"
#include "matching/WakePhraseMatching.h"

#include <QStringList>

#include <algorithm>

namespace harkwell {

namespace {

// The phrases of the languages heard; the log tells which others are left out and why.
std::vector<std::string> phrasesListenedFor(const std::vector<std::string>& phrases,
                                            const std::vector<AppLocale>& heard) {
    std::vector<std::string> listened;
    for (const auto& phrase : phrases) {
        const auto language = listeningLanguageOf(phrase);
        if (!language) {
            qCInfo(logDetection) << "Not listening for" << logged(phrase) << ": no recogniser knows its letters";
        } else if (std::find(heard.begin(), heard.end(), *language) == heard.end()) {
            qCInfo(logDetection) << "Not listening for" << logged(phrase) << ": nothing here hears"
                                 << logged(language->rawValue());
        } else {
            listened.push_back(phrase);
        }
    }
    return listened;
}

} // namespace

WakePhraseDetector::WakePhraseDetector(Platform platform, std::shared_ptr<const Clock> clock)
    : clock_(std::move(clock)), gate_(clock_), speechRecognizers_(std::move(platform.speechRecognizers)),
      captureDevices_(std::move(platform.captureDevices)), permissions_(std::move(platform.permissions)),
      captureQueue_(std::make_unique<SerialQueue>("Harkwell.capture")) {}

WakePhraseDetector::~WakePhraseDetector() {
    stop();
    // The capture queue drains before the members its work uses go.
    captureQueue_.reset();
}

void WakePhraseDetector::start(const std::vector<std::string>& phrases, DetectedCallback onDetected,
                               ErrorCallback onError, ListeningCallback onListening, NearSpeechCallback onNearSpeech) {
    // Starting again replaces what an earlier start set going, answers still on their way included.
    stop();
    onDetected_ = std::move(onDetected);
    onError_ = std::move(onError);
    onListening_ = std::move(onListening);
    onNearSpeech_ = std::move(onNearSpeech);
    session_ = std::make_unique<OwnerContext>();
    auto languages = listeningLanguagesOf(phrases);
    if (languages.empty()) {
        languages.emplace_back(AppLocale::english); // nothing to hear yet: listening goes on as in English
    }
    prepareRecognizer(languages);
    const auto heard = speechRecognizer_ ? speechRecognizer_->languages() : std::vector<AppLocale>();
    gate_.reset(phrasesListenedFor(phrases, heard));
    QStringList languageList, phraseList;
    for (const auto language : heard) {
        languageList.append(logged(language.rawValue()));
    }
    for (const auto& phrase : gate_.phrases()) {
        phraseList.append(logged(phrase));
    }
    qCInfo(logDetection) << "Listening in" << languageList.join(", ") << "for" << phraseList;

    // Nothing heard: the first of the phrases' languages cannot be.
    const auto language = heard.empty() ? languages.front() : heard.front();
    if (!speechRecognizer_ || !speechRecognizer_->isAvailable()) {
        reportError(AppError::speechUnavailable(language));
        return;
    }
    if (!speechRecognizer_->supportsOnDeviceRecognition()) {
        reportError(AppError::onDeviceSpeechUnavailable(language));
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

void WakePhraseDetector::prepareRecognizer(const std::vector<AppLocale>& languages) {
    if (recognizerLanguages_ == languages) {
        return;
    }
    recognizerLanguages_ = languages;
    speechRecognizer_ = speechRecognizers_ ? speechRecognizers_(languages) : nullptr;
}

void WakePhraseDetector::stop() {
    if (!session_) {
        return;
    }
    session_.reset();
    qCInfo(logDetection) << "Stopped listening";
    inputLevel_.store(0, std::memory_order_relaxed);
    captureQueue_->async([this] { endCapture(); });
}

void WakePhraseDetector::requestSpeechAuthorization(std::function<void(bool granted)> completion) {
    permissions_->requestSpeechAuthorization(
        session_->bind<AuthorizationStatus>([completion = std::move(completion)](AuthorizationStatus status) {
            completion(status == AuthorizationStatus::authorized);
        }));
}

void WakePhraseDetector::requestMicrophoneAccess() {
    permissions_->requestMicrophoneAccess(session_->bind<bool>([this](bool granted) {
        if (!granted) {
            reportError(AppError::permissionDenied("Microphone"));
            return;
        }
        // Each language's phrases with their accepted forms in it.
        std::vector<std::string> contextualStrings;
        for (const auto language : speechRecognizer_->languages()) {
            const auto strings = wakePhraseContextualStrings(phrasesHeardIn(gate_.phrases(), language), language);
            contextualStrings.insert(contextualStrings.end(), strings.begin(), strings.end());
        }
        captureQueue_->async([this, session = session_->handle(), source = microphoneSource_,
                              recognizer = speechRecognizer_, contextualStrings = std::move(contextualStrings)] {
            // A session stopped meanwhile starts nothing.
            if (session.isAlive()) {
                startCapture(session, source, recognizer, contextualStrings);
            }
        });
    }));
}

void WakePhraseDetector::startCapture(const OwnerContext::Handle& session, const std::string& source,
                                      std::shared_ptr<SpeechRecognizer> recognizer,
                                      const std::vector<std::string>& contextualStrings) {
    // What an earlier session left is gone before this one begins.
    endCapture();
    const auto report = [this, &session](const Error& error) { session.post([this, error] { reportError(error); }); };
    auto capture = std::make_shared<Capture>();
    try {
        const auto devices = captureDevices_->inputDevices();
        if (!session.isAlive()) {
            return; // stopped while the sound server answered
        }
        std::optional<AudioInputDevice> microphone;
        if (source.empty()) {
            microphone = preferredBuiltInMicrophone(devices);
        } else if (const auto chosen = std::find_if(
                       devices.begin(), devices.end(),
                       [&](const AudioInputDevice& device) { return device.uniqueId == source && !device.isMonitor; });
                   chosen != devices.end()) {
            microphone = *chosen;
        }
        if (!microphone) {
            report(source.empty() ? AppError::microphoneMissing() : AppError::chosenMicrophoneMissing());
            return;
        }
        capture->session = captureDevices_->open(*microphone);
        capture->microphoneName = microphone->localizedName;
    } catch (const Error& error) {
        report(error);
        return;
    }
    capture->recognizer = std::move(recognizer);
    capture->request = capture->recognizer->makeRequest(contextualStrings);
    // Results come on the recogniser's own threads; those of a stopped session are dropped.
    capture->task = capture->recognizer->recognitionTask(
        capture->request, session.bind<const RecognitionEvent&>(
                              [this](const RecognitionEvent& event) { handleRecognitionEvent(event); }));
    // The capture's callbacks hold it weakly: what a capture that has gone still sends is dropped.
    const std::weak_ptr<Capture> running = capture;
    // Watching starts before capture does: a capture that never gets going is caught as well.
    capture->watchdog =
        std::make_unique<CaptureWatchdog>(clock_, audioTimeout, session.bind<>([this] {
            if (onListening_) {
                auto onListening = onListening_; // a copy: the callback may start this detector again
                onListening();
            }
        }),
                                          [this, running, session, name = capture->microphoneName] {
                                              failCapture(running, session, AppError::microphoneStopped(name));
                                          });
    capture->session->start(
        [this, running, onNearSpeech = session.bind<>([this] {
            if (onNearSpeech_) {
                onNearSpeech_();
            }
        })](std::span<const std::int16_t> samples) {
            const auto live = running.lock();
            if (!live) {
                return;
            }
            live->watchdog->beginBuffer();
            if (live->request) {
                live->request->append(samples);
            }
            live->watchdog->endBuffer();
            const bool near = live->nearSpeechWatch.hear(samples);
            inputLevel_.store(live->nearSpeechWatch.lastFramePeak(), std::memory_order_relaxed);
            framesSinceNearSpeech_.store(live->nearSpeechWatch.framesSinceNearSpeech().value_or(noNearSpeech),
                                         std::memory_order_relaxed);
            if (near) {
                onNearSpeech();
            }
        },
        [this, running, session](const Error& error) { failCapture(running, session, error); });
    capture_ = std::move(capture);
    isCapturing_.store(true);
}

void WakePhraseDetector::failCapture(std::weak_ptr<Capture> capture, OwnerContext::Handle session, const Error& error) {
    // On the capture queue, where the watchdog lives: the capture and the watchdog may both see the
    // microphone go, and the first tells.
    captureQueue_->async([this, capture = std::move(capture), session = std::move(session), error] {
        const auto failed = capture.lock();
        if (failed && failed->watchdog->noteFailure()) {
            session.post([this, error] { reportError(error); });
        }
    });
}

void WakePhraseDetector::endCapture() {
    isCapturing_.store(false);
    if (capture_) {
        if (capture_->session) {
            capture_->session->stop();
        }
        if (capture_->request) {
            capture_->request->endAudio();
        }
        if (capture_->task) {
            capture_->task->cancel();
        }
        // Waits for the recogniser's threads, here rather than on the main thread: a decoder may still
        // be setting up.
        capture_.reset();
    }
    inputLevel_.store(0, std::memory_order_relaxed);
    framesSinceNearSpeech_.store(noNearSpeech, std::memory_order_relaxed);
}

void WakePhraseDetector::handleRecognitionEvent(const RecognitionEvent& event) {
    if (event.transcript) {
        constexpr auto lookBackFrames = static_cast<std::uint64_t>(
            nearSpeechLookBack.count() * NearSpeechWatch::sampleRate / 1000 / NearSpeechWatch::frameSamples);
        const bool heardNearSpeech =
            !requiresNearSpeech_ || framesSinceNearSpeech_.load(std::memory_order_relaxed) <= lookBackFrames;
        if (const auto match = gate_.hear(*event.transcript, event.language, heardNearSpeech, event.opensUtterance)) {
            qCInfo(logDetection) << "Detected" << logged(match->targetPhrase) << "in the window"
                                 << logged(match->matchedText) << "as" << logged(match->matchedForm);
            if (onDetected_) {
                // A copy: the callback may start this detector again, replacing itself.
                auto onDetected = onDetected_;
                onDetected(match->targetPhrase, event.wholeTranscript.value_or(*event.transcript));
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

} // namespace harkwell
