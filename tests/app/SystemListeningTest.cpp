// The real listening path: a PulseAudio server of the test's own with FIFO microphones, libpulse
// capture, PocketSphinx (and Whisper with the model the build converts) and the detector.
#include "app/SystemWakePhraseListener.h"
#include "speech/WhisperTranscriber.h"

#include "EventLoop.h"
#include "PrivatePulseAudio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace harkwell {

void PrintTo(const Error& error, std::ostream* out) { *out << error.description(); }

namespace {

using namespace std::chrono_literals;
using testing::PrivatePulseAudio;

const std::string stoppedMessage = "Audio capture setup failed: The microphone Built-in Audio Analog Stereo stopped "
                                   "delivering audio: it was disconnected or the sound server went away.";

class SystemListeningTest : public ::testing::Test {
protected:
    void serve(const std::vector<PrivatePulseAudio::Source>& sources) {
        pulse.emplace(sources);
        EXPECT_TRUE(pulse->error().isEmpty()) << pulse->error().toStdString();
        qputenv("PULSE_SERVER", pulse->serverAddress().toUtf8());
    }
    // A server with the built-in microphone only, which hears the call again and again.
    void serveACaller() {
        serve({{"alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio Analog Stereo", ""}});
        play();
    }
    void play() {
        ASSERT_FALSE(call.isEmpty()) << "flite and sox must be installed";
        pulse->playRepeatedly(0, call, 2.0);
    }
    void listen(const std::vector<std::string>& phrases = {"James"},
                std::shared_ptr<WhisperModel> whisperModel = nullptr) {
        detected.clear();
        errors.clear();
        isListening = false;
        listener = makeSystemWakePhraseListener(DetectionSensitivity::medium, {}, std::move(whisperModel));
        listener->start(
            phrases, [this](const std::string& phrase, const std::string&) { detected.push_back(phrase); },
            [this](const Error& error) { errors.push_back(error); }, [this] { isListening = true; });
    }
    // Each runs the event loop, where the callbacks arrive, until what it waits for has come, or
    // an error, or half a minute has passed.
    bool errorArrives() {
        return testing::eventually([this] { return !errors.empty(); }, 30s, 10ms);
    }
    bool audioArrives() {
        return testing::eventually([this] { return isListening || !errors.empty(); }, 30s, 10ms) && isListening;
    }
    void hearTheCall() {
        EXPECT_TRUE(testing::eventually([&] { return !detected.empty() || !errors.empty(); }, 30s, 10ms));
        EXPECT_EQ(detected, std::vector<std::string>{"James"});
        EXPECT_TRUE(errors.empty()) << errors.front().description();
    }
    // Kills the server; listening must end in an error saying that the sound went away.
    void killTheServer(bool hasAudioFlowed) {
        pulse->kill();
        ASSERT_TRUE(errorArrives()) << "listening went on without a sound server";
        ASSERT_EQ(errors.size(), 1u);
        if (hasAudioFlowed) {
            EXPECT_EQ(errors.front().description(), stoppedMessage);
        } else {
            EXPECT_TRUE(errors.front().is(AppError::Kind::microphoneStopped) ||
                        errors.front().is(AppError::Kind::soundServerUnreachable))
                << errors.front().description();
        }
        listener.reset(); // as its owner does on an error
        ASSERT_TRUE(pulse->restart()) << pulse->error().toStdString();
        play();
    }

    const QByteArray call = testing::synthesizedSpeech("hey James, can you come here");
    std::vector<std::string> detected;
    std::vector<Error> errors;
    bool isListening = false;
    std::optional<PrivatePulseAudio> pulse;
    std::unique_ptr<WakePhraseListener> listener; // goes first: it uses everything above
};

// Two listeners at once: one on a chosen silent input, one on the automatic choice, the built-in
// microphone rather than the silent headset, where Whisper, with the model the build converts,
// hears the call. The level the panel's meter shows moves with the speech and stays at 0 on the
// silent one, whose audio has flowed as long.
TEST_F(SystemListeningTest, WhisperHearsACallFromTheBuiltInMicrophoneAndItsLevelMovesOnlyWithSpeech) {
    const auto model = std::make_shared<WhisperModel>(HARKWELL_TEST_WHISPER_MODEL, loadWhisperTranscriber);
    model->load();
    ASSERT_TRUE(testing::eventually([&] { return model->state() != WhisperModelState::loading; }, 30s, 10ms));
    ASSERT_EQ(model->state(), WhisperModelState::ready) << model->failure();
    serve({{"bluez_source.AA_BB_CC_DD_EE_FF.handsfree_head_unit", "AirPods Pro", "device.bus=bluetooth"},
           {"alsa_input.usb-Blue_Yeti", "Yeti Stereo Microphone", ""},
           {"alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio Analog Stereo", ""}});
    ASSERT_FALSE(call.isEmpty()) << "flite and sox must be installed";
    pulse->playRepeatedly(0, QByteArray(call.size(), '\0'), 1.0);
    pulse->playRepeatedly(1, QByteArray(call.size(), '\0'), 1.0);
    bool isSilentOneListening = false;
    std::vector<Error> silentErrors;
    auto silent = makeSystemWakePhraseListener(DetectionSensitivity::medium, "alsa_input.usb-Blue_Yeti");
    silent->start(
        {"James"}, [](const std::string&, const std::string&) {},
        [&](const Error& error) { silentErrors.push_back(error); }, [&] { isSilentOneListening = true; });
    ASSERT_TRUE(testing::eventually([&] { return isSilentOneListening || !silentErrors.empty(); }, 30s, 10ms));
    ASSERT_TRUE(silentErrors.empty()) << silentErrors.front().description();

    pulse->playRepeatedly(2, call, 2.0);
    listen({"James", "Minsu"}, model);
    double highest = 0;
    double silentHighest = 0;
    EXPECT_TRUE(testing::eventually(
        [&] {
            highest = std::max(highest, listener->inputLevel());
            silentHighest = std::max(silentHighest, silent->inputLevel());
            return highest > 0.05 || !errors.empty();
        },
        30s, 10ms));
    EXPECT_GT(highest, 0.05) << "speech peaks well above -26 dBFS";
    hearTheCall();
    EXPECT_EQ(std::max(silentHighest, silent->inputLevel()), 0);
    silent->stop();
}

// The sound server goes away as listening starts, after audio has flowed, and after listening was
// switched off and on (at once, and after audio had come), twice each: every time listening ends in
// an error, and a server started again afterwards is heard without a new process.
TEST_F(SystemListeningTest, TheServerGoingEndsListeningAndItsReturnIsHeard) {
    serveACaller();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        listen();
        killTheServer(false);
        listen();
        hearTheCall();
        killTheServer(true);
        listen();
        listen();
        ASSERT_TRUE(audioArrives());
        listener->stop();
        listen();
        ASSERT_TRUE(audioArrives());
        killTheServer(true);
        listen();
        hearTheCall();
    }
}

TEST_F(SystemListeningTest, NoRecognizerNoBuiltInMicrophoneOrNoSoundServerIsAClearErrorNotAHang) {
    listen({"민수"});
    EXPECT_EQ(errors, std::vector<Error>{AppError::speechUnavailable(AppLocale::korean)});

    serve({{"bluez_source.AA_BB_CC_DD_EE_FF.handsfree_head_unit", "Built-in AirPods",
            "device.bus=bluetooth device.form_factor=headset"}});
    listen();
    EXPECT_TRUE(errorArrives());
    EXPECT_EQ(errors, std::vector<Error>{AppError::microphoneMissing()});

    QTemporaryDir nowhere;
    qputenv("PULSE_SERVER", ("unix:" + nowhere.filePath("native")).toUtf8());
    listen();
    ASSERT_TRUE(errorArrives());
    EXPECT_TRUE(errors.front().is(AppError::Kind::soundServerUnreachable));
    EXPECT_TRUE(errors.front().description().starts_with(
        "Audio capture setup failed: The sound server (PulseAudio or PipeWire) cannot be reached: "))
        << errors.front().description();
}

} // namespace
} // namespace harkwell
