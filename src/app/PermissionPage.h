#pragma once

#include "app/PanelParts.h"

#include <QWidget>

namespace harkwell {

// The permission screen's own part: what setup asks for and why, and the button that runs it,
// which shows the step under way while a check (or another helper command) runs.
class PermissionPage : public panel::Section {
    Q_OBJECT

public:
    PermissionPage(AppModel& model, PanelParts& parts, QWidget* parent = nullptr);

private:
    void refresh();
};

} // namespace harkwell
