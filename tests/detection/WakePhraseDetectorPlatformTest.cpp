#include "detection/WakePhraseDetector.h"

#include "DetectorFakes.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace harkwell {

void PrintTo(const Error& error, std::ostream* out) { *out << error.description(); }

namespace {

using testing::FakeCaptureDevices;
using testing::FakePermissions;
using testing::FakeRecognizer;

AudioInputDevice device(std::string id, std::string name, bool internal = false, bool bluetooth = false,
                        bool monitor = false) {
    return {std::move(id), std::move(name), internal, bluetooth, monitor};
}

class WakePhraseDetectorPlatformTest : public ::testing::Test {
protected:
    void makeDetector(std::string locale = "en-US") {
        WakePhraseDetector::Platform platform{
            [this](const std::string& localeIdentifier) -> std::unique_ptr<SpeechRecognizer> {
                if (localeIdentifier != "en-US") {
                    return nullptr;
                }
                auto made = std::make_unique<FakeRecognizer>();
                made->available = recognizerAvailable;
                made->onDevice = recognizerOnDevice;
                recognizer = made.get();
                return made;
            },
            devices, permissions};
        detector = std::make_unique<WakePhraseDetector>(std::move(locale), std::move(platform));
    }

    void start(std::vector<std::string> phrases = {"James", "Dr. Kim"}) {
        detector->start(
            phrases, [this](const std::string& phrase) { detected.push_back(phrase); },
            [this](const Error& error) { errors.push_back(error); });
        deliverMainThreadWork();
    }

    // A platform that grants everything and has the built-in microphone, for a new detector.
    void resetPlatform() {
        recognizerAvailable = recognizerOnDevice = true;
        recognizer = nullptr;
        devices = std::make_shared<FakeCaptureDevices>();
        permissions = std::make_shared<FakePermissions>();
        errors.clear();
    }

    // Runs the work posted to the main thread, and the work that work posts in turn.
    static void deliverMainThreadWork() {
        for (int round = 0; round < 4; ++round) {
            QCoreApplication::sendPostedEvents();
        }
    }

    bool recognizerAvailable = true;
    bool recognizerOnDevice = true;
    FakeRecognizer* recognizer = nullptr;
    std::shared_ptr<FakeCaptureDevices> devices = std::make_shared<FakeCaptureDevices>();
    std::shared_ptr<FakePermissions> permissions = std::make_shared<FakePermissions>();
    std::unique_ptr<WakePhraseDetector> detector;
    std::vector<std::string> detected;
    std::vector<Error> errors;
};

TEST_F(WakePhraseDetectorPlatformTest, StartsCaptureAndRecognitionAndTurnsResultsIntoDetections) {
    makeDetector();
    start();
    ASSERT_TRUE(errors.empty()) << errors.front().description();
    EXPECT_EQ(permissions->asked, (std::vector<std::string>{"Speech Recognition", "Microphone"}));
    EXPECT_EQ(devices->opened, std::vector<std::string>{"alsa_input.pci-0000_00_1f.3.analog-stereo"});
    ASSERT_EQ(recognizer->requests.size(), 1u);
    const auto request = recognizer->requests.front();
    EXPECT_EQ(request->contextualStrings, (std::vector<std::string>{"James", "Dr. Kim"}));
    ASSERT_TRUE(recognizer->handler) << "the task exists before audio flows";

    recognizer->handler({"hey james", std::nullopt});
    EXPECT_EQ(detected, std::vector<std::string>{"James"});

    detector->stop(); // also waits for the capture queue's start-up work
    EXPECT_EQ(devices->session->startThread, "Harkwell.capture");
    EXPECT_EQ(request->appendThread, "Harkwell.capture");
    EXPECT_EQ(request->appended, 1600u);
    EXPECT_TRUE(devices->session->stopped);
    EXPECT_TRUE(request->ended);
    EXPECT_TRUE(*recognizer->taskCancelled);
    EXPECT_FALSE(detector->isCapturing());

    detector->stop(); // nothing left to tear down
    EXPECT_FALSE(detector->isCapturing());
    EXPECT_TRUE(errors.empty());

    // Started again while listening: the first capture ends before the next one begins.
    start();
    const auto first = devices->session;
    first->started.get_future().wait();
    start({"Minsu"});
    EXPECT_TRUE(first->stopped);
    EXPECT_NE(devices->session, first);
    EXPECT_TRUE(detector->isCapturing());
    recognizer->handler({"hey minsu", std::nullopt});
    EXPECT_EQ(detected, (std::vector<std::string>{"James", "Minsu"}));
}

TEST_F(WakePhraseDetectorPlatformTest, StartUpFailuresAreReportedInTheOrderOfTheChecks) {
    const std::vector<std::string> checks{"Speech Recognition", "Microphone"};
    std::string locale;
    struct Case {
        const char* name;
        std::function<void()> arrange;
        Error expected;
        std::size_t asked; // how many of the checks were asked
    };
    const Case cases[] = {
        {"no Korean model", [&] { locale = "ko-KR"; }, AppError::speechUnavailable("ko-KR"), 0},
        {"model unreadable", [&] { recognizerAvailable = false; }, AppError::speechUnavailable("en-US"), 0},
        {"not on device", [&] { recognizerOnDevice = false; }, AppError::onDeviceSpeechUnavailable("en-US"), 0},
        {"speech denied", [&] { permissions->speech = AuthorizationStatus::denied; },
         AppError::permissionDenied("Speech Recognition"), 1},
        {"speech restricted", [&] { permissions->speech = AuthorizationStatus::restricted; },
         AppError::permissionDenied("Speech Recognition"), 1},
        {"microphone refused", [&] { permissions->microphone = false; }, AppError::permissionDenied("Microphone"), 2},
        {"only a headset and a monitor",
         [&] {
             devices->devices = {
                 device("bluez_source.AA_BB.handsfree_head_unit", "Built-in AirPods", false, true),
                 device("alsa_output.pci.analog-stereo.monitor", "Monitor of Built-in Audio", true, false, true)};
         },
         AppError::microphoneMissing(), 2},
        {"no sound server", [&] { devices->listError = AppError::captureSetup("No sound server is running."); },
         AppError::captureSetup("No sound server is running."), 2},
        {"device cannot be opened", [&] { devices->openError = Error::platform("Device or resource busy"); },
         Error::platform("Device or resource busy"), 2},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        resetPlatform();
        locale = "en-US";
        testCase.arrange();
        makeDetector(locale);
        start();
        EXPECT_EQ(errors, std::vector<Error>{testCase.expected});
        EXPECT_EQ(permissions->asked, std::vector<std::string>(checks.begin(), checks.begin() + testCase.asked));
        EXPECT_FALSE(detector->isCapturing());
        if (recognizer) {
            EXPECT_TRUE(recognizer->requests.empty()) << "no request without a microphone";
        }
    }
}

TEST_F(WakePhraseDetectorPlatformTest, LateAnswersStartListeningOnlyWhileTheDetectorAndItsSessionLive) {
    permissions->speech.reset();
    permissions->microphone.reset();
    makeDetector();
    start();
    EXPECT_FALSE(detector->isCapturing());
    // The answers come on another thread, much later.
    std::thread([this] { permissions->pendingSpeech(AuthorizationStatus::authorized); }).join();
    deliverMainThreadWork();
    ASSERT_TRUE(permissions->pendingMicrophone);
    std::thread([this] { permissions->pendingMicrophone(true); }).join();
    deliverMainThreadWork();
    EXPECT_TRUE(detector->isCapturing());
    EXPECT_TRUE(errors.empty());

    // Stopped, or released, while waiting: the answer starts nothing.
    for (const bool released : {false, true}) {
        SCOPED_TRACE(released ? "released" : "stopped");
        resetPlatform();
        permissions->speech.reset();
        makeDetector();
        start();
        released ? detector.reset() : detector->stop();
        permissions->pendingSpeech(AuthorizationStatus::denied);
        deliverMainThreadWork();
        EXPECT_TRUE(errors.empty());
        EXPECT_EQ(permissions->asked, std::vector<std::string>{"Speech Recognition"});
    }
}

TEST_F(WakePhraseDetectorPlatformTest, CaptureErrorsWhileRunningReachOnErrorOnTheMainThreadUntilStopped) {
    makeDetector();
    start();
    detector->stop();
    const auto lost = AppError::captureSetup("The microphone Built-in Audio Analog Stereo was disconnected.");
    devices->session->onError(lost);
    deliverMainThreadWork();
    EXPECT_TRUE(errors.empty()) << "errors of a stopped session are dropped";

    start();
    devices->session->started.get_future().wait();
    std::thread([&] { devices->session->onError(lost); }).join();
    EXPECT_TRUE(errors.empty()) << "moved to the main thread";
    deliverMainThreadWork();
    EXPECT_EQ(errors, std::vector<Error>{lost});
}

TEST(PreferredBuiltInMicrophoneTest, ChoosesByIdentifierThenNameThenTheSoundServersMark) {
    const auto usb = device("alsa_input.usb-Blue_Yeti", "Yeti Stereo Microphone");
    const auto internal = device("alsa_input.pci-0000_00_1f.3.analog-stereo", "Tiger Lake-LP Smart Sound", true);
    const auto korean = device("alsa_input.pci.2", "내장 마이크");
    const auto macbook = device("alsa_input.pci.3", "MacBook Pro Microphone");
    const auto apple = device("BuiltInMicrophoneDevice", "Microphone");
    const auto airPods = device("bluez_source.AA_BB_CC.handsfree_head_unit", "MacBook AirPods", true, true);
    const auto monitor =
        device("alsa_output.pci.analog-stereo.monitor", "Monitor of Built-in Audio", true, false, true);
    struct Case {
        std::vector<AudioInputDevice> devices;
        std::optional<AudioInputDevice> expected;
    };
    const std::vector<Case> cases{
        {{usb, macbook, apple}, apple},
        {{usb, internal, macbook}, macbook},
        {{usb, device("x", "BUILT-IN Audio")}, device("x", "BUILT-IN Audio")},
        {{korean, internal}, korean},
        {{usb, internal}, internal},
        {{airPods, monitor, usb}, std::nullopt},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(preferredBuiltInMicrophone(testCase.devices), testCase.expected)
            << testCase.devices.size() << " devices, first "
            << (testCase.devices.empty() ? "" : testCase.devices[0].uniqueId);
    }
}

} // namespace
} // namespace harkwell
