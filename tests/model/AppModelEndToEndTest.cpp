// The model with its real parts: the ModeRelay helper over simulated AirPods, PocketSphinx, the
// settings file, the hot-key controller and the key monitor. Only the microphone is replaced,
// by synthesized speech played into the recogniser.
#include "EventLoop.h"
#include "PrivatePulseAudio.h"
#include "airpods/AirPodsController.h"
#include "audio/FileAudioCapture.h"
#include "detection/SystemPermissionService.h"
#include "detection/WakePhraseDetector.h"
#include "locale/AppMetadata.h"
#include "model/AppModel.h"
#include "speech/PocketSphinxRecognizer.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace harkwell {
namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

TEST(AppModelEndToEndTest, SayingTheNameSwitchesTheAirPodsToTransparencyAndReportsTheCall) {
    setAppMetadataLookupForTesting([](std::string_view key) -> std::optional<std::string> {
        return key == "HarkwellLocale" ? std::optional<std::string>("en-US") : std::nullopt;
    });
    QTemporaryDir directory;
    const QString simulator = directory.filePath("airpods");
    const QString settingsPath = directory.filePath("Harkwell.json");
    {
        QFile airPods(simulator);
        ASSERT_TRUE(airPods.open(QIODevice::WriteOnly));
        airPods.write("anc\n");
        QFile settings(settingsPath);
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write(R"({"permissionSetupComplete": true, "wakePhrases": ["James"], "selectedMode": "anc"})");
    }
    ::setenv("HARKWELL_AIRPODS_SIMULATOR", simulator.toLocal8Bit().constData(), 1);

    const QByteArray speech = testing::synthesizedSpeech("hey James, can you come here");
    ASSERT_FALSE(speech.isEmpty()) << "Flite could not synthesize the call";
    // The call, then a second of silence so that the recogniser reaches the end of the utterance.
    std::vector<std::int16_t> samples(static_cast<size_t>(speech.size()) / 2 + 16000, 0);
    std::memcpy(samples.data(), speech.constData(), static_cast<size_t>(speech.size()));

    AppModel::Dependencies dependencies;
    dependencies.airPods = std::make_shared<AirPodsController>(HARKWELL_BUILD_ROOT);
    dependencies.hotKeyController = std::make_unique<HotKeyController>();
    dependencies.permissions = std::make_shared<SystemPermissionService>();
    dependencies.detectorFactory = [&samples](const std::string& localeIdentifier) {
        FileAudioCaptureDevices::Source source;
        source.next = [&samples, offset = size_t{0}](std::vector<std::int16_t>& buffer) mutable {
            if (offset >= samples.size()) {
                return false;
            }
            const size_t count = std::min<size_t>(1600, samples.size() - offset);
            buffer.assign(samples.begin() + static_cast<std::ptrdiff_t>(offset),
                          samples.begin() + static_cast<std::ptrdiff_t>(offset + count));
            offset += count;
            return true;
        };
        return std::make_unique<WakePhraseDetector>(
            localeIdentifier, WakePhraseDetector::Platform{makeSpeechRecognizer,
                                                           std::make_shared<FileAudioCaptureDevices>(std::move(source)),
                                                           std::make_shared<SystemPermissionService>()});
    };
    dependencies.keyMonitor = std::make_unique<ApplicationKeyEventMonitor>();
    dependencies.settings = std::make_unique<SettingsStore>(settingsPath);

    AppModel model(std::move(dependencies));
    QStringList calls;
    model.onCallDetected = [&calls](const QString& phrase) { calls.append(phrase); };
    model.setDetectionEnabled(true);
    ASSERT_TRUE(model.isDetectionEnabled()) << model.errorMessageText().toStdString();

    ASSERT_TRUE(
        testing::eventually([&] { return !calls.isEmpty() || model.errorMessage(); }, std::chrono::seconds(60)));
    EXPECT_EQ(calls, QStringList{"James"}) << model.errorMessageText().toStdString();
    EXPECT_EQ(readFile(simulator), "transparency");
    EXPECT_EQ(model.selectedMode(), ListeningMode::transparency);
    EXPECT_EQ(QJsonDocument::fromJson(readFile(settingsPath)).object()["selectedMode"], "transparency");
    EXPECT_TRUE(model.isDetectionEnabled());

    model.setDetectionEnabled(false);
    ::unsetenv("HARKWELL_AIRPODS_SIMULATOR");
    setAppMetadataLookupForTesting(nullptr);
}

} // namespace
} // namespace harkwell
