#include "core/Log.h"

namespace harkwell {

Q_LOGGING_CATEGORY(logAirPods, "harkwell.airpods", QtWarningMsg)
Q_LOGGING_CATEGORY(logApp, "harkwell.app", QtWarningMsg)
Q_LOGGING_CATEGORY(logAudio, "harkwell.audio", QtWarningMsg)
Q_LOGGING_CATEGORY(logDetection, "harkwell.detection", QtWarningMsg)
Q_LOGGING_CATEGORY(logDesktop, "harkwell.desktop", QtWarningMsg)
Q_LOGGING_CATEGORY(logMedia, "harkwell.media", QtWarningMsg)
Q_LOGGING_CATEGORY(logModel, "harkwell.model", QtWarningMsg)
Q_LOGGING_CATEGORY(logShortcut, "harkwell.shortcut", QtWarningMsg)
Q_LOGGING_CATEGORY(logSpeech, "harkwell.speech", QtWarningMsg)

} // namespace harkwell
