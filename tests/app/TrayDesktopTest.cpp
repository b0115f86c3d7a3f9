// The real application on a real X server (Xvfb) with a window manager (Openbox) and a tray
// (trayer), driven with xdotool like a user: the tray icon opens the control panel below it, a click
// elsewhere closes it, and the preview variable shows only the call panel.
#include "EventLoop.h"
#include "PrivateDBusDaemon.h"
#include "XvfbServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QSize>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace harkwell {
namespace {

// Polls, while other processes make the condition true; false after 20 seconds.
bool eventually(const std::function<bool()>& condition) {
    return testing::eventually(condition, std::chrono::seconds(20), std::chrono::milliseconds(50));
}

class Desktop {
public:
    static constexpr QSize screenSize{1280, 800};

    Desktop() {
        QDir(directory.path()).mkpath("config");
        QDir(directory.path()).mkpath("runtime");
        QFile::setPermissions(directory.filePath("runtime"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        if (!server.error().empty()) {
            error = "Cannot start Xvfb: " + QString::fromStdString(server.error());
            return;
        }
        displayName = QString::fromStdString(server.display());
        if (bus.address().isEmpty()) {
            error = "Cannot start dbus-daemon: " + bus.error();
            return;
        }
        // The tray docks itself through the window manager, so the manager must be up first.
        startHelper(windowManager, "openbox", {}, [&] {
            return run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id");
        });
        startHelper(tray, "trayer",
                    {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "120", "--heighttype",
                     "pixel", "--height", "28", "--SetDockType", "true", "--SetPartialStrut", "true"},
                    [&] {
                        return !run("xdotool", {"search", "--class", "trayer"}).isEmpty();
                    });
    }

    ~Desktop() {
        for (QProcess* process : {&application, &tray, &windowManager}) {
            if (process->state() != QProcess::NotRunning) {
                process->terminate();
                if (!process->waitForFinished(5000)) {
                    process->kill();
                    process->waitForFinished();
                }
            }
        }
    }

    QProcessEnvironment environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", displayName);
        environment.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
        environment.insert("XDG_CONFIG_HOME", directory.filePath("config"));
        environment.insert("XDG_RUNTIME_DIR", directory.filePath("runtime"));
        environment.insert("HOME", directory.path());
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.remove("WAYLAND_DISPLAY");
        environment.remove(QStringLiteral("HARKWELL_PREVIEW_CALL_HUD"));
        return environment;
    }

    // Starts harkwell with settings whose permission setup is complete and simulated AirPods.
    void startApplication(const QMap<QString, QString>& extraEnvironment = {}) {
        QDir(directory.filePath("config")).mkpath("Harkwell");
        for (const auto& [path, content] :
             {std::pair{"config/Harkwell/Harkwell.json",
                        R"({"permissionSetupComplete": true, "wakePhrases": ["James", "Dr. Kim"]})"},
              std::pair{"airpods", "anc\n"}}) {
            QFile file(directory.filePath(path));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) > 0) << path;
        }

        QProcessEnvironment env = environment();
        env.insert("HARKWELL_AIRPODS_SIMULATOR", directory.filePath("airpods"));
        for (auto it = extraEnvironment.begin(); it != extraEnvironment.end(); ++it) {
            env.insert(it.key(), it.value());
        }
        application.setProcessEnvironment(env);
        application.setProcessChannelMode(QProcess::ForwardedChannels);
        application.start(HARKWELL_EXECUTABLE, {});
        ASSERT_TRUE(application.waitForStarted()) << application.errorString().toStdString();
    }

    QString settings() const {
        QFile file(directory.filePath("config/Harkwell/Harkwell.json"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QString run(const QString& program, const QStringList& arguments) const {
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(program, arguments);
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished();
        }
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    // The first of the application's visible windows (absolute geometry) that matches.
    std::optional<QRect> visibleWindow(const std::function<bool(const QRect&)>& matches) const {
        const QString ids = run("xdotool", {"search", "--onlyvisible", "--class", "harkwell"});
        for (const QString& id : ids.split('\n', Qt::SkipEmptyParts)) {
            const QString info = run("xwininfo", {"-id", id});
            const auto number = [&](const char* label) {
                const auto match = QRegularExpression(QString(label) + R"(:\s+(-?\d+))").match(info);
                return match.hasMatch() ? match.captured(1).toInt() : -1;
            };
            const QRect geometry(number("Absolute upper-left X"), number("Absolute upper-left Y"), number("Width"),
                                 number("Height"));
            if (matches(geometry)) {
                return geometry;
            }
        }
        return std::nullopt;
    }
    std::optional<QRect> visibleWindow(QSize size) const {
        return visibleWindow([size](const QRect& geometry) { return geometry.size() == size; });
    }
    // The application's icon in the tray panel along the top edge.
    std::optional<QRect> trayIcon() const {
        return visibleWindow([](const QRect& g) { return g.top() >= 0 && g.bottom() < 28 && g.width() < 40; });
    }

    void click(QPoint point, int button = 1) const {
        run("xdotool", QStringList{"mousemove", QString::number(point.x()), QString::number(point.y()), "click",
                                   QString::number(button)});
    }

    QString error;
    QProcess application;

private:
    // Starts a program of the desktop and waits until it is ready; sets the error when it is not.
    void startHelper(QProcess& process, const QString& program, const QStringList& arguments,
                     const std::function<bool()>& ready) {
        if (!error.isEmpty()) {
            return;
        }
        const QString log = directory.filePath(program + ".log");
        process.setProcessEnvironment(environment());
        process.setStandardOutputFile(log);
        process.setStandardErrorFile(log, QIODevice::Append);
        process.start(program, arguments);
        if (!process.waitForStarted()) {
            error = "Cannot start " + program + ": " + process.errorString();
        } else if (!eventually(ready)) {
            QFile output(log);
            error = program + " did not get ready: " +
                    (output.open(QIODevice::ReadOnly) ? QString::fromUtf8(output.readAll()) : QString());
        }
    }

    QTemporaryDir directory;
    testing::PrivateDBusDaemon bus;
    testing::XvfbServer server{"1280x800x24"}; // screenSize
    QProcess windowManager;
    QProcess tray;
    QString displayName;
};

const QSize popoverSize{420, 560};
const QSize callPanelSize{340, 72};

class TrayDesktopTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(desktop.error.isEmpty()) << desktop.error.toStdString(); }

    Desktop desktop;
};

TEST_F(TrayDesktopTest, TheTrayIconTogglesThePanelBelowItAndASecondLaunchOpensIt) {
    desktop.startApplication();
    std::optional<QRect> icon;
    ASSERT_TRUE(eventually([&] { return (icon = desktop.trayIcon()).has_value(); })) << "no tray icon appeared";
    EXPECT_FALSE(desktop.visibleWindow(popoverSize)) << "the panel opened by itself";

    desktop.click(icon->center());
    std::optional<QRect> panel;
    ASSERT_TRUE(eventually([&] { return (panel = desktop.visibleWindow(popoverSize)).has_value(); }))
        << "the icon did not open the panel";
    const QRect& placed = *panel;
    EXPECT_GE(placed.top(), icon->bottom());
    EXPECT_LE(placed.top(), icon->bottom() + 8);
    EXPECT_TRUE(QRect(QPoint(0, 0), Desktop::screenSize).contains(placed)) << "the panel leaves the screen";

    // The pop-up takes the keyboard: a phrase typed into its field and Return reach the settings.
    desktop.click(placed.topLeft() + QPoint(150, 132)); // the phrase field
    desktop.run("xdotool", {"type", "--delay", "20", "Ann"});
    desktop.run("xdotool", {"key", "Return"});
    EXPECT_TRUE(eventually([&] { return desktop.settings().contains(R"("Ann")"); }))
        << desktop.settings().toStdString();
    EXPECT_TRUE(desktop.visibleWindow(popoverSize).has_value());

    desktop.click({300, 500});
    ASSERT_TRUE(eventually([&] { return !desktop.visibleWindow(popoverSize); })) << "a click outside left it open";

    // Right click opens it as well; a click on the icon while it is open closes it.
    desktop.click(icon->center(), 3);
    ASSERT_TRUE(eventually([&] { return desktop.visibleWindow(popoverSize).has_value(); }));
    desktop.click(icon->center());
    ASSERT_TRUE(eventually([&] { return !desktop.visibleWindow(popoverSize); }));
    EXPECT_FALSE(desktop.visibleWindow(callPanelSize));

    // A second launch opens the running instance's panel and ends.
    QProcess second;
    second.setProcessEnvironment(desktop.environment());
    second.start(HARKWELL_EXECUTABLE, {});
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(eventually([&] { return desktop.visibleWindow(popoverSize).has_value(); }));
    EXPECT_EQ(desktop.application.state(), QProcess::Running);
}

TEST_F(TrayDesktopTest, ThePreviewShowsOnlyTheCallPanel) {
    desktop.startApplication({{"HARKWELL_PREVIEW_CALL_HUD", "1"}});
    std::optional<QRect> panel;
    ASSERT_TRUE(eventually([&] { return (panel = desktop.visibleWindow(callPanelSize)).has_value(); }))
        << "no call panel appeared";
    // Centred, 104 pixels below the top of the area that the tray's panel leaves free (give or take
    // the slide and the rise).
    EXPECT_EQ(panel->left(), (Desktop::screenSize.width() - callPanelSize.width()) / 2);
    EXPECT_GE(panel->top(), 104 - 8);
    EXPECT_LE(panel->top(), 28 + 104);
    EXPECT_FALSE(desktop.trayIcon()) << "the preview put up a tray icon";
    ASSERT_TRUE(eventually([&] { return !desktop.visibleWindow(callPanelSize); })) << "the call panel stayed";
    EXPECT_FALSE(desktop.trayIcon());
    EXPECT_EQ(desktop.application.state(), QProcess::Running);
}

} // namespace
} // namespace harkwell
