// The real application under Xvfb with a window manager (Openbox) and a tray (trayer), driven
// with xdotool like a user. Its windows are found as any X client finds them: the panels by their
// window role (their object name), the tray icon as the one window the tray has embedded.
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

namespace harkwell {
namespace {

// Polls, while other processes make the condition true; false after 20 seconds.
bool poll(const std::function<bool()>& condition) {
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

// Just below the icon (the tray's strut may push it down a little), and across it.
bool isBelow(const std::optional<QRect>& panel, const std::optional<QRect>& icon) {
    return panel && icon && panel->top() >= icon->bottom() && panel->top() <= icon->bottom() + 8 &&
           panel->left() <= icon->center().x() && icon->center().x() <= panel->right();
}

TEST_F(TrayDesktopTest, ThePanelOpensBelowTheIconTakesTheKeyboardAndClosesOnAClick) {
    write("airpods", "anc\n");
    run("xdotool", {"mousemove", "100", "700"}); // far from the tray, where a panel placed by the pointer shows
    start(application, HARKWELL_EXECUTABLE, {});
    std::optional<QRect> icon;
    ASSERT_TRUE(poll([&] { return (icon = trayIcon()).has_value(); })) << "no tray icon appeared";
    // The first launch opens it; the tray may still be laying the icon out, and the panel follows it.
    EXPECT_TRUE(poll([&] { return isBelow(controlPanel(), icon = trayIcon()); })) << "no panel below the icon";
    ASSERT_TRUE(icon);
    // Escape closes a pop-up, so it closes only when the key reaches the panel.
    run("xdotool", {"key", "Escape"});
    EXPECT_TRUE(poll([&] { return !isControlPanelShown(); })) << "Escape did not reach the panel";

    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(HARKWELL_EXECUTABLE, {});
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(poll([&] { return isControlPanelShown(); })) << "a second launch did not open the panel";

    click(icon->center());
    EXPECT_TRUE(poll([&] { return !isControlPanelShown(); })) << "a click on the icon left it open";
    click(icon->center());
    std::optional<QRect> panel;
    ASSERT_TRUE(poll([&] { return (panel = controlPanel()).has_value(); })) << "the icon did not open the panel";
    EXPECT_TRUE(isBelow(panel, icon));
    click({panel->left() - 100, panel->center().y()});
    EXPECT_TRUE(poll([&] { return !isControlPanelShown(); })) << "a click outside left it open";
    EXPECT_EQ(application.state(), QProcess::Running);
}

// Without a tray, a start after the setup opens the panel as a window of its own, which has the
// keyboard at once, closes on Escape and opens again at the next start.
TEST_F(TrayDesktopTest, WithoutATrayEveryStartOpensThePanelWithTheKeyboard) {
    tray.terminate();
    ASSERT_TRUE(tray.waitForFinished(5000));
    ASSERT_TRUE(poll([&] { return run("xdotool", {"search", "--class", "trayer"}).isEmpty(); }));
    write("airpods", "anc\n");
    write("config/Harkwell/Harkwell.json", R"({"permissionSetupComplete": true})");
    start(application, HARKWELL_EXECUTABLE, {});
    const auto focusedRole = [&] {
        const QString focused = run("xdotool", {"getwindowfocus"}).trimmed();
        return run("xprop", {"-id", focused, "WM_WINDOW_ROLE"});
    };
    for (const char* start : {"first", "second"}) {
        ASSERT_TRUE(poll([&] { return isControlPanelShown(); })) << start << " start opened no panel";
        EXPECT_TRUE(poll([&] { return focusedRole().contains("\"controlPanel\""); })) << start << ": not focused";
        EXPECT_FALSE(trayIcon());
        run("xdotool", {"key", "Escape"});
        EXPECT_TRUE(poll([&] { return !isControlPanelShown(); })) << "Escape did not reach the panel";
        QProcess again;
        again.setProcessEnvironment(environment);
        again.start(HARKWELL_EXECUTABLE, {});
        ASSERT_TRUE(again.waitForFinished(20000));
        EXPECT_EQ(again.exitCode(), 0);
    }
    EXPECT_EQ(application.state(), QProcess::Running);
}

// The call panel leaves the keys with the window that has the focus (focus-log-window.py).
TEST_F(TrayDesktopTest, ThePreviewShowsOnlyTheCallPanelThenEnds) {
    QProcess focusLog;
    QProcessEnvironment gtk = environment;
    gtk.insert("GDK_BACKEND", "x11");
    gtk.insert("NO_AT_BRIDGE", "1");
    focusLog.setProcessEnvironment(gtk);
    focusLog.start("/usr/bin/python3", {HARKWELL_TEST_SUPPORT_DIR "/focus-log-window.py"});
    QString logged;
    const auto focusLogSays = [&](const QString& line) {
        logged += QString::fromUtf8(focusLog.readAllStandardOutput());
        return logged.split('\n').contains(line);
    };
    ASSERT_TRUE(poll([&] { return focusLogSays("FOCUS in"); })) << "the other window did not get the focus";
    environment.insert("HARKWELL_PREVIEW_CALL_HUD", "1");
    start(application, HARKWELL_EXECUTABLE, {});
    std::optional<QRect> callPanel;
    ASSERT_TRUE(poll([&] { return (callPanel = window("callPanel")).has_value(); })) << "no call panel appeared";
    run("xdotool", {"type", "--delay", "20", "Keys-typed-meanwhile"});
    EXPECT_TRUE(window("callPanel")) << "the call was over before the keys were typed";
    EXPECT_TRUE(poll([&] { return focusLogSays("TEXT Keys-typed-meanwhile"); }))
        << "keys lost: " << logged.toStdString();
    focusLog.terminate();
    focusLog.waitForFinished(5000);
    EXPECT_EQ(callPanel->size(), QSize(340, 72));
    EXPECT_FALSE(trayIcon()) << "the preview put up a tray icon";
    // It fades out after 2.7 seconds, and the process ends by itself.
    EXPECT_TRUE(poll([&] { return !window("callPanel"); }));
    ASSERT_TRUE(application.waitForFinished(20000)) << "the preview kept running";
    EXPECT_EQ(application.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(application.exitCode(), 0);
}

} // namespace
} // namespace harkwell
