// The detector over fake platform services: the test plays the permission answers, the
// recogniser's results and the microphone's errors.
#include "detection/WakePhraseDetector.h"

#include "EventLoop.h"
#include "Holdable.h"
#include "SettableClock.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <tuple>

namespace harkwell {

void PrintTo(const Error& error, std::ostream* out) { *out << error.description(); }

namespace {

using namespace std::chrono_literals;

using testing::HoldPoint;

struct FakeRequest final : RecognitionRequest {
    void append(std::span<const std::int16_t> samples) override {
        appended += samples.size();
        if (held.valid()) {
            held.wait(); // as the recogniser makes capture wait while it starts or catches up
        }
    }
    void endAudio() override { ended = true; }
    std::shared_future<void> held;
    std::vector<std::string> contextualStrings;
    std::atomic<std::size_t> appended = 0;              // samples
    std::atomic<bool> ended = false, cancelled = false; // cancelled: its task was
};

// Its end passes through the recogniser's gate, as a real task waits for its decoder thread.
struct FakeTask final : RecognitionTask {
    FakeTask(std::shared_ptr<FakeRequest> fed, std::shared_ptr<HoldPoint> ending)
        : request(std::move(fed)), end(std::move(ending)) {}
    ~FakeTask() override { end->pass(); }
    void cancel() override { request->cancelled = true; }
    std::shared_ptr<FakeRequest> request;
    std::shared_ptr<HoldPoint> end;
};

// Made on the capture thread: read request and handler once the capture has started.
struct FakeRecognizer final : SpeechRecognizer {
    bool isAvailable() const override { return available; }
    bool supportsOnDeviceRecognition() const override { return true; }
    std::vector<AppLocale> languages() const override { return heard; }
    std::shared_ptr<RecognitionRequest> makeRequest(const std::vector<std::string>& contextualStrings) override {
        request = std::make_shared<FakeRequest>();
        request->contextualStrings = contextualStrings;
        requests.push_back(request);
        return request;
    }
    std::unique_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> made,
                                                     ResultHandler resultHandler) override {
        handler = std::move(resultHandler);
        return std::make_unique<FakeTask>(std::static_pointer_cast<FakeRequest>(made), taskEnd);
    }
    bool available = true;
    std::vector<AppLocale> heard;         // those of the languages asked for that it hears
    std::shared_ptr<FakeRequest> request; // the last one
    std::vector<std::shared_ptr<FakeRequest>> requests;
    ResultHandler handler;
    const std::shared_ptr<HoldPoint> taskEnd = std::make_shared<HoldPoint>();
};

// What happened to one capture session; the session itself belongs to the detector.
struct CaptureLog {
    std::atomic<bool> stopped = false;
    AudioCaptureSession::BufferHandler onBuffer; // called on the capture thread
    AudioCaptureSession::ErrorHandler onError;
};

// The sound server's inputs, read on the capture thread; with inputsRead held, a read waits.
struct FakeCaptureDevices final : AudioCaptureDevices {
    struct Session final : AudioCaptureSession {
        Session(std::shared_ptr<CaptureLog> captureLog, FakeCaptureDevices& owner)
            : log(std::move(captureLog)), devices(owner) {}
        void start(BufferHandler onBuffer, ErrorHandler onError) override {
            log->onBuffer = std::move(onBuffer);
            log->onError = std::move(onError);
            const std::lock_guard lock(devices.mutex);
            ++devices.started;
            devices.changed.notify_all();
        }
        void stop() override { log->stopped = true; }
        std::shared_ptr<CaptureLog> log;
        FakeCaptureDevices& devices;
    };

    std::vector<AudioInputDevice> inputDevices() override {
        inputsRead.pass();
        return devices;
    }
    std::unique_ptr<AudioCaptureSession> open(const AudioInputDevice& device) override {
        if (openError) {
            throw *openError;
        }
        const std::lock_guard lock(mutex);
        opened = device.uniqueId;
        sessions.push_back(std::make_shared<CaptureLog>());
        return std::make_unique<Session>(sessions.back(), *this);
    }
    // The session started `count`-th, once the capture thread has started it; none after 10 s.
    std::shared_ptr<CaptureLog> startedSession(int count) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, 10s, [&] { return started >= count; });
        return started >= count ? sessions[static_cast<std::size_t>(count - 1)] : nullptr;
    }
    std::string openedDevice() const {
        const std::lock_guard lock(mutex);
        return opened;
    }

    // Set before a start.
    std::vector<AudioInputDevice> devices{{"alsa_input.pci", "Built-in Audio", true}};
    std::optional<Error> openError;
    HoldPoint inputsRead;

private:
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::string opened; // the last device opened
    std::vector<std::shared_ptr<CaptureLog>> sessions;
    int started = 0;
};

// Answers at once, or holds the speech answer for the test to give.
struct FakePermissions final : PermissionService {
    AuthorizationStatus speechAuthorizationStatus() const override { return AuthorizationStatus::notDetermined; }
    AuthorizationStatus microphoneAuthorizationStatus() const override { return AuthorizationStatus::notDetermined; }
    void requestSpeechAuthorization(std::function<void(AuthorizationStatus)> completion) override {
        asked.push_back("Speech Recognition");
        speech ? completion(*speech) : void(pendingSpeech = std::move(completion));
    }
    void requestMicrophoneAccess(std::function<void(bool)> completion) override {
        asked.push_back("Microphone");
        completion(microphone);
    }
    std::optional<AuthorizationStatus> speech = AuthorizationStatus::authorized;
    bool microphone = true;
    std::vector<std::string> asked;
    std::function<void(AuthorizationStatus)> pendingSpeech;
};

class WakePhraseDetectorPlatformTest : public ::testing::Test {
protected:
    void SetUp() override { makeDetector(); }

    // A new detector over a platform that grants everything and has a built-in microphone, and a
    // recogniser for those of the languages asked for that are hearable (none: no recogniser).
    void makeDetector(const std::vector<AppLocale>& hearable = {AppLocale::english, AppLocale::korean}) {
        devices = std::make_shared<FakeCaptureDevices>();
        permissions = std::make_shared<FakePermissions>();
        clock = std::make_shared<testing::SettableClock>();
        errors.clear();
        listening = 0;
        sessions = 0;
        capture.reset();
        auto made = std::make_shared<std::unique_ptr<FakeRecognizer>>(std::make_unique<FakeRecognizer>());
        recognizer = made->get();
        askedLanguages.clear();
        const auto recognizers = [this, made, hearable](const std::vector<AppLocale>& asked) {
            askedLanguages.push_back(asked);
            std::unique_ptr<SpeechRecognizer> given;
            for (const auto language : asked) {
                if (std::find(hearable.begin(), hearable.end(), language) != hearable.end()) {
                    recognizer->heard.push_back(language);
                }
            }
            if (!recognizer->heard.empty()) {
                given = std::move(*made);
            }
            return given;
        };
        detector = std::make_unique<WakePhraseDetector>(WakePhraseDetector::Platform{recognizers, devices, permissions},
                                                        clock);
    }

    void start(const std::vector<std::string>& phrases = {"James", "Dr. Kim"}) {
        detector->start(
            phrases, [this](const std::string& phrase, const std::string&) { detected.push_back(phrase); },
            [this](const Error& error) { errors.push_back(error); }, [this] { ++listening; },
            [this] { ++nearSpeechReports; });
        deliverMainThreadWork();
    }
    // Starts, and waits until the capture thread has started capture too.
    void startCapturing(const std::vector<std::string>& phrases = {"James", "Dr. Kim"}) {
        start(phrases);
        waitForCapture();
    }
    // Waits until the capture thread has started the capture of the last start.
    void waitForCapture() {
        capture = devices->startedSession(++sessions);
        ASSERT_TRUE(capture) << "capture did not start";
    }
    // Starts, and waits until the start has failed.
    void startFailing(const std::vector<std::string>& phrases = {"James", "Dr. Kim"}) {
        start(phrases);
        ASSERT_TRUE(testing::eventually([&] { return !errors.empty(); }));
    }
    // The recogniser's result, from its own thread, once the main thread has taken it in.
    void recognize(const RecognitionEvent& event, const SpeechRecognizer::ResultHandler& handler = nullptr) {
        std::thread(handler ? handler : recognizer->handler, event).join();
        deliverMainThreadWork();
    }

    // Frames of a square wave (33: a quiet room at -60 dBFS, 3277: someone speaking close by at
    // -20 dBFS), in the recogniser's 100 ms buffers, from the capture thread.
    void play(std::int16_t amplitude, int frames) {
        std::vector<std::int16_t> buffer(NearSpeechWatch::frameSamples);
        for (size_t index = 0; index < buffer.size(); ++index) {
            buffer[index] = index % 20 < 10 ? amplitude : std::int16_t(-amplitude);
        }
        std::thread([&] {
            for (int frame = 0; frame < frames; ++frame) {
                capture->onBuffer(buffer);
            }
        }).join();
    }

    // Runs the work posted to the main thread, and the work that work posts in turn.
    static void deliverMainThreadWork() {
        for (int round = 0; round < 4; ++round) {
            QCoreApplication::sendPostedEvents();
        }
    }

    FakeRecognizer* recognizer = nullptr;
    std::vector<std::vector<AppLocale>> askedLanguages; // what the detector asked the platform for
    std::shared_ptr<FakeCaptureDevices> devices;
    std::shared_ptr<FakePermissions> permissions;
    std::shared_ptr<testing::SettableClock> clock; // the watchdog's on the capture thread, the gate's
    std::unique_ptr<WakePhraseDetector> detector;
    std::shared_ptr<CaptureLog> capture; // the session started last
    int sessions = 0;                    // started by this detector
    int listening = 0;
    std::vector<std::string> detected;
    std::vector<Error> errors;
    int nearSpeechReports = 0;
};

TEST_F(WakePhraseDetectorPlatformTest, ListensThroughTheBuiltInMicrophoneAndAStartEndsTheEarlierCapture) {
    startCapturing();
    ASSERT_TRUE(errors.empty()) << errors.front().description();
    EXPECT_EQ(permissions->asked, (std::vector<std::string>{"Speech Recognition", "Microphone"}));
    EXPECT_EQ(recognizer->request->contextualStrings, (std::vector<std::string>{"James", "Dr. Kim"}));
    recognize({"hey james", std::nullopt});
    EXPECT_EQ(detected, std::vector<std::string>{"James"});

    // Started again while listening: the first capture and recognition end before the next begin.
    const auto first = capture;
    const auto firstRequest = recognizer->request;
    const auto firstHandler = recognizer->handler;
    startCapturing({"Minsu"});
    EXPECT_TRUE(first->stopped && firstRequest->ended && firstRequest->cancelled);
    recognize({"hey minsu", std::nullopt}, firstHandler); // the earlier task's result, still on its way
    EXPECT_EQ(detected, std::vector<std::string>{"James"});
    recognize({"hey minsu", std::nullopt});
    EXPECT_EQ(detected, (std::vector<std::string>{"James", "Minsu"}));
    EXPECT_EQ(askedLanguages.size(), 1u) << "phrases of the same language: the same recogniser";

    // Capture errors reach onError on the main thread, and only from the live session; so do the
    // recogniser's.
    const auto lost = AppError::captureSetup("The microphone Built-in Audio Analog Stereo was disconnected.");
    std::thread([&] {
        first->onError(lost);
        capture->onError(lost);
    }).join();
    EXPECT_TRUE(errors.empty()) << "moved to the main thread";
    ASSERT_TRUE(testing::eventually([&] { return !errors.empty(); }));
    recognize({std::nullopt, AppError::speechUnavailable(AppLocale::english)});
    EXPECT_EQ(errors, (std::vector<Error>{lost, AppError::speechUnavailable(AppLocale::english)}));

    detector->stop();
    EXPECT_TRUE(testing::eventually([&] { return capture->stopped.load(); }));
}

// Each phrase is listened for in the language of its letters, whatever the interface's: the
// platform is asked for the phrases' languages, the recogniser is given the phrases of those it
// hears (with their accepted forms), and each transcript reaches the gate in its own language
// (which phrases each language matches is the gate's table). Nothing heard at all is the first
// language's error.
TEST_F(WakePhraseDetectorPlatformTest, EachPhraseIsListenedForInTheLanguageOfItsLetters) {
    const AppLocale en = AppLocale::english, ko = AppLocale::korean;
    const auto heard = [](std::string text, AppLocale language) {
        return RecognitionEvent{std::move(text), std::nullopt, true, language};
    };
    const struct {
        const char* name;
        std::vector<std::string> phrases;
        std::vector<AppLocale> hearable, asked;
        std::optional<Error> error;
        std::size_t contextualStrings;
        std::vector<RecognitionEvent> events;
        std::vector<std::string> detected;
    } cases[] = {
        {"an English call", {"James", "민수"}, {en, ko}, {en, ko}, {}, 8, {heard("hey james", en)}, {"James"}},
        {"a Korean call", {"James", "민수"}, {en, ko}, {en, ko}, {}, 8, {heard("민수야", ko)}, {"민수"}},
        {"a Korean phrase only", {"지훈"}, {en, ko}, {ko}, {}, 7, {heard("지훈아", ko)}, {"지훈"}},
        {"Korean that cannot be heard",
         {"James", "민수"},
         {en},
         {en, ko},
         {},
         1,
         {heard("민수야", ko), heard("hey james", en)},
         {"James"}},
        {"a phrase of no language", {"Иван", "James"}, {en, ko}, {en}, {}, 1, {heard("иван", en)}, {}},
        {"no phrase of a language", {"Иван"}, {en, ko}, {en}, {}, 0, {heard("иван", en)}, {}},
        {"nothing heard", {"민수", "Иван"}, {en}, {ko}, AppError::speechUnavailable(ko), 0, {}, {}},
    };
    for (const auto& [name, phrases, hearable, asked, error, contextualStrings, events, expected] : cases) {
        SCOPED_TRACE(name);
        makeDetector(hearable);
        detected.clear();
        error ? startFailing(phrases) : startCapturing(phrases);
        EXPECT_EQ(askedLanguages, std::vector<std::vector<AppLocale>>{asked});
        EXPECT_EQ(errors, error ? std::vector<Error>{*error} : std::vector<Error>{});
        if (error) {
            continue;
        }
        EXPECT_EQ(recognizer->request->contextualStrings.size(), contextualStrings);
        for (const auto& event : events) {
            recognize(event);
        }
        EXPECT_EQ(detected, expected);
    }
}

TEST_F(WakePhraseDetectorPlatformTest, StartUpFailuresStopAtTheFirstFailedCheck) {
    // Each row: what fails, the error it gives and how many permissions were asked by then.
    const std::vector<std::tuple<const char*, std::function<void()>, Error, std::size_t>> cases{
        {"model unreadable", [&] { recognizer->available = false; }, AppError::speechUnavailable(AppLocale::english),
         0},
        {"speech denied", [&] { permissions->speech = AuthorizationStatus::denied; },
         AppError::permissionDenied("Speech Recognition"), 1},
        {"microphone refused", [&] { permissions->microphone = false; }, AppError::permissionDenied("Microphone"), 2},
        {"device cannot be opened", [&] { devices->openError = Error::platform("Device or resource busy"); },
         Error::platform("Device or resource busy"), 2},
    };
    for (const auto& [name, arrange, expected, asked] : cases) {
        SCOPED_TRACE(name);
        makeDetector();
        arrange();
        startFailing();
        EXPECT_EQ(errors, std::vector<Error>{expected});
        EXPECT_EQ(permissions->asked.size(), asked);
        EXPECT_FALSE(detector->isCapturing());
        EXPECT_FALSE(recognizer->request) << "no request without a microphone";
    }
}

TEST_F(WakePhraseDetectorPlatformTest, LateAnswersStartListeningOnlyWhileTheDetectorAndItsSessionLive) {
    for (const std::string then : {"answered", "stopped", "released"}) {
        SCOPED_TRACE(then);
        makeDetector();
        permissions->speech.reset();
        start();
        if (then != "answered") {
            then == "stopped" ? detector->stop() : detector.reset();
        }
        // The answer comes on another thread, much later.
        std::thread([this] { permissions->pendingSpeech(AuthorizationStatus::authorized); }).join();
        deliverMainThreadWork();
        EXPECT_EQ(permissions->asked.size(), then == "answered" ? 2u : 1u);
        if (then == "answered") {
            EXPECT_TRUE(devices->startedSession(1));
            EXPECT_TRUE(testing::eventually([&] { return detector->isCapturing(); }));
        } else {
            EXPECT_FALSE(detector && detector->isCapturing());
        }
    }
}

// Neither a sound server that does not answer nor a recogniser still setting up its decoder holds
// up the main thread: the inputs are read on the capture thread, and a stopped session's decoder
// thread ends there too. A session stopped while its inputs are read starts no capture.
TEST_F(WakePhraseDetectorPlatformTest, ASlowSoundServerOrRecogniserHoldsUpNeitherStartNorStop) {
    devices->inputsRead.hold();
    start();
    ASSERT_TRUE(devices->inputsRead.waitForPasses(1));
    detector->stop();
    start({"Minsu"}); // behind the read that hangs
    EXPECT_FALSE(devices->inputsRead.hasGivenUp()) << "the main thread waited for the sound server";
    devices->inputsRead.release();
    waitForCapture();
    EXPECT_EQ(recognizer->requests.front()->contextualStrings, std::vector<std::string>{"Minsu"})
        << "the stopped session went on after its read";

    recognizer->taskEnd->hold();
    detector->stop();
    ASSERT_TRUE(recognizer->taskEnd->waitForPasses(1));
    start({"James"});
    EXPECT_FALSE(recognizer->taskEnd->hasGivenUp()) << "the main thread waited for a decoder to end";
    recognizer->taskEnd->release();
    waitForCapture();
    recognize({"hey james", std::nullopt});
    EXPECT_EQ(detected, std::vector<std::string>{"James"});
}

TEST_F(WakePhraseDetectorPlatformTest, AMicrophoneSilentForTheTimeOutIsReportedStoppedOnceWhetherOrNotAudioCame) {
    const std::vector<std::int16_t> buffer(1600, 0);
    for (const bool hasAudioCome : {false, true}) {
        SCOPED_TRACE(hasAudioCome);
        makeDetector();
        startCapturing();
        if (hasAudioCome) {
            std::thread([&] { capture->onBuffer(buffer); }).join(); // from the capture's thread
            ASSERT_TRUE(testing::eventually([&] { return listening > 0; }, 5s));
        }
        // Silent for 3.9 s, once the watchdog has looked: nothing yet; for 4.1 s: stopped.
        clock->elapsed = 3900ms;
        const int reads = clock->reads;
        ASSERT_TRUE(testing::eventually([&] { return clock->reads > reads; }, 5s));
        deliverMainThreadWork();
        EXPECT_TRUE(errors.empty());

        clock->elapsed = 4100ms;
        ASSERT_TRUE(testing::eventually([&] { return !errors.empty(); }, 5s));
        EXPECT_EQ(errors, std::vector<Error>{AppError::microphoneStopped("Built-in Audio")});
        // The capture's own report of the same loss, later, is not told again; audio is told once.
        std::thread([&] {
            capture->onError(AppError::microphoneStopped("Built-in Audio"));
            capture->onBuffer(buffer);
        }).join();
        testing::settle();
        EXPECT_EQ(errors.size(), 1u);
        EXPECT_EQ(listening, hasAudioCome ? 1 : 0);
    }
}

TEST_F(WakePhraseDetectorPlatformTest, ARecogniserHoldingCaptureUpIsNoSilentMicrophone) {
    startCapturing();
    std::promise<void> release;
    recognizer->request->held = release.get_future().share();
    std::thread captureThread([&] { capture->onBuffer(std::vector<std::int16_t>(1600, 0)); });
    // No assertion may leave before the capture thread is released.
    EXPECT_TRUE(testing::eventually([&] { return listening > 0; }, 5s));
    for (int i = 0; i < 2; ++i) {
        clock->elapsed += 5s;
        const int reads = clock->reads;
        EXPECT_TRUE(testing::eventually([&] { return clock->reads > reads; }, 5s)) << "the watchdog gave up";
    }
    deliverMainThreadWork();
    EXPECT_TRUE(errors.empty());
    release.set_value();
    captureThread.join();
    clock->elapsed += 4100ms;
    EXPECT_TRUE(testing::eventually([&] { return !errors.empty(); }, 5s)) << "silent once the buffer was taken";
}

// The captured audio goes to the recogniser, the meter and the near-speech watch, whose reports
// reach the main thread while the session lives; the meter falls to 0 when listening stops.
TEST_F(WakePhraseDetectorPlatformTest, TheAudioReachesTheRecogniserTheMeterAndTheNearSpeechWatch) {
    startCapturing();
    EXPECT_EQ(detector->inputLevel(), 0);
    play(33, 10);
    deliverMainThreadWork();
    EXPECT_EQ(nearSpeechReports, 0);
    play(3277, 10);
    EXPECT_EQ(nearSpeechReports, 0) << "moved to the main thread";
    deliverMainThreadWork();
    EXPECT_EQ(nearSpeechReports, 2);
    EXPECT_EQ(recognizer->request->appended, 20 * NearSpeechWatch::frameSamples);
    play(8192, 1);
    EXPECT_DOUBLE_EQ(detector->inputLevel(), 0.25);
    play(0, 1);
    EXPECT_EQ(detector->inputLevel(), 0);

    // Reports still on their way when listening stops are dropped.
    play(3277, 10);
    detector->stop();
    deliverMainThreadWork();
    EXPECT_EQ(nearSpeechReports, 2);
    EXPECT_EQ(detector->inputLevel(), 0);
}

// Asked to, the detector reports a call only when someone spoke near the microphone within the
// last two seconds of audio; a phrase heard in the room's chatter alone is no call.
TEST_F(WakePhraseDetectorPlatformTest, WithNearSpeechRequiredACallNeedsSomeoneCloseBy) {
    detector->setRequiresNearSpeech(true);
    startCapturing({"James"});
    const std::vector<std::tuple<const char*, std::int16_t, int, std::size_t>> steps{
        {"the room only", 33, 10, 0},
        {"someone close by", 3277, 10, 1},
        {"two seconds after", 33, 20, 2},
        {"more than two seconds after", 33, 1, 2},
    };
    for (const auto& [name, amplitude, frames, reports] : steps) {
        play(amplitude, frames);
        clock->elapsed += DetectionGate::detectionCooldown;
        recognize({"james", std::nullopt});
        recognize({"", std::nullopt});
        EXPECT_EQ(detected.size(), reports) << name;
    }
    // Without near speech after listening started again, nothing counts from the last session.
    startCapturing({"James"});
    recognize({"james", std::nullopt});
    EXPECT_EQ(detected.size(), 2u);
}

// Which input a start opens, or why it fails: a chosen input is used only when it is there.
TEST_F(WakePhraseDetectorPlatformTest, ListensOnTheChosenInputOrTellsThatItIsMissing) {
    const AudioInputDevice builtIn{"alsa_input.pci", "Built-in Audio", true};
    const AudioInputDevice usb{"alsa_input.usb-Blue_Yeti", "Yeti Stereo Microphone"};
    const AudioInputDevice headset{"bluez_input.AA_BB", "AirPods Pro", false, true};
    const AudioInputDevice monitor{"alsa_output.pci.monitor", "Monitor of Built-in Audio", false, false, true};
    const std::vector<
        std::tuple<const char*, std::string, std::vector<AudioInputDevice>, std::string, std::optional<Error>>>
        cases{
            {"automatic", "", {usb, builtIn}, builtIn.uniqueId, std::nullopt},
            {"automatic, none", "", {usb, headset, monitor}, "", AppError::microphoneMissing()},
            {"chosen", usb.uniqueId, {builtIn, usb}, usb.uniqueId, std::nullopt},
            {"chosen headset", headset.uniqueId, {builtIn, headset}, headset.uniqueId, std::nullopt},
            {"chosen, gone", usb.uniqueId, {builtIn, headset}, "", AppError::chosenMicrophoneMissing()},
            {"chosen monitor", monitor.uniqueId, {monitor}, "", AppError::chosenMicrophoneMissing()},
        };
    for (const auto& [name, chosen, inputs, opened, error] : cases) {
        SCOPED_TRACE(name);
        makeDetector();
        devices->devices = inputs;
        detector->useMicrophone(chosen);
        error ? startFailing() : startCapturing();
        EXPECT_EQ(devices->openedDevice(), opened);
        EXPECT_EQ(errors, error ? std::vector<Error>{*error} : std::vector<Error>{});
    }
}

TEST(PreferredBuiltInMicrophoneTest, ChoosesByNameThenTheSoundServersMarkAndNeverAHeadsetOrAMonitor) {
    const AudioInputDevice usb{"alsa_input.usb-Blue_Yeti", "Yeti Stereo Microphone"};
    const AudioInputDevice internal{"alsa_input.pci.1", "Tiger Lake-LP Smart Sound", true};
    const AudioInputDevice korean{"alsa_input.pci.2", "내장 마이크"};
    const AudioInputDevice airPods{"bluez_source.AA_BB_CC.handsfree_head_unit", "Built-in AirPods", true, true};
    const AudioInputDevice monitor{"alsa_output.pci.monitor", "Monitor of Built-in Audio", true, false, true};
    EXPECT_EQ(preferredBuiltInMicrophone({usb, internal, korean}), korean);
    EXPECT_EQ(preferredBuiltInMicrophone({usb, internal}), internal);
    EXPECT_EQ(preferredBuiltInMicrophone({airPods, monitor, usb}), std::nullopt);
}

} // namespace
} // namespace harkwell
