// The real application on a real X server (Xvfb) with a window manager (Openbox) and a tray
// (trayer), driven with xdotool like a user: the tray icon opens the control panel below it, the
// keyboard reaches the panel, a click on the icon closes it, and a second launch opens it.
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

bool isPanel(const QRect& window) { return window.size() == QSize(420, 560); }
bool isTrayIcon(const QRect& window) { return window.bottom() < 28 && window.width() < 40; }

// Polls, while other processes make the condition true; false after 20 seconds.
bool poll(const std::function<bool()>& condition) {
    return testing::eventually(condition, std::chrono::seconds(20), std::chrono::milliseconds(50));
}

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

    // The first of the application's visible windows, in absolute geometry, that matches.
    std::optional<QRect> window(const std::function<bool(const QRect&)>& matches) const {
        static const QRegularExpression geometry(R"(X=(-?\d+)\nY=(-?\d+)\nWIDTH=(\d+)\nHEIGHT=(\d+))");
        for (auto found = geometry.globalMatch(run(
                 "xdotool", {"search", "--onlyvisible", "--class", "harkwell", "getwindowgeometry", "--shell", "%@"}));
             found.hasNext();) {
            const auto match = found.next();
            const QRect rect(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt(),
                             match.captured(4).toInt());
            if (matches(rect)) {
                return rect;
            }
        }
        return std::nullopt;
    }
    bool panelShown() const { return window(isPanel).has_value(); }

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

TEST_F(TrayDesktopTest, TheTrayIconOpensThePanelBelowItAndASecondLaunchOpensIt) {
    for (const auto& [path, content] :
         {std::pair{"config/Harkwell/Harkwell.json", R"({"permissionSetupComplete": true})"},
          std::pair{"airpods", "anc\n"}}) {
        QFile file(directory.filePath(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) > 0) << path;
    }
    start(application, HARKWELL_EXECUTABLE, {});
    std::optional<QRect> icon;
    ASSERT_TRUE(poll([&] { return (icon = window(isTrayIcon)).has_value(); })) << "no tray icon appeared";

    click(icon->center());
    std::optional<QRect> panel;
    ASSERT_TRUE(poll([&] { return (panel = window(isPanel)).has_value(); })) << "the icon did not open the panel";
    EXPECT_GE(panel->top(), icon->bottom());
    EXPECT_LE(panel->top(), icon->bottom() + 8);

    // The pop-up takes the keyboard: a phrase typed into its field and Return reach the settings.
    click(panel->topLeft() + QPoint(150, 132)); // the phrase field
    run("xdotool", {"type", "--delay", "20", "Ann"});
    run("xdotool", {"key", "Return"});
    const auto settings = [&] { return run("cat", {directory.filePath("config/Harkwell/Harkwell.json")}); };
    EXPECT_TRUE(poll([&] { return settings().contains(R"("Ann")"); })) << settings().toStdString();

    click(icon->center());
    ASSERT_TRUE(poll([&] { return !panelShown(); })) << "a click on the icon left it open";

    // A second launch opens the running instance's panel and ends.
    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(HARKWELL_EXECUTABLE, {});
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(poll([&] { return panelShown(); }));
    click({400, 700}); // outside the panel
    EXPECT_TRUE(poll([&] { return !panelShown(); })) << "a click outside left it open";
    EXPECT_EQ(application.state(), QProcess::Running);
}

TEST_F(TrayDesktopTest, ThePreviewShowsTheCallPanelAndNoTrayIcon) {
    environment.insert("HARKWELL_PREVIEW_CALL_HUD", "1");
    start(application, HARKWELL_EXECUTABLE, {});
    EXPECT_TRUE(poll([&] { return window([](const QRect& w) { return w.size() == QSize(340, 72); }).has_value(); }))
        << "no call panel appeared";
    EXPECT_FALSE(window(isTrayIcon)) << "the preview put up a tray icon";
}

} // namespace
} // namespace harkwell
