#pragma once

#include "model/AppModel.h"

namespace harkwell {

// The real parts the application model works through: the ModeRelay helper for the AirPods, the
// session's global-shortcut mechanism, the system's permissions, the call detector on the built-in
// microphone, the application's key events, the user's settings file and the user's autostart
// folder. Needs the QApplication.
AppModel::Dependencies makeSystemDependencies();

} // namespace harkwell
