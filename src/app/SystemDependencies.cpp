#include "app/SystemDependencies.h"

#include "airpods/AirPodsController.h"
#include "app/ApplicationKeyEventMonitor.h"
#include "app/SystemWakePhraseListener.h"
#include "audio/PulseAudioSources.h"
#include "core/SystemPermissionService.h"
#include "media/MprisPlayers.h"
#include "media/PulseAudioStreams.h"
#include "speech/WhisperModel.h"
#include "speech/WhisperTranscriber.h"

namespace harkwell {

AppModel::Dependencies makeSystemDependencies(const std::string& whisperModelPath) {
    auto whisperModel = std::make_shared<WhisperModel>(whisperModelPath, loadWhisperTranscriber);

    AppModel::Dependencies dependencies;
    dependencies.airPods = std::make_shared<AirPodsController>();
    dependencies.hotKeyController = std::make_unique<HotKeyController>();
    dependencies.permissions = std::make_shared<SystemPermissionService>();
    // The phrases choose the languages listened in, not the interface's language.
    dependencies.detectorFactory = [whisperModel](AppLocale, DetectionSensitivity sensitivity,
                                                  const std::string& microphoneSource) {
        return makeSystemWakePhraseListener(sensitivity, microphoneSource, whisperModel);
    };
    dependencies.keyMonitor = std::make_unique<ApplicationKeyEventMonitor>();
    dependencies.settings = std::make_unique<SettingsStore>();
    dependencies.autostart = std::make_unique<AutostartEntry>();
    dependencies.audioInputs = std::make_shared<PulseAudioInputList>();
    dependencies.whisperModel = std::move(whisperModel);
    dependencies.mediaPlayers = std::make_shared<MprisPlayers>(QDBusConnection::sessionBus());
    dependencies.soundStreams = std::make_shared<PulseAudioStreams>();
    return dependencies;
}

} // namespace harkwell
