#pragma once

#include "detection/WakePhraseDetector.h"
#include "detection/WakePhraseListener.h"

#include <memory>
#include <string>

namespace harkwell {

// The platform the application listens through: PocketSphinx for "en-US" (no recogniser for
// other locales), the sound server's built-in microphone through Qt Multimedia, and the
// desktop's permissions (always granted on Linux).
WakePhraseDetector::Platform systemListeningPlatform();

// A detector on that platform, for the model's WakePhraseListenerFactory. Needs a running
// QCoreApplication (or QApplication); results and errors come on its main thread.
std::unique_ptr<WakePhraseListener> makeSystemWakePhraseListener(AppLocale locale);

} // namespace harkwell
