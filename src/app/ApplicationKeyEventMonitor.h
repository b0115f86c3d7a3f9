#pragma once

#include "model/KeyEventMonitor.h"

#include <QObject>

namespace harkwell {

// The key presses of shortcut recording, taken by an event filter on the whole application.
class ApplicationKeyEventMonitor final : public QObject, public KeyEventMonitor {
public:
    ~ApplicationKeyEventMonitor() override;

    void install(Handler handler) override;
    void remove() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Handler handler_;
};

} // namespace harkwell
