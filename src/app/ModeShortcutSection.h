#pragma once

#include "app/PanelParts.h"

#include <QWidget>

namespace harkwell {

// The AirPods' mode, picked from noise cancellation, Transparency and off, and the global
// shortcut: shown, recorded (or the recording cancelled) and cleared. Neither moves while a helper
// command runs.
class ModeShortcutSection : public panel::Section {
    Q_OBJECT

public:
    ModeShortcutSection(AppModel& model, PanelParts& parts, QWidget* parent = nullptr);

private:
    QWidget* buildModePicker();
    QWidget* buildShortcutPicker();
    void refreshModePicker();
    void refreshShortcut();
};

} // namespace harkwell
