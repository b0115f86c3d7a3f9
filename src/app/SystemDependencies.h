#pragma once

#include "model/AppModel.h"

#include <string>

namespace harkwell {

// The real parts the application model works through: the ModeRelay helper for the AirPods, the
// session's global-shortcut mechanism, the system's permissions, the call detector on the built-in
// microphone, the application's key events, the user's settings file, the user's autostart
// folder, the session's media players (MPRIS) and the sound server's streams, and the accurate
// recogniser's model at whisperModelPath (empty: none), made once here
// and shared by the model and every listener. Needs the QApplication.
AppModel::Dependencies makeSystemDependencies(const std::string& whisperModelPath);

} // namespace harkwell
