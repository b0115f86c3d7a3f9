#include "app/SystemDependencies.h"

#include "airpods/AirPodsController.h"
#include "audio/PulseAudioSources.h"
#include "core/SystemPermissionService.h"
#include "listening/SystemWakePhraseListener.h"

namespace harkwell {

AppModel::Dependencies makeSystemDependencies() {
    AppModel::Dependencies dependencies;
    dependencies.airPods = std::make_shared<AirPodsController>();
    dependencies.hotKeyController = std::make_unique<HotKeyController>();
    dependencies.permissions = std::make_shared<SystemPermissionService>();
    dependencies.detectorFactory = makeSystemWakePhraseListener;
    dependencies.keyMonitor = std::make_unique<ApplicationKeyEventMonitor>();
    dependencies.settings = std::make_unique<SettingsStore>();
    dependencies.autostart = std::make_unique<AutostartEntry>();
    dependencies.audioInputs = std::make_shared<PulseAudioInputList>();
    return dependencies;
}

} // namespace harkwell
