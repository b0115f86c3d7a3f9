// The model with its real parts: the ModeRelay helper over simulated AirPods, PocketSphinx, the
// settings file, the hot-key controller and the key monitor. The microphone is replaced by
// synthesized speech played into the recogniser, or played into a private sound server.
#include "EventLoop.h"
#include "LogCapture.h"
#include "ModelFakes.h"
#include "PrivatePulseAudio.h"
#include "TestLocale.h"
#include "airpods/AirPodsController.h"
#include "app/SystemWakePhraseListener.h"
#include "audio/FileAudioCapture.h"
#include "core/SystemPermissionService.h"
#include "detection/WakePhraseDetector.h"
#include "model/AppModel.h"
#include "speech/PocketSphinxRecognizer.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

namespace harkwell {
namespace {

using namespace std::chrono_literals;

const QByteArray callSettings = R"({"permissionSetupComplete": true, "wakePhrases": ["James"], "selectedMode": "anc"})";

// Flite's speech followed by seconds of silence.
std::vector<std::int16_t> speechThenSilence(const QString& text, double silenceSeconds) {
    const QByteArray speech = testing::synthesizedSpeech(text);
    EXPECT_FALSE(speech.isEmpty()) << "Flite could not synthesize " << text.toStdString();
    std::vector<std::int16_t> samples(static_cast<size_t>(speech.size()) / 2 + size_t(silenceSeconds * 16000), 0);
    std::memcpy(samples.data(), speech.constData(), static_cast<size_t>(speech.size()));
    return samples;
}

// The real detector and recogniser, hearing what the source plays.
WakePhraseListenerFactory fileListener(FileAudioCaptureDevices::Source source) {
    return [source](AppLocale, DetectionSensitivity sensitivity, const std::string&) {
        return std::make_unique<WakePhraseDetector>(WakePhraseDetector::Platform{
            speechRecognizerFactory(sensitivity), std::make_shared<FileAudioCaptureDevices>(source),
            std::make_shared<SystemPermissionService>()});
    };
}

class AppModelEndToEndTest : public ::testing::Test {
protected:
    AppModelEndToEndTest() {
        testing::writeFile(simulator, "anc\n");
        qputenv("HARKWELL_AIRPODS_SIMULATOR", simulator.toLocal8Bit());
    }
    ~AppModelEndToEndTest() override {
        model.reset();
        qunsetenv("HARKWELL_AIRPODS_SIMULATOR");
    }

    // The model over the real parts, listening through the factory, with the settings and the
    // clock given.
    AppModel& makeModel(const QByteArray& settings, WakePhraseListenerFactory listeners,
                        std::shared_ptr<testing::ManualClock> clock = nullptr) {
        testing::writeFile(settingsPath, settings);
        AppModel::Dependencies dependencies{
            std::make_shared<AirPodsController>(HARKWELL_BUILD_ROOT),
            std::make_unique<HotKeyController>(),
            std::make_shared<SystemPermissionService>(),
            std::move(listeners),
            std::make_unique<testing::FakeKeyEventMonitor>(std::make_shared<testing::FakeKeyEventMonitor::Keys>()),
            std::make_unique<SettingsStore>(settingsPath),
            std::make_unique<AutostartEntry>(directory.filePath("autostart"), "harkwell"),
            std::make_shared<SteadyClock>(),
            [] { return std::make_unique<TimerTicker>(); },
            nullptr,
            nullptr,
            media,
            media};
        if (clock) {
            dependencies.clock = clock;
            dependencies.makeTicker = [clock] { return std::make_unique<testing::ManualClock::ManualTicker>(clock); };
        }
        model = std::make_unique<AppModel>(std::move(dependencies));
        model->onCallDetected = [this](const QString& phrase) { calls.append(phrase); };
        return *model;
    }

    QByteArray simulatedMode() const { return testing::contentsOf(simulator).trimmed(); }

    testing::TestLocale speaksEnglish;
    QTemporaryDir directory;
    const QString simulator = directory.filePath("airpods");
    const QString settingsPath = directory.filePath("Harkwell.json");
    QStringList calls;
    // A player playing, which the call pauses and the return resumes.
    std::shared_ptr<testing::FakeMedia> media = [] {
        auto playing = std::make_shared<testing::FakeMedia>();
        playing->setPlayers({{"a", MediaPlayer::Status::playing, "one"}});
        return playing;
    }();
    std::unique_ptr<AppModel> model;
};

// The call switches the simulated AirPods to Transparency, as the log tells; the user's answer,
// heard near the microphone, puts the return off; after 10 s of quiet on the model's clock the
// AirPods are back in noise cancellation.
TEST_F(AppModelEndToEndTest, ACallSwitchesToTransparencyAndQuietAfterItReturnsToNoiseCancellation) {
    // What QT_LOGGING_RULES="harkwell.*=true" prints: what someone reporting a problem sends.
    const testing::LogCapture log;
    // The call and a second of silence; the answer and silence once the test lets it come.
    const auto call = speechThenSilence("hey James, can you come here", 1);
    const auto answer = speechThenSilence("yes, I am coming over now", 1.5);
    auto answerAllowed = std::make_shared<std::atomic<bool>>(false);
    auto callPlayed = std::make_shared<std::atomic<bool>>(false);
    auto answerPlayed = std::make_shared<std::atomic<bool>>(false);
    FileAudioCaptureDevices::Source source;
    source.next = [&call, &answer, answerAllowed, callPlayed,
                   offset = size_t{0}](std::vector<std::int16_t>& buffer) mutable {
        const bool inCall = offset < call.size();
        if (!inCall && !*answerAllowed) {
            *callPlayed = true;
            buffer.clear(); // the microphone is open, nothing comes yet
            return true;
        }
        const auto& part = inCall ? call : answer;
        const size_t partOffset = inCall ? offset : offset - call.size();
        const size_t count = std::min<size_t>(1600, part.size() - partOffset);
        buffer.assign(part.data() + partOffset, part.data() + partOffset + count);
        offset += count;
        return count > 0;
    };
    source.onFinished = [answerPlayed] { *answerPlayed = true; };
    auto clock = std::make_shared<testing::ManualClock>();
    auto& listening = makeModel(R"({"permissionSetupComplete": true, "wakePhrases": ["James"], "selectedMode": "anc",
                                   "returnAfterQuietSeconds": 10})",
                                fileListener(source), clock);
    listening.setDetectionEnabled(true);
    ASSERT_TRUE(listening.isDetectionEnabled()) << listening.errorMessageText().toStdString();
    ASSERT_TRUE(testing::eventually(
        [&] { return (listening.secondsUntilReturn() && *callPlayed) || listening.errorMessage(); }, 60s));
    ASSERT_EQ(calls, QStringList{"James"}) << listening.errorMessageText().toStdString();
    ASSERT_EQ(listening.recentCalls().size(), 1);
    EXPECT_TRUE(listening.recentCalls().front().heard.contains("james", Qt::CaseInsensitive))
        << listening.recentCalls().front().heard.toStdString();
    EXPECT_EQ(simulatedMode(), "transparency");
    EXPECT_EQ(SettingsStore(settingsPath).string("selectedMode"), "transparency");
    for (const char* line : {"Recogniser starting: search common words", "Detected \"James\" in the window",
                             "Helper \"transparency\" exit code 0 in"}) {
        EXPECT_TRUE(log.hasLineStartingWith(line)) << line << " in:\n" << log.lines().join('\n').toStdString();
    }
    testing::settle();

    clock->advanceBy(8s);
    EXPECT_EQ(listening.secondsUntilReturn(), 2);
    *answerAllowed = true;
    ASSERT_TRUE(testing::eventually([&] { return answerPlayed->load(); }, 60s));
    testing::settle();
    EXPECT_EQ(listening.secondsUntilReturn(), 10) << "the answer was not heard as near speech";

    clock->advanceBy(9s);
    EXPECT_EQ(simulatedMode(), "transparency");
    clock->advanceBy(1s);
    ASSERT_TRUE(testing::eventually([&] { return !listening.isCommandRunning(); }, 30s));
    EXPECT_FALSE(listening.errorMessage()) << listening.errorMessageText().toStdString();
    EXPECT_EQ(simulatedMode(), "anc");
    EXPECT_EQ(listening.selectedMode(), ListeningMode(ListeningMode::anc));
    EXPECT_EQ(SettingsStore(settingsPath).string("selectedMode"), "anc");
    EXPECT_FALSE(listening.secondsUntilReturn());
    EXPECT_TRUE(listening.isDetectionEnabled());
    EXPECT_TRUE(testing::eventually([&] { return media->log() == std::vector<std::string>{"pause a", "play a"}; }));
}

// The sound server goes away as listening starts, after a call was heard, and after the switch
// went off and on: each time the switch goes off with the error, and once the server is back,
// in the same process, it comes on again by itself, says so, and the next call is heard.
TEST_F(AppModelEndToEndTest, ListeningLostWithTheSoundServerResumesByItselfWhenTheServerIsBack) {
    const QByteArray speech = testing::synthesizedSpeech("hey James, can you come here");
    ASSERT_FALSE(speech.isEmpty()) << "Flite could not synthesize the call";
    testing::PrivatePulseAudio pulse(
        {{"alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio Analog Stereo", ""}});
    ASSERT_TRUE(pulse.error().isEmpty()) << pulse.error().toStdString();
    qputenv("PULSE_SERVER", pulse.serverAddress().toUtf8());
    pulse.playRepeatedly(0, speech, 2.0);
    auto& listening =
        makeModel(callSettings, [](AppLocale, DetectionSensitivity sensitivity, const std::string& source) {
            return makeSystemWakePhraseListener(sensitivity, source);
        });
    const auto stopped =
        QString::fromStdString(AppError::microphoneStopped("Built-in Audio Analog Stereo").errorDescription());
    const auto unreachable =
        QString::fromStdString(AppError::soundServerUnreachable("").errorDescription()).section(": ", 0, 1);
    // Every banner shown: a call heard at once after the return replaces the notice of the return
    // (its switch clears the banner), maybe before the test has looked.
    QStringList banners;
    QObject bannerWatch;
    QObject::connect(&listening, &AppModel::errorMessageChanged, &bannerWatch,
                     [&] { banners.append(listening.errorMessageText()); });

    // Each row: what happens before the server is killed, and whether audio has flowed by then.
    const std::vector<std::pair<const char*, std::function<void()>>> moments{
        {"as listening starts", [&] { listening.setDetectionEnabled(true); }},
        {"after a call was heard", [] {}},
        {"after switching off and on",
         [&] {
             for (int i = 0; i < 2; ++i) {
                 listening.setDetectionEnabled(false);
                 listening.setDetectionEnabled(true);
             }
         }},
    };
    for (const auto& [moment, before] : moments) {
        SCOPED_TRACE(moment);
        before();
        pulse.kill();
        ASSERT_TRUE(testing::eventually([&] { return !listening.isDetectionEnabled(); }, 30s))
            << "listening went on without a sound server";
        const auto error = listening.errorMessageText();
        EXPECT_TRUE(error == stopped || error.startsWith(unreachable)) << error.toStdString();
        EXPECT_TRUE(listening.isWaitingToResume());

        banners.clear();
        ASSERT_TRUE(pulse.restart()) << pulse.error().toStdString();
        pulse.playRepeatedly(0, speech, 2.0);
        ASSERT_TRUE(testing::eventually([&] { return listening.isDetectionEnabled(); }, 30s));
        EXPECT_TRUE(banners.contains("Listening resumed: the sound server is back."))
            << banners.join(" | ").toStdString();
        calls.clear();
        ASSERT_TRUE(testing::eventually([&] { return !calls.isEmpty() || !listening.isDetectionEnabled(); }, 30s));
        EXPECT_EQ(calls, QStringList{"James"}) << listening.errorMessageText().toStdString();
    }
    EXPECT_EQ(simulatedMode(), "transparency");
}

} // namespace
} // namespace harkwell
