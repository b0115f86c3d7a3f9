#include "SwaySession.h"

#include "EventLoop.h"
#include "PrivateBusConnection.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <array>

namespace harkwell::testing {
namespace {

// Polls, while sway and its clients come up; false after 20 seconds.
bool poll(const std::function<bool()>& condition) {
    return eventually(condition, std::chrono::seconds(20), std::chrono::milliseconds(20));
}

// What a program of the session does not inherit from the test: another display or a forced platform.
constexpr std::array removedVariables{"DISPLAY", "QT_QPA_PLATFORM", "WAYLAND_SOCKET", "HARKWELL_PREVIEW_CALL_HUD"};

void collectWindows(const QJsonObject& node, std::vector<SwayWindow>& windows) {
    if (node["pid"].isDouble()) {
        windows.push_back({node["app_id"].toString(), node["name"].toString(), node["focused"].toBool()});
    }
    for (const char* children : {"nodes", "floating_nodes"}) {
        for (const QJsonValue& child : node[children].toArray()) {
            collectWindows(child.toObject(), windows);
        }
    }
}

} // namespace

QByteArray SwaySession::run(const QString& program, const QStringList& arguments) const {
    QProcess process;
    process.setProcessEnvironment(environment_);
    process.start(program, arguments);
    process.waitForFinished(10000);
    return process.readAllStandardOutput();
}

std::vector<SwayWindow> SwaySession::windows() const {
    std::vector<SwayWindow> found;
    collectWindows(QJsonDocument::fromJson(run("swaymsg", {"-t", "get_tree", "-r"})).object(), found);
    return found;
}

SwayWindow SwaySession::focusedWindow() const {
    const auto all = windows();
    const auto found = std::ranges::find_if(all, &SwayWindow::isFocused);
    return found == all.end() ? SwayWindow{} : *found;
}

std::optional<SwayWindow> SwaySession::window(const QString& appId) const {
    const auto all = windows();
    const auto found = std::ranges::find_if(all, [&](const SwayWindow& window) { return window.appId == appId; });
    return found == all.end() ? std::nullopt : std::optional(*found);
}

bool SwaySession::isNotificationShown() const {
    // mako lists what it shows on its own interface.
    if (!notices_) {
        notices_ = connectToPrivateBus(bus_, "sway notices");
    }
    const QDBusMessage reply = notices_->call(QDBusMessage::createMethodCall(
        "org.freedesktop.Notifications", "/fr/emersion/Mako", "fr.emersion.Mako", "ListNotifications"));
    return !qdbus_cast<QList<QVariantMap>>(reply.arguments().value(0)).isEmpty();
}

SwaySession::SwaySession() {
    if (QStandardPaths::findExecutable("sway").isEmpty()) {
        unavailable_ = "sway is not installed (scripts/packages.txt lists it)";
    } else if (!start()) {
        // Nothing half started stays behind.
        keyboard_.terminate();
        notifications_.terminate();
        sway_.terminate();
    }
}

SwaySession::~SwaySession() {
    if (notices_) {
        QDBusConnection::disconnectFromBus(notices_->name());
    }
}

bool SwaySession::start() {
    if (!directory_.isValid() || bus_.address().isEmpty()) {
        error_ = "no temporary folder or private bus: " + bus_.error().toStdString();
        return false;
    }
    // sway's own user reaches its runtime folder inside the test's.
    QFile::setPermissions(directory_.path(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
    const QString swayRuntime = path("sway");
    if (!sway_.start("bash", {HARKWELL_TEST_SUPPORT_DIR "/run-sway.sh", swayRuntime.toStdString()})) {
        error_ = "cannot start sway: " + sway_.error();
        return false;
    }
    QString ipcSocket;
    if (!poll([&] {
            const QStringList sockets = QDir(swayRuntime).entryList({"sway-ipc.*.sock"}, QDir::System);
            ipcSocket = sockets.isEmpty() ? QString() : QDir(swayRuntime).filePath(sockets.first());
            return !sway_.isRunning() || (!ipcSocket.isEmpty() && QFile::exists(swayRuntime + "/wayland-1"));
        }) ||
        !sway_.isRunning()) {
        error_ = "sway did not become ready: " + sway_.log();
        return false;
    }

    QDir().mkpath(path("home/.config"));
    QDir().mkdir(path("runtime"));
    QFile::setPermissions(path("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    environment_ = QProcessEnvironment::systemEnvironment();
    for (const char* name : removedVariables) {
        environment_.remove(name);
    }
    environment_.insert("WAYLAND_DISPLAY", swayRuntime + "/wayland-1");
    environment_.insert("SWAYSOCK", ipcSocket);
    environment_.insert("XDG_SESSION_TYPE", "wayland");
    environment_.insert("XDG_CURRENT_DESKTOP", "sway");
    environment_.insert("DBUS_SESSION_BUS_ADDRESS", bus_.address());
    environment_.insert("XDG_RUNTIME_DIR", path("runtime"));
    environment_.insert("HOME", path("home"));
    environment_.insert("XDG_CONFIG_HOME", path("home/.config"));

    const QDBusConnection connection = connectToPrivateBus(bus_, "sway session");
    const bool notifying =
        startClient(notifications_, "mako", {}) &&
        poll([&] { return connection.interface()->isServiceRegistered("org.freedesktop.Notifications").value(); });
    QDBusConnection::disconnectFromBus(connection.name());
    if (!notifying) {
        error_ = "the notification daemon did not start: " + notifications_.error() + notifications_.log();
        return false;
    }
    // A keyboard that types nothing for an hour.
    if (!startClient(keyboard_, "wtype", {"-s", "3600000"}) || !poll([&] {
            QProcess inputs;
            inputs.setProcessEnvironment(environment_);
            inputs.start("swaymsg", {"-t", "get_inputs", "-r"});
            inputs.waitForFinished(10000);
            return inputs.readAllStandardOutput().contains("\"keyboard\"");
        })) {
        error_ = "no keyboard in sway's seat: " + keyboard_.error() + keyboard_.log();
        return false;
    }
    return true;
}

bool SwaySession::startClient(ChildProcess& process, const std::string& program,
                              const std::vector<std::string>& arguments) {
    std::vector<std::string> changes(removedVariables.begin(), removedVariables.end());
    for (const QString& entry : environment_.toStringList()) {
        changes.push_back(entry.toStdString());
    }
    return process.start(program, arguments, changes);
}

} // namespace harkwell::testing
