// The real application on a real Wayland compositor: sway headless without a bar (so without a
// tray), with a notification daemon. Another window (focus-log-window.py) has the focus when
// Harkwell starts; keys are typed with wtype as a user would, and sway's own account of its
// windows and of the focus (swaymsg) tells what Harkwell put on screen and where the keys went.
#include "EventLoop.h"
#include "SwaySession.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <ostream>

namespace harkwell {
namespace {

constexpr const char* focusLogId = "harkwell-focus-log";
constexpr const char* harkwellId = "io.github.harkwell.Harkwell";

// Polls, while other processes make the condition true; false after 20 seconds.
bool poll(const std::function<bool()>& condition) {
    return testing::eventually(condition, std::chrono::seconds(20), std::chrono::milliseconds(20));
}

struct Launch {
    const char* name;
    bool isPreview;         // HARKWELL_PREVIEW_CALL_HUD=1: the call is shown once, then it ends
    const char* settings;   // Harkwell.json, none when empty (a first launch)
    bool panelTakesTheKeys; // the control panel opens and takes the focus, else the other window keeps it
    bool isClosedByFocus;   // the other window is focused after the typing, else Escape is typed
};

void PrintTo(const Launch& launch, std::ostream* out) { *out << launch.name; }

class WaylandDesktopTest : public ::testing::TestWithParam<Launch> {
protected:
    void SetUp() override {
        if (!session.unavailable().empty()) {
            GTEST_SKIP() << session.unavailable();
        }
        ASSERT_TRUE(session.error().empty()) << session.error();
        start(windowEvents, "swaymsg", {"-t", "subscribe", "-m", "-r", R"(["window"])"});
        start(focusLog, "/usr/bin/python3", {HARKWELL_TEST_SUPPORT_DIR "/focus-log-window.py"});
        ASSERT_TRUE(poll([&] { return focusedWindow().appId == focusLogId && focusLogSays("FOCUS in"); }))
            << "the other window did not get the focus: " << focusLog.readAllStandardError().toStdString();
    }

    ~WaylandDesktopTest() override {
        for (QProcess* process : {&application, &focusLog, &windowEvents}) {
            process->terminate();
            process->waitForFinished(5000);
        }
    }

    // In the session's environment, or this one when it is given.
    void start(QProcess& process, const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment = {}) {
        process.setProcessEnvironment(environment.isEmpty() ? session.environment() : environment);
        process.start(program, arguments);
        ASSERT_TRUE(process.waitForStarted()) << program.toStdString() << ": " << process.errorString().toStdString();
    }

    testing::SwayWindow focusedWindow() const { return session.focusedWindow(); }
    std::optional<testing::SwayWindow> harkwellWindow() const { return session.window(harkwellId); }
    QByteArray run(const QString& program, const QStringList& arguments) const {
        return session.run(program, arguments);
    }

    bool focusLogSays(const QString& line) {
        focusLogOutput += QString::fromUtf8(focusLog.readAllStandardOutput());
        return focusLogOutput.split('\n').contains(line);
    }

    // The app ids of the windows other than the focus log that opened and of those that took the
    // focus, from sway's events since the last call. The log's own events are left out: under load
    // they can still be in the pipe when the test begins.
    std::pair<QStringList, QStringList> windowChanges() {
        QStringList opened;
        QStringList focused;
        for (const QByteArray& line : windowEvents.readAllStandardOutput().split('\n')) {
            const QJsonObject event = QJsonDocument::fromJson(line).object();
            const QString appId = event["container"].toObject()["app_id"].toString();
            if (appId == focusLogId) {
                continue;
            }
            if (event["change"] == "new") {
                opened << appId;
            } else if (event["change"] == "focus") {
                focused << appId;
            }
        }
        return {opened, focused};
    }

    testing::SwaySession session;
    QProcess windowEvents;
    QProcess focusLog;
    QString focusLogOutput;
    QProcess application;
};

TEST_P(WaylandDesktopTest, TheCallLeavesTheKeysWithTheFocusedWindowAndThePanelTakesThem) {
    const Launch& launch = GetParam();
    QFile airpods(session.path("airpods"));
    ASSERT_TRUE(airpods.open(QIODevice::WriteOnly) && airpods.write("anc\n") == 4);
    airpods.close();
    if (*launch.settings) {
        QFile settings(session.path("home/.config/Harkwell/Harkwell.json"));
        ASSERT_TRUE(QDir().mkpath(session.path("home/.config/Harkwell")) && settings.open(QIODevice::WriteOnly) &&
                    settings.write(launch.settings) > 0);
    }
    QProcessEnvironment environment = session.environment();
    environment.insert("HARKWELL_AIRPODS_SIMULATOR", airpods.fileName());
    if (launch.isPreview) {
        environment.insert("HARKWELL_PREVIEW_CALL_HUD", "1");
    }
    start(application, HARKWELL_EXECUTABLE, {}, environment);

    // The call shows as a notification, the control panel as a window that takes the focus; a call
    // shown in a window of its own is typed over too.
    bool notified = false;
    testing::SwayWindow shown;
    ASSERT_TRUE(poll([&] {
        notified = notified || session.isNotificationShown();
        shown = launch.panelTakesTheKeys ? focusedWindow() : harkwellWindow().value_or(testing::SwayWindow{});
        return shown.appId == harkwellId || (notified && !launch.panelTakesTheKeys);
    })) << (launch.panelTakesTheKeys ? "no control panel took the focus" : "the call was not shown");
    const QString typed = "Keys-typed-meanwhile";
    run("wtype", {"--", typed});
    if (launch.isClosedByFocus) {
        run("swaymsg", {QStringLiteral("[app_id=%1] focus").arg(focusLogId)});
    } else {
        run("wtype", {"-k", "Escape"});
    }
    const bool isStillShown = launch.panelTakesTheKeys || session.isNotificationShown() || harkwellWindow();

    if (launch.panelTakesTheKeys) {
        EXPECT_EQ(shown.title.toStdString(), "Harkwell");
        // Escape closes the panel only when the keys reach it; either way the other window has the
        // focus again.
        EXPECT_TRUE(poll([&] { return !harkwellWindow() && focusedWindow().appId == focusLogId; }))
            << (launch.isClosedByFocus ? "the control panel stayed open behind the focused window"
                                       : "Escape left the control panel open");
        (void)focusLogSays({});
        EXPECT_FALSE(focusLogOutput.contains("TEXT ")) << "keys went past the control panel";
        EXPECT_EQ(application.state(), QProcess::Running);
    } else {
        EXPECT_TRUE(poll([&] { return focusLogSays("TEXT " + typed); }))
            << "keys were lost; the other window has: " << focusLogOutput.toStdString();
        const auto [opened, focused] = windowChanges();
        EXPECT_TRUE(opened.isEmpty()) << "the call opened a window: " << opened.join(", ").toStdString();
        EXPECT_TRUE(focused.isEmpty()) << "the call took the focus: " << focused.join(", ").toStdString();
        EXPECT_TRUE(notified) << "no notification was shown";
        EXPECT_TRUE(isStillShown) << "the call was over before the keys were typed";
        ASSERT_TRUE(application.waitForFinished(20000))
            << "the preview kept running: " << application.readAllStandardError().toStdString();
        EXPECT_EQ(application.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(application.exitCode(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sway, WaylandDesktopTest,
    ::testing::Values(Launch{"CallPreview", true, "", false, false}, Launch{"FirstLaunch", false, "", true, false},
                      Launch{"LaterLaunchWithoutTray", false, R"({"permissionSetupComplete": true})", true, false},
                      Launch{"PanelLosingTheFocus", false, R"({"permissionSetupComplete": true})", true, true}),
    [](const ::testing::TestParamInfo<Launch>& row) { return row.param.name; });

} // namespace
} // namespace harkwell
