#pragma once

// Diagnostics, one logging category a subsystem. Only warnings and worse are printed by default;
// QT_LOGGING_RULES="harkwell.*=true" (or "harkwell.speech.debug=true", ...) switches on the rest.
// Everything goes to Qt's message handler (standard error); Harkwell writes no log file.

#include <QLoggingCategory>
#include <QString>

#include <string_view>

namespace harkwell {

Q_DECLARE_LOGGING_CATEGORY(logAirPods)   // harkwell.airpods: helper runs, their exit codes and durations
Q_DECLARE_LOGGING_CATEGORY(logApp)       // harkwell.app: start-up, the tray, the panels
Q_DECLARE_LOGGING_CATEGORY(logAudio)     // harkwell.audio: the microphone chosen and why, capture
Q_DECLARE_LOGGING_CATEGORY(logDetection) // harkwell.detection: detections, their phrase and window
Q_DECLARE_LOGGING_CATEGORY(logDesktop)   // harkwell.desktop: the session, tray host, notifications, desktop shortcuts
Q_DECLARE_LOGGING_CATEGORY(logMedia)     // harkwell.media: the players paused and resumed, the streams lowered
Q_DECLARE_LOGGING_CATEGORY(logModel)     // harkwell.model: settings, listening sessions, mode changes
Q_DECLARE_LOGGING_CATEGORY(logShortcut)  // harkwell.shortcut: registration, refusals, portal errors
Q_DECLARE_LOGGING_CATEGORY(logSpeech)    // harkwell.speech: the recogniser's start and its settings

// UTF-8 text (a stored name, a phrase) for the diagnostics, which print it quoted.
inline QString logged(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace harkwell
