// The real application under Xvfb with a window manager (Openbox) and a tray (trayer), driven
// with xdotool like a user (tests/support/TrayDesktopFixture.h).
#include "TrayDesktopFixture.h"

namespace harkwell {
namespace {

using testing::poll;
using testing::TrayDesktopTest;

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
