#pragma once

#include "detection/WakePhraseDetector.h"
#include "detection/WakePhraseListener.h"
#include "speech/WhisperModel.h"

#include <memory>
#include <string>

namespace harkwell {

// The platform the application listens through: the recognisers of the phrases' languages with the
// settings of the sensitivity level (listeningRecognizerFactory: for English PocketSphinx proposing
// and Whisper deciding, or PocketSphinx alone without a loaded model; for Korean Whisper alone with
// a multilingual model); the sound server's microphones through libpulse, and
// the desktop's permissions (always granted on Linux). Calls are reported only after near speech
// (WakePhraseDetector::setRequiresNearSpeech).
WakePhraseDetector::Platform systemListeningPlatform(DetectionSensitivity sensitivity,
                                                     const std::shared_ptr<WhisperTranscriber>& transcriber = nullptr);

// A detector on that platform, for the model's WakePhraseListenerFactory. Needs a running
// QCoreApplication (or QApplication); results and errors come on its main thread.
// Listens on microphoneSource (a sound server's source name), or on the built-in microphone when
// it is empty. whisperModel is the process's accurate recogniser model (none: the basic recogniser
// alone). At Low, a call is reported only when said as an address. Each phrase is listened for in
// its own language, whatever the interface's.
std::unique_ptr<WakePhraseListener>
makeSystemWakePhraseListener(DetectionSensitivity sensitivity, const std::string& microphoneSource = {},
                             const std::shared_ptr<WhisperModel>& whisperModel = nullptr);

} // namespace harkwell
