#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <ostream>

namespace harkwell {

// Harkwell's services on the session bus, under one bus name.
//
// `harkwell --toggle-mode` asks the running instance, over the session bus, to toggle the AirPods
// between noise cancellation and transparency, as the global shortcut does. This lets a desktop
// without a global-shortcut mechanism for applications (GNOME on Wayland) bind the toggle in its
// own keyboard settings. The running instance owns this bus name and exports this object:
namespace toggleModeBus {
inline const QString service = QStringLiteral("io.github.harkwell.Harkwell");
inline const QString path = QStringLiteral("/io/github/harkwell/Harkwell");
inline const QString interface = QStringLiteral("io.github.harkwell.Harkwell");
// No arguments, no result; answers once the AirPods have switched, or with the error below
// (its message the reason) when they could not be.
inline const QString method = QStringLiteral("ToggleAirPodsMode");
inline const QString switchFailedError = QStringLiteral("io.github.harkwell.Harkwell.Error.SwitchFailed");
} // namespace toggleModeBus

// The running instance's end: calls onToggle on the main thread for each request, with the
// completion that answers it: no failure, or why the AirPods were not switched.
class ToggleModeService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.harkwell.Harkwell")

public:
    using Completion = std::function<void(const std::optional<QString>& failure)>;
    explicit ToggleModeService(std::function<void(Completion)> onToggle, QObject* parent = nullptr);

    // Exports this object and takes the bus name. Returns the reason when either fails, for
    // instance because another instance owns the name already.
    std::optional<QString> exportOn(QDBusConnection bus);

public slots:
    void ToggleAirPodsMode();

private:
    std::function<void(Completion)> onToggle_;
};

// The command line's end: asks the instance on bus to toggle and waits for the switch. Returns 0,
// or writes why not ("Harkwell is not running.", the reason the AirPods were not switched) to
// errors and returns 1.
int runToggleModeCommand(const QDBusConnection& bus, std::ostream& errors);
// From now on the process prints Harkwell's own messages alone, for the command above: Qt's D-Bus
// warns of an "invalid type" (on its own thread, even after the answer) when the instance it
// reached is quitting, and the command says what happened itself.
void quietQtWarnings();

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
bool isRunningInstanceOn(const QDBusConnection& bus);
// Asks the running instance to open its control panel; false when no instance took the request.
bool openRunningInstancePanel(const QDBusConnection& bus);

} // namespace harkwell
