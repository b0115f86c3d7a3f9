// The model with its real parts: the ModeRelay helper over simulated AirPods, PocketSphinx, the
// settings file, the hot-key controller and the key monitor. Only the microphone is replaced,
// by synthesized speech played into the recogniser.
#include "EventLoop.h"
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

#include <cstring>

namespace harkwell {
namespace {

void writeFile(const QString& path, const QByteArray& contents) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
}

TEST(AppModelEndToEndTest, SayingTheNameSwitchesTheAirPodsToTransparencyAndReportsTheCall) {
    setAppMetadataLookupForTesting([](std::string_view) { return std::optional<std::string>("en-US"); });
    QTemporaryDir directory;
    const QString simulator = directory.filePath("airpods");
    const QString settingsPath = directory.filePath("Harkwell.json");
    writeFile(simulator, "anc\n");
    writeFile(settingsPath, R"({"permissionSetupComplete": true, "wakePhrases": ["James"], "selectedMode": "anc"})");
    qputenv("HARKWELL_AIRPODS_SIMULATOR", simulator.toLocal8Bit());

    const QByteArray speech = testing::synthesizedSpeech("hey James, can you come here");
    ASSERT_FALSE(speech.isEmpty()) << "Flite could not synthesize the call";
    // The call, then a second of silence so that the recogniser reaches the end of the utterance.
    std::vector<std::int16_t> samples(static_cast<size_t>(speech.size()) / 2 + 16000, 0);
    std::memcpy(samples.data(), speech.constData(), static_cast<size_t>(speech.size()));
    const auto detectorFactory = [&samples](AppLocale locale) {
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
    };

    AppModel model({std::make_shared<AirPodsController>(HARKWELL_BUILD_ROOT), std::make_unique<HotKeyController>(),
                    std::make_shared<SystemPermissionService>(), detectorFactory,
                    std::make_unique<ApplicationKeyEventMonitor>(), std::make_unique<SettingsStore>(settingsPath)});
    QStringList calls;
    model.onCallDetected = [&calls](const QString& phrase) { calls.append(phrase); };
    model.setDetectionEnabled(true);
    ASSERT_TRUE(model.isDetectionEnabled()) << model.errorMessageText().toStdString();
    ASSERT_TRUE(
        testing::eventually([&] { return !calls.isEmpty() || model.errorMessage(); }, std::chrono::seconds(60)));
    EXPECT_EQ(calls, QStringList{"James"}) << model.errorMessageText().toStdString();
    QFile airPods(simulator);
    ASSERT_TRUE(airPods.open(QIODevice::ReadOnly));
    EXPECT_EQ(airPods.readAll().trimmed(), "transparency");
    EXPECT_EQ(SettingsStore(settingsPath).string("selectedMode"), "transparency");
    EXPECT_TRUE(model.isDetectionEnabled());

    qunsetenv("HARKWELL_AIRPODS_SIMULATOR");
    setAppMetadataLookupForTesting(nullptr);
}

} // namespace
} // namespace harkwell
