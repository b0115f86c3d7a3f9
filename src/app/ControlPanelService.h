#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>

namespace harkwell {

// One Harkwell runs per user session: the running instance owns the bus name of the
// `harkwell --toggle-mode` service and also exports this object, through which a second launch
// asks it to open its control panel before it exits.
namespace controlPanelBus {
inline const QString path = QStringLiteral("/io/github/harkwell/Harkwell/ControlPanel");
inline const QString interface = QStringLiteral("io.github.harkwell.Harkwell.ControlPanel");
inline const QString method = QStringLiteral("Open"); // no arguments, no result
} // namespace controlPanelBus

// The running instance's end: calls onOpen on the main thread for each request.
class ControlPanelService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.harkwell.Harkwell.ControlPanel")

public:
    explicit ControlPanelService(std::function<void()> onOpen, QObject* parent = nullptr);

    // Exports the object (the bus name is taken with the toggle service). False when the path is
    // taken already.
    bool exportOn(QDBusConnection bus);

public slots:
    void Open();

private:
    std::function<void()> onOpen_;
};

// Whether another process owns Harkwell's bus name on bus.
bool isRunningInstanceOn(QDBusConnection bus);
// Asks the running instance to open its control panel; false when no instance took the request.
bool openRunningInstancePanel(QDBusConnection bus);

} // namespace harkwell
