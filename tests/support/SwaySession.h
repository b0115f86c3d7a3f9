#pragma once

#include "ChildProcess.h"
#include "PrivateDBusDaemon.h"

#include <QDBusConnection>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace harkwell::testing {

// A window in sway's tree.
struct SwayWindow {
    QString appId;
    QString title; // sway's "name"
    bool isFocused = false;
};

// A sway session of the test's own (tests/support/run-sway.sh): sway headless on one 1280x800
// output without a bar (no tray), a private session bus, a notification daemon (mako) that shows
// what is sent to org.freedesktop.Notifications, and a keyboard, so that typing with wtype reaches
// the focused window from its first key (a client that finds no keyboard in the seat drops the
// keys sent while its own keyboard is being set up). Under root sway runs as an ordinary user;
// the test's own programs connect as root through the sockets' absolute paths. Ready when the
// constructor returns; stopped when the object goes.
class SwaySession {
public:
    SwaySession();
    ~SwaySession();
    SwaySession(const SwaySession&) = delete;
    SwaySession& operator=(const SwaySession&) = delete;

    // Why sway cannot run on this machine at all (it is not installed); the test skips then.
    const std::string& unavailable() const { return unavailable_; }
    // Why the session did not start; empty when it runs.
    const std::string& error() const { return error_; }

    // The environment of a program of this session: a Wayland session of sway (no X display, no
    // Qt platform forced) with its bus and a runtime and home folder of its own.
    const QProcessEnvironment& environment() const { return environment_; }
    // A folder the test may use, removed with the session.
    QString path(const QString& name) const { return directory_.filePath(name); }
    const PrivateDBusDaemon& bus() const { return bus_; }

    // Runs a program of the session to its end (10 s at most); its standard output.
    QByteArray run(const QString& program, const QStringList& arguments) const;
    // The windows on screen, as sway tells them (swaymsg -t get_tree).
    std::vector<SwayWindow> windows() const;
    // The window with the focus; an empty one when none has it.
    SwayWindow focusedWindow() const;
    // The window of the program with this Wayland app id, when it shows one.
    std::optional<SwayWindow> window(const QString& appId) const;
    // Whether the notification daemon shows a notification now.
    bool isNotificationShown() const;

private:
    bool start();
    bool startClient(ChildProcess& process, const std::string& program, const std::vector<std::string>& arguments);

    QTemporaryDir directory_;
    PrivateDBusDaemon bus_;
    ChildProcess sway_;
    ChildProcess notifications_;
    ChildProcess keyboard_;
    QProcessEnvironment environment_;
    mutable std::optional<QDBusConnection> notices_;
    std::string unavailable_;
    std::string error_;
};

} // namespace harkwell::testing
