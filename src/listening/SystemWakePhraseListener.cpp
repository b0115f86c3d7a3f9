#include "listening/SystemWakePhraseListener.h"

#include "audio/QtAudioCapture.h"
#include "core/SystemPermissionService.h"
#include "speech/PocketSphinxRecognizer.h"

namespace harkwell {

WakePhraseDetector::Platform systemListeningPlatform() {
    return {makeSpeechRecognizer, std::make_shared<QtAudioCaptureDevices>(),
            std::make_shared<SystemPermissionService>()};
}

std::unique_ptr<WakePhraseListener> makeSystemWakePhraseListener(AppLocale locale) {
    return std::make_unique<WakePhraseDetector>(locale, systemListeningPlatform());
}

} // namespace harkwell
