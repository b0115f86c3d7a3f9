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

class SystemListeningTest : public ::testing::Test {
protected:
    void listen(const std::vector<std::string>& phrases, const std::string& locale = "en-US") {
        listener = makeSystemWakePhraseListener(locale);
        listener->start(
            phrases, [this](const std::string& phrase) { detected.push_back(phrase); },
            [this](const Error& error) { errors.push_back(error.description()); });
    }

    std::vector<std::string> detected;
    std::vector<std::string> errors;
    std::unique_ptr<WakePhraseListener> listener; // goes first: its callbacks use the vectors
};

TEST_F(SystemListeningTest, HearsACallFromTheBuiltInMicrophoneAndReportsTheServerGoingAway) {
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

    listen({"James", "Minsu"});
    runUntil([&] { return !detected.empty() || !errors.empty(); });
    EXPECT_EQ(detected, std::vector<std::string>{"James"});
    ASSERT_TRUE(errors.empty()) << errors.front();

    // The sound server goes away while listening.
    pulse.kill();
    runUntil([&] { return !errors.empty(); });
    EXPECT_EQ(errors, std::vector<std::string>{"Audio capture setup failed: The microphone Built-in Audio Analog "
                                               "Stereo stopped delivering audio: it was disconnected or the sound "
                                               "server went away."});
    listener->stop();
}

TEST_F(SystemListeningTest, OnlyAHeadsetMicrophoneIsNoBuiltInMicrophone) {
    PrivatePulseAudio pulse({{"bluez_source.AA_BB_CC_DD_EE_FF.handsfree_head_unit", "Built-in AirPods",
                              "device.bus=bluetooth device.form_factor=headset"}});
    ASSERT_TRUE(pulse.error().isEmpty()) << pulse.error().toStdString();
    qputenv("PULSE_SERVER", pulse.serverAddress().toUtf8());
    listen({"James"});
    runUntil([&] { return !errors.empty(); });
    EXPECT_EQ(errors, std::vector<std::string>{"Built-in Mac microphone was not found."});
    listener.reset();
}

TEST_F(SystemListeningTest, NoSoundServerIsAClearErrorNotAHang) {
    QTemporaryDir nowhere;
    qputenv("PULSE_SERVER", ("unix:" + nowhere.filePath("native")).toUtf8());
    listen({"James"});
    runUntil([&] { return !errors.empty(); });
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors.front().starts_with(
        "Audio capture setup failed: The sound server (PulseAudio or PipeWire) cannot be reached: "))
        << errors.front();
}

TEST_F(SystemListeningTest, KoreanHasNoRecognizer) {
    listen({"민수"}, "ko-KR");
    EXPECT_EQ(errors, std::vector<std::string>{"Speech recognizer is unavailable for ko-KR."});
}

} // namespace
} // namespace harkwell
