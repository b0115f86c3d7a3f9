#include "app/SystemWakePhraseListener.h"

#include "audio/PulseAudioCapture.h"
#include "core/SystemPermissionService.h"
#include "speech/TwoStageRecognizer.h"

namespace harkwell {

WakePhraseDetector::Platform systemListeningPlatform(DetectionSensitivity sensitivity,
                                                     const std::shared_ptr<WhisperTranscriber>& transcriber) {
    return {listeningRecognizerFactory(sensitivity, transcriber), std::make_shared<PulseAudioCaptureDevices>(),
            std::make_shared<SystemPermissionService>()};
}

std::unique_ptr<WakePhraseListener> makeSystemWakePhraseListener(DetectionSensitivity sensitivity,
                                                                 const std::string& microphoneSource,
                                                                 const std::shared_ptr<WhisperModel>& whisperModel) {
    // The model as it stands now: a session started while it loads listens with PocketSphinx alone.
    auto detector = std::make_unique<WakePhraseDetector>(
        systemListeningPlatform(sensitivity, whisperModel ? whisperModel->transcriber() : nullptr));
    detector->useMicrophone(microphoneSource);
    // At every level: no call of the benchmark lacks it, and it removes the calls the recogniser
    // makes out of distant chatter (docs/benchmark.md, "Busy rooms").
    detector->setRequiresNearSpeech(true);
    // Low hears only someone speaking to the user ("James?", "hey James, got a minute"): a name in
    // the middle of a sentence ("I think James left") is talk about them, not a call. The address
    // cue is the strongest filter of false calls measured, but it costs calls the recogniser
    // mishears the greeting of (docs/benchmark.md, "A confirmed call"): Medium and High keep mentions.
    detector->setRequiresAddress(sensitivity == DetectionSensitivity::low);
    return detector;
}

} // namespace harkwell
