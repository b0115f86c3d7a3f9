// The real listening path: a PulseAudio server of the test's own with a FIFO microphone, Qt
// Multimedia capture, PocketSphinx and the detector.
#include "listening/SystemWakePhraseListener.h"

#include "PrivatePulseAudio.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

namespace harkwell {
namespace {

using testing::PrivatePulseAudio;

struct Outcome {
    std::vector<std::string> detected;
    std::vector<std::string> errors;
};

// Runs the event loop until `done` holds or a minute has passed.
void runUntil(const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(60000);
    QTimer poll; // callbacks arrive through the main thread's event loop
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done()) {
            loop.quit();
        }
    });
    poll.start(10);
    if (!done()) {
        loop.exec();
    }
    EXPECT_TRUE(guard.isActive()) << "nothing came within a minute";
}

void start(WakePhraseListener& listener, const std::vector<std::string>& phrases, Outcome& outcome) {
    listener.start(
        phrases, [&outcome](const std::string& phrase) { outcome.detected.push_back(phrase); },
        [&outcome](const Error& error) { outcome.errors.push_back(error.description()); });
}

TEST(SystemListeningTest, HearsACallFromTheBuiltInMicrophoneAndReportsTheServerGoingAway) {
    PrivatePulseAudio pulse({
        {"bluez_source.AA_BB_CC_DD_EE_FF.handsfree_head_unit", "AirPods Pro", "device.bus=bluetooth"},
        {"alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio Analog Stereo", ""},
    });
    ASSERT_TRUE(pulse.error().isEmpty()) << pulse.error().toStdString();
    qputenv("PULSE_SERVER", pulse.serverAddress().toUtf8());
    const auto speech = testing::synthesizedSpeech("hey James, can you come here");
    ASSERT_FALSE(speech.isEmpty()) << "flite and sox must be installed";
    pulse.playRepeatedly(0, QByteArray(speech.size(), '\0'), 1.0); // the headset hears nothing
    pulse.playRepeatedly(1, speech, 2.0);

    Outcome outcome;
    const auto listener = makeSystemWakePhraseListener("en-US");
    start(*listener, {"James", "Minsu"}, outcome);
    runUntil([&] { return !outcome.detected.empty() || !outcome.errors.empty(); });
    EXPECT_EQ(outcome.detected, std::vector<std::string>{"James"});
    ASSERT_TRUE(outcome.errors.empty()) << outcome.errors.front();

    // The sound server goes away while listening.
    pulse.kill();
    runUntil([&] { return !outcome.errors.empty(); });
    ASSERT_EQ(outcome.errors.size(), 1u);
    EXPECT_EQ(outcome.errors.front(), "Audio capture setup failed: The microphone Built-in Audio Analog Stereo stopped "
                                      "delivering audio: it was disconnected or the sound server went away.");
    listener->stop();
}

TEST(SystemListeningTest, OnlyAHeadsetMicrophoneIsNoBuiltInMicrophone) {
    PrivatePulseAudio pulse({{"bluez_source.AA_BB_CC_DD_EE_FF.handsfree_head_unit", "Built-in AirPods",
                              "device.bus=bluetooth device.form_factor=headset"}});
    ASSERT_TRUE(pulse.error().isEmpty()) << pulse.error().toStdString();
    qputenv("PULSE_SERVER", pulse.serverAddress().toUtf8());
    Outcome outcome;
    const auto listener = makeSystemWakePhraseListener("en-US");
    start(*listener, {"James"}, outcome);
    runUntil([&] { return !outcome.errors.empty(); });
    EXPECT_EQ(outcome.errors, std::vector<std::string>{"Built-in Mac microphone was not found."});
}

TEST(SystemListeningTest, NoSoundServerIsAClearErrorNotAHang) {
    QTemporaryDir nowhere;
    qputenv("PULSE_SERVER", ("unix:" + nowhere.filePath("native")).toUtf8());
    Outcome outcome;
    const auto listener = makeSystemWakePhraseListener("en-US");
    start(*listener, {"James"}, outcome);
    runUntil([&] { return !outcome.errors.empty(); });
    ASSERT_EQ(outcome.errors.size(), 1u);
    EXPECT_EQ(outcome.errors.front().rfind("Audio capture setup failed: The sound server (PulseAudio or PipeWire) "
                                           "cannot be reached: ",
                                           0),
              0u)
        << outcome.errors.front();
}

TEST(SystemListeningTest, KoreanHasNoRecognizer) {
    const auto listener = makeSystemWakePhraseListener("ko-KR");
    Outcome outcome;
    listener->start({"민수"}, nullptr, [&](const Error& error) { outcome.errors.push_back(error.description()); });
    EXPECT_EQ(outcome.errors, std::vector<std::string>{"Speech recognizer is unavailable for ko-KR."});
}

} // namespace
} // namespace harkwell
