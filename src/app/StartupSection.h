#pragma once

#include "app/PanelParts.h"

#include <QWidget>

namespace harkwell {

// Start at login and, beside it, listening at start, on one row: each label before its switch,
// which shows what the model decided.
class StartupSection : public panel::Section {
    Q_OBJECT

public:
    StartupSection(AppModel& model, PanelParts& parts, QWidget* parent = nullptr);

private:
    void refresh();
};

} // namespace harkwell
