#pragma once

// The fixture of the tests of the real application on an X11 desktop: Xvfb with a window manager
// (Openbox) and a tray (trayer), a private session bus, a home of the test's own, driven with
// xdotool like a user. The application's windows are found as any X client finds them: the panels
// by their window role (their object name), the tray icon as the one window the tray has embedded.

#include "EventLoop.h"
#include "PrivateDBusDaemon.h"
#include "XvfbServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

namespace harkwell::testing {

// Polls, while other processes make the condition true; false after 20 seconds.
inline bool poll(const std::function<bool()>& condition) {
    return testing::eventually(condition, std::chrono::seconds(20), std::chrono::milliseconds(50));
}

// One of the application's windows on screen, as the X server knows it.
struct AppWindow {
    QString role;    // WM_WINDOW_ROLE, empty when it has none
    bool isEmbedded; // a child of another client's window rather than of the root window
    QRect geometry;  // absolute
};

class TrayDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.error().empty()) << server.error();
        ASSERT_FALSE(bus.address().isEmpty()) << bus.error().toStdString();
        QDir(directory.path()).mkpath("config/Harkwell");
        environment.insert("DISPLAY", QString::fromStdString(server.display()));
        environment.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
        environment.insert("XDG_CONFIG_HOME", directory.filePath("config"));
        environment.insert("HOME", directory.path());
        environment.insert("XDG_RUNTIME_DIR", directory.path()); // the user's own, closed to others
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("HARKWELL_AIRPODS_SIMULATOR", directory.filePath("airpods"));
        environment.remove("WAYLAND_DISPLAY");
        environment.remove("HARKWELL_PREVIEW_CALL_HUD");
        // The tray docks itself through the window manager, so the manager must be up first.
        start(windowManager, "openbox", {});
        ASSERT_TRUE(poll([&] { return run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id"); }));
        start(tray, "trayer",
              {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "120", "--heighttype", "pixel",
               "--height", "28", "--SetDockType", "true", "--SetPartialStrut", "true"});
        ASSERT_TRUE(poll([&] { return !run("xdotool", {"search", "--class", "trayer"}).isEmpty(); }));
    }

    ~TrayDesktopTest() override {
        for (QProcess* process : {&application, &tray, &windowManager}) {
            process->terminate();
            process->waitForFinished(5000);
        }
    }

    void start(QProcess& process, const QString& program, const QStringList& arguments) {
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(program, arguments);
        ASSERT_TRUE(process.waitForStarted()) << program.toStdString() << ": " << process.errorString().toStdString();
    }

    QString run(const QString& program, const QStringList& arguments) const {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        process.waitForFinished(10000);
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    void write(const QString& path, const QByteArray& content) const {
        QFile file(directory.filePath(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size()) << path.toStdString();
    }

    // The application's windows that are on screen.
    std::vector<AppWindow> windows() const {
        static const QRegularExpression role(R"re(WM_WINDOW_ROLE\(STRING\) = "([^"]*)")re");
        static const QRegularExpression parent(
            R"(Root window id: (0x[0-9a-f]+).*\n\s*Parent window id: (0x[0-9a-f]+))");
        static const QRegularExpression geometry(
            R"(Absolute upper-left X:\s+(-?\d+)\s+Absolute upper-left Y:\s+(-?\d+)[\s\S]*Width:\s+(\d+)\s+Height:\s+(\d+))");
        std::vector<AppWindow> found;
        for (const QString& id :
             run("xdotool", {"search", "--onlyvisible", "--class", "harkwell"}).split('\n', Qt::SkipEmptyParts)) {
            const QString info = run("xwininfo", {"-id", id, "-children", "-stats"});
            const auto tree = parent.match(info);
            const auto place = geometry.match(info);
            if (!tree.hasMatch() || !place.hasMatch()) {
                continue; // gone in the meantime
            }
            found.push_back({role.match(run("xprop", {"-id", id, "WM_WINDOW_ROLE"})).captured(1),
                             tree.captured(1) != tree.captured(2),
                             QRect(place.captured(1).toInt(), place.captured(2).toInt(), place.captured(3).toInt(),
                                   place.captured(4).toInt())});
        }
        return found;
    }
    // The window with this role (the object name the application gave it), when it is on screen.
    std::optional<QRect> window(const QString& role) const {
        for (const AppWindow& window : windows()) {
            if (window.role == role) {
                return window.geometry;
            }
        }
        return std::nullopt;
    }
    std::optional<QRect> trayIcon() const {
        for (const AppWindow& window : windows()) {
            if (window.isEmbedded && window.role.isEmpty()) {
                return window.geometry;
            }
        }
        return std::nullopt;
    }
    std::optional<QRect> controlPanel() const { return window("controlPanel"); }
    bool isControlPanelShown() const { return window("controlPanel").has_value(); }

    void click(QPoint point) const {
        run("xdotool", {"mousemove", QString::number(point.x()), QString::number(point.y()), "click", "1"});
    }

    testing::XvfbServer server{"1280x800x24"};
    testing::PrivateDBusDaemon bus;
    QTemporaryDir directory;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QProcess windowManager;
    QProcess tray;
    QProcess application;
};

} // namespace harkwell::testing
