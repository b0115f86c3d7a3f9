// The model with its real parts: the ModeRelay helper over simulated AirPods, PocketSphinx, the
// settings file, the hot-key controller and the key monitor. Only the microphone is replaced,
// by synthesized speech played into the recogniser.
#include "EventLoop.h"
#include "ModelFakes.h"
#include "PrivatePulseAudio.h"
#include "airpods/AirPodsController.h"
#include "audio/FileAudioCapture.h"
#include "core/SystemPermissionService.h"
#include "detection/WakePhraseDetector.h"
#include "locale/AppMetadata.h"
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

void writeFile(const QString& path, const QByteArray& contents) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
}

// Flite's speech followed by seconds of silence.
std::vector<std::int16_t> speechThenSilence(const QString& text, double silenceSeconds) {
    const QByteArray speech = testing::synthesizedSpeech(text);
    EXPECT_FALSE(speech.isEmpty()) << "Flite could not synthesize " << text.toStdString();
    std::vector<std::int16_t> samples(static_cast<size_t>(speech.size()) / 2 + size_t(silenceSeconds * 16000), 0);
    std::memcpy(samples.data(), speech.constData(), static_cast<size_t>(speech.size()));
    return samples;
}

class AppModelEndToEndTest : public ::testing::Test {
protected:
    AppModelEndToEndTest() {
        setAppMetadataLookupForTesting([](std::string_view) { return std::optional<std::string>("en-US"); });
        writeFile(simulator, "anc\n");
        qputenv("HARKWELL_AIRPODS_SIMULATOR", simulator.toLocal8Bit());
    }
    ~AppModelEndToEndTest() override {
        model.reset();
        qunsetenv("HARKWELL_AIRPODS_SIMULATOR");
        setAppMetadataLookupForTesting(nullptr);
    }

    // The model over the real parts, hearing the audio the source plays, with the settings and the
    // clock given.
    AppModel& makeModel(const QByteArray& settings, FileAudioCaptureDevices::Source source,
                        std::shared_ptr<testing::ManualClock> clock = nullptr) {
        writeFile(settingsPath, settings);
        AppModel::Dependencies dependencies{
            std::make_shared<AirPodsController>(HARKWELL_BUILD_ROOT),
            std::make_unique<HotKeyController>(),
            std::make_shared<SystemPermissionService>(),
            [source](AppLocale locale, DetectionSensitivity sensitivity) {
                return std::make_unique<WakePhraseDetector>(
                    locale, WakePhraseDetector::Platform{speechRecognizerFactory(sensitivity),
                                                         std::make_shared<FileAudioCaptureDevices>(source),
                                                         std::make_shared<SystemPermissionService>()});
            },
            std::make_unique<ApplicationKeyEventMonitor>(),
            std::make_unique<SettingsStore>(settingsPath)};
        if (clock) {
            dependencies.clock = clock;
            dependencies.ticker = std::make_unique<testing::ManualClock::ManualTicker>(clock);
        }
        model = std::make_unique<AppModel>(std::move(dependencies));
        model->onCallDetected = [this](const QString& phrase) { calls.append(phrase); };
        return *model;
    }

    QByteArray simulatedMode() const {
        QFile airPods(simulator);
        return airPods.open(QIODevice::ReadOnly) ? airPods.readAll().trimmed() : QByteArray();
    }

    QTemporaryDir directory;
    const QString simulator = directory.filePath("airpods");
    const QString settingsPath = directory.filePath("Harkwell.json");
    QStringList calls;
    std::unique_ptr<AppModel> model;
};

TEST_F(AppModelEndToEndTest, SayingTheNameSwitchesTheAirPodsToTransparencyAndReportsTheCall) {
    // The call, then a second of silence so that the recogniser reaches the end of the utterance.
    const auto samples = speechThenSilence("hey James, can you come here", 1);
    FileAudioCaptureDevices::Source source;
    source.next = [&samples, offset = size_t{0}](std::vector<std::int16_t>& buffer) mutable {
        const size_t count = std::min<size_t>(1600, samples.size() - offset);
        buffer.assign(samples.data() + offset, samples.data() + offset + count);
        offset += count;
        return count > 0;
    };
    auto& listening =
        makeModel(R"({"permissionSetupComplete": true, "wakePhrases": ["James"], "selectedMode": "anc"})", source);
    listening.setDetectionEnabled(true);
    ASSERT_TRUE(listening.isDetectionEnabled()) << listening.errorMessageText().toStdString();
    ASSERT_TRUE(testing::eventually([&] { return !calls.isEmpty() || listening.errorMessage(); }, 60s));
    EXPECT_EQ(calls, QStringList{"James"}) << listening.errorMessageText().toStdString();
    EXPECT_EQ(simulatedMode(), "transparency");
    EXPECT_EQ(SettingsStore(settingsPath).string("selectedMode"), "transparency");
    EXPECT_TRUE(listening.isDetectionEnabled());
}

// The call switches the simulated AirPods to Transparency; the user's answer, heard near the
// microphone, puts the return off; after 10 s of quiet on the model's clock the AirPods are back
// in noise cancellation.
TEST_F(AppModelEndToEndTest, ACallFollowedByQuietReturnsTheAirPodsToNoiseCancellation) {
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
                                source, clock);
    listening.setDetectionEnabled(true);
    ASSERT_TRUE(listening.isDetectionEnabled()) << listening.errorMessageText().toStdString();
    ASSERT_TRUE(testing::eventually(
        [&] { return (listening.secondsUntilReturn() && *callPlayed) || listening.errorMessage(); }, 60s));
    ASSERT_EQ(calls, QStringList{"James"}) << listening.errorMessageText().toStdString();
    EXPECT_EQ(simulatedMode(), "transparency");
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
}

} // namespace
} // namespace harkwell
