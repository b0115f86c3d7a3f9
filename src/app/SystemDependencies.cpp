#include "app/SystemDependencies.h"

#include "airpods/AirPodsController.h"
#include "detection/SystemPermissionService.h"
#include "detection/WakePhraseDetector.h"

namespace harkwell {
namespace {

// The platform the call detector listens through.
// TODO(speech): the on-device recogniser and the microphone capture join here. Until then no
// recogniser exists for any locale, and turning listening on reports that speech recognition is
// unavailable.
WakePhraseDetector::Platform detectorPlatform(std::shared_ptr<PermissionService> permissions) {
    WakePhraseDetector::Platform platform;
    platform.speechRecognizers = [](const std::string&) -> std::unique_ptr<SpeechRecognizer> { return nullptr; };
    platform.captureDevices = nullptr;
    platform.permissions = std::move(permissions);
    return platform;
}

} // namespace

AppModel::Dependencies makeSystemDependencies() {
    AppModel::Dependencies dependencies;
    auto permissions = std::make_shared<SystemPermissionService>();
    dependencies.airPods = std::make_shared<AirPodsController>();
    dependencies.hotKeyController = std::make_unique<HotKeyController>();
    dependencies.permissions = permissions;
    dependencies.detectorFactory = [permissions](const std::string& localeIdentifier) {
        return std::make_unique<WakePhraseDetector>(localeIdentifier, detectorPlatform(permissions));
    };
    dependencies.keyMonitor = std::make_unique<ApplicationKeyEventMonitor>();
    dependencies.settings = std::make_unique<SettingsStore>();
    return dependencies;
}

} // namespace harkwell
