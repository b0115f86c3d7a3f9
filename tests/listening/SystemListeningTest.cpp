// The real listening path: a PulseAudio server of the test's own with FIFO microphones, Qt
// Multimedia capture, PocketSphinx and the detector.
#include "listening/SystemWakePhraseListener.h"

#include "EventLoop.h"
#include "PrivatePulseAudio.h"

#include <gtest/gtest.h>

#include <optional>

namespace harkwell {
namespace {

using namespace std::chrono_literals;
using testing::PrivatePulseAudio;

class SystemListeningTest : public ::testing::Test {
protected:
    void serve(const std::vector<PrivatePulseAudio::Source>& sources) {
        pulse.emplace(sources);
        EXPECT_TRUE(pulse->error().isEmpty()) << pulse->error().toStdString();
        qputenv("PULSE_SERVER", pulse->serverAddress().toUtf8());
    }
    void listen(const std::vector<std::string>& phrases, AppLocale locale = AppLocale::english) {
        listener = makeSystemWakePhraseListener(locale);
        listener->start(
            phrases, [this](const std::string& phrase) { detected.push_back(phrase); },
            [this](const Error& error) { errors.push_back(error.description()); });
    }
    // Runs the event loop, where the callbacks arrive, until an error has come or a minute has passed.
    bool errorArrives() {
        return testing::eventually([this] { return !errors.empty(); }, 1min, 10ms);
    }

    std::vector<std::string> detected;
    std::vector<std::string> errors;
    std::optional<PrivatePulseAudio> pulse;
    std::unique_ptr<WakePhraseListener> listener; // goes first: it uses everything above
};

TEST_F(SystemListeningTest, HearsACallFromTheBuiltInMicrophoneAndReportsTheServerGoingAway) {
    serve({{"bluez_source.AA_BB_CC_DD_EE_FF.handsfree_head_unit", "AirPods Pro", "device.bus=bluetooth"},
           {"alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio Analog Stereo", ""}});
    const auto speech = testing::synthesizedSpeech("hey James, can you come here");
    ASSERT_FALSE(speech.isEmpty()) << "flite and sox must be installed";
    pulse->playRepeatedly(0, QByteArray(speech.size(), '\0'), 1.0); // the headset hears nothing
    pulse->playRepeatedly(1, speech, 2.0);

    listen({"James", "Minsu"});
    EXPECT_TRUE(testing::eventually([&] { return !detected.empty() || !errors.empty(); }, 1min, 10ms));
    EXPECT_EQ(detected, std::vector<std::string>{"James"});
    ASSERT_TRUE(errors.empty()) << errors.front();

    pulse->kill();
    EXPECT_TRUE(errorArrives());
    EXPECT_EQ(errors, std::vector<std::string>{"Audio capture setup failed: The microphone Built-in Audio Analog "
                                               "Stereo stopped delivering audio: it was disconnected or the sound "
                                               "server went away."});
}

TEST_F(SystemListeningTest, OnlyAHeadsetMicrophoneIsNoBuiltInMicrophone) {
    serve({{"bluez_source.AA_BB_CC_DD_EE_FF.handsfree_head_unit", "Built-in AirPods",
            "device.bus=bluetooth device.form_factor=headset"}});
    listen({"James"});
    EXPECT_TRUE(errorArrives());
    EXPECT_EQ(errors, std::vector<std::string>{AppError::microphoneMissing().errorDescription()});
}

TEST_F(SystemListeningTest, NoSoundServerOrNoRecognizerIsAClearErrorNotAHang) {
    listen({"민수"}, AppLocale::korean);
    EXPECT_EQ(errors, std::vector<std::string>{AppError::speechUnavailable(AppLocale::korean).errorDescription()});

    errors.clear();
    QTemporaryDir nowhere;
    qputenv("PULSE_SERVER", ("unix:" + nowhere.filePath("native")).toUtf8());
    listen({"James"});
    ASSERT_TRUE(errorArrives());
    EXPECT_TRUE(errors.front().starts_with(
        "Audio capture setup failed: The sound server (PulseAudio or PipeWire) cannot be reached: "))
        << errors.front();
}

} // namespace
} // namespace harkwell
