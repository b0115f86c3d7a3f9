// The model with its real parts: the ModeRelay helper over simulated AirPods, PocketSphinx, the
// settings file, the hot-key controller and the key monitor. The microphone is synthesized
// speech, played into the recogniser or into a PulseAudio server of the test's own.
#include "EventLoop.h"
#include "LogCapture.h"
#include "PrivatePulseAudio.h"
#include "airpods/AirPodsController.h"
#include "audio/FileAudioCapture.h"
#include "core/SystemPermissionService.h"
#include "detection/WakePhraseDetector.h"
#include "listening/SystemWakePhraseListener.h"
#include "locale/AppMetadata.h"
#include "model/AppModel.h"
#include "speech/PocketSphinxRecognizer.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

namespace harkwell {
namespace {

using namespace std::chrono_literals;

void writeFile(const QString& path, const QByteArray& contents) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
}

class AppModelEndToEndTest : public ::testing::Test {
protected:
    AppModelEndToEndTest() {
        setAppMetadataLookupForTesting([](std::string_view) { return std::optional<std::string>("en-US"); });
        writeFile(simulator, "anc\n");
        writeFile(settingsPath,
                  R"({"permissionSetupComplete": true, "wakePhrases": ["James"], "selectedMode": "anc"})");
        qputenv("HARKWELL_AIRPODS_SIMULATOR", simulator.toLocal8Bit());
    }
    ~AppModelEndToEndTest() override {
        model.reset();
        qunsetenv("HARKWELL_AIRPODS_SIMULATOR");
        setAppMetadataLookupForTesting(nullptr);
    }

    AppModel& makeModel(WakePhraseListenerFactory detectorFactory) {
        model = std::make_unique<AppModel>(AppModel::Dependencies{
            std::make_shared<AirPodsController>(HARKWELL_BUILD_ROOT), std::make_unique<HotKeyController>(),
            std::make_shared<SystemPermissionService>(), std::move(detectorFactory),
            std::make_unique<ApplicationKeyEventMonitor>(), std::make_unique<SettingsStore>(settingsPath),
            std::make_unique<AutostartEntry>(directory.filePath("autostart"), "harkwell")});
        model->onCallDetected = [this](const QString& phrase) { calls.append(phrase); };
        return *model;
    }
    QByteArray airPodsMode() const {
        QFile airPods(simulator);
        return airPods.open(QIODevice::ReadOnly) ? airPods.readAll().trimmed() : QByteArray();
    }

    QTemporaryDir directory;
    const QString simulator = directory.filePath("airpods");
    const QString settingsPath = directory.filePath("Harkwell.json");
    const QByteArray speech = testing::synthesizedSpeech("hey James, can you come here");
    QStringList calls;
    std::unique_ptr<AppModel> model;
};

TEST_F(AppModelEndToEndTest, SayingTheNameSwitchesTheAirPodsToTransparencyAndReportsTheCall) {
    // What QT_LOGGING_RULES="harkwell.*=true" prints: what someone reporting a problem sends.
    const testing::LogCapture log;
    ASSERT_FALSE(speech.isEmpty()) << "Flite could not synthesize the call";
    // The call, then a second of silence so that the recogniser reaches the end of the utterance.
    std::vector<std::int16_t> samples(static_cast<size_t>(speech.size()) / 2 + 16000, 0);
    std::memcpy(samples.data(), speech.constData(), static_cast<size_t>(speech.size()));
    auto& listening = makeModel([&samples](AppLocale locale) {
        FileAudioCaptureDevices::Source source;
        source.next = [&samples, offset = size_t{0}](std::vector<std::int16_t>& buffer) mutable {
            const size_t count = std::min<size_t>(1600, samples.size() - offset);
            buffer.assign(samples.data() + offset, samples.data() + offset + count);
            offset += count;
            return count > 0;
        };
        return std::make_unique<WakePhraseDetector>(
            locale, WakePhraseDetector::Platform{makeSpeechRecognizer,
                                                 std::make_shared<FileAudioCaptureDevices>(std::move(source)),
                                                 std::make_shared<SystemPermissionService>()});
    });
    listening.setDetectionEnabled(true);
    ASSERT_TRUE(listening.isDetectionEnabled()) << listening.errorMessageText().toStdString();
    ASSERT_TRUE(testing::eventually([&] { return !calls.isEmpty() || listening.errorMessage(); }, 60s));
    EXPECT_EQ(calls, QStringList{"James"}) << listening.errorMessageText().toStdString();
    EXPECT_EQ(airPodsMode(), "transparency");
    EXPECT_EQ(SettingsStore(settingsPath).string("selectedMode"), "transparency");
    EXPECT_TRUE(listening.isDetectionEnabled());
    for (const char* line : {"Recogniser starting: search common words", "Detected \"James\" in the window",
                             "Helper \"transparency\" exit code 0 in"}) {
        EXPECT_TRUE(log.hasLineStartingWith(line)) << line << " in:\n" << log.lines().join('\n').toStdString();
    }
}

// The sound server goes away as listening starts, after a call was heard, and after the switch
// went off and on: each time the switch goes off with the error, and once the server is back,
// in the same process, it comes on again by itself, says so, and the next call is heard.
TEST_F(AppModelEndToEndTest, ListeningLostWithTheSoundServerResumesByItselfWhenTheServerIsBack) {
    ASSERT_FALSE(speech.isEmpty()) << "Flite could not synthesize the call";
    testing::PrivatePulseAudio pulse(
        {{"alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio Analog Stereo", ""}});
    ASSERT_TRUE(pulse.error().isEmpty()) << pulse.error().toStdString();
    qputenv("PULSE_SERVER", pulse.serverAddress().toUtf8());
    pulse.playRepeatedly(0, speech, 2.0);
    auto& listening = makeModel(makeSystemWakePhraseListener);
    const auto stopped =
        QString::fromStdString(AppError::microphoneStopped("Built-in Audio Analog Stereo").errorDescription());
    const auto unreachable =
        QString::fromStdString(AppError::soundServerUnreachable("").errorDescription()).section(": ", 0, 1);

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

        ASSERT_TRUE(pulse.restart()) << pulse.error().toStdString();
        pulse.playRepeatedly(0, speech, 2.0);
        ASSERT_TRUE(testing::eventually([&] { return listening.isDetectionEnabled(); }, 30s));
        EXPECT_EQ(listening.errorMessageText(), "Listening resumed: the sound server is back.");
        calls.clear();
        ASSERT_TRUE(testing::eventually([&] { return !calls.isEmpty() || !listening.isDetectionEnabled(); }, 30s));
        EXPECT_EQ(calls, QStringList{"James"}) << listening.errorMessageText().toStdString();
    }
    EXPECT_EQ(airPodsMode(), "transparency");
}

} // namespace
} // namespace harkwell
