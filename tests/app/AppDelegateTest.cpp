#include "app/AppDelegate.h"
#include "ManualAnimationClock.h"
#include "PanelHarness.h"
#include "app/CallDetectionHUDView.h"
#include "app/ContentView.h"
#include "app/PanelTexts.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolButton>

#include <cmath>

namespace harkwell {
namespace {

using namespace harkwell::testing;

class AppDelegateTest : public PanelTest {
protected:
    ~AppDelegateTest() override { airPods->release(); }

    // On X11 with a tray unless told otherwise.
    AppDelegate& launch(const QByteArray& settings, DesktopSession session = {}, bool hasTray = true) {
        delegate =
            std::make_unique<AppDelegate>(dependenciesWith(settings), CallDetectionHUDController::systemEnvironment(),
                                          AppDelegate::Desktop{session, [hasTray] { return hasTray; }});
        delegate->applicationDidFinishLaunching(QProcessEnvironment());
        return *delegate;
    }

    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(AppDelegateTest, AFirstLaunchOpensThePermissionSetupWhichARefusalLeavesOpenForAnotherTry) {
    permissions->microphone = AuthorizationStatus::denied;
    auto& app = launch("{}");
    ASSERT_NE(app.statusItem(), nullptr);
    EXPECT_FALSE(app.isPopoverShown()); // only once start-up has returned
    ASSERT_TRUE(eventually([&] { return app.isPopoverShown() && !app.model().isCommandRunning(); }));
    const ContentView::Parts& parts = app.contentView().parts();
    EXPECT_TRUE(parts.permissionSetup->isVisible());
    EXPECT_TRUE(parts.errorBanners[0]->isVisible());

    // Allowed now: the button tries again, and waits for the helper's answer.
    permissions->microphone = AuthorizationStatus::authorized;
    airPods->hold();
    parts.permissionButton->click();
    EXPECT_FALSE(parts.permissionButton->isEnabled());
    ASSERT_TRUE(eventually([&] { return airPods->commands() == std::vector<std::string>{"request-permission"}; }));
    airPods->release();
    ASSERT_TRUE(eventually([&] { return app.model().isPermissionSetupComplete(); }));
    EXPECT_TRUE(parts.mainControls->isVisible());
}

// A launch after setup and each opening of the panel read the AirPods' mode; a click on the icon
// opens the panel and the next closes it; the panel's Quit ends the application. On X11 the right
// button is the menu's; a StatusNotifierItem host on Wayland that hands the right click over gets
// the panel, a window of its own there, which Escape closes.
TEST_F(AppDelegateTest, ALaunchAfterSetupReadsTheModeAndOpensThePanelOnlyFromTheIcon) {
    struct Case {
        const char* name;
        DesktopSession session;
        std::vector<QSystemTrayIcon::ActivationReason> opening;
        bool isPopup;
    };
    for (const Case& c :
         {Case{"X11", {}, {QSystemTrayIcon::Trigger}, true},
          Case{
              "sway", {true, false, DesktopKind::sway}, {QSystemTrayIcon::Trigger, QSystemTrayIcon::Context}, false}}) {
        SCOPED_TRACE(c.name);
        const size_t before = airPods->commands().size();
        airPods->willAnswer(ListeningMode::transparency);
        auto& app =
            launch(R"({"permissionSetupComplete": true, "wakePhrases": ["James"], "selectedMode": "anc"})", c.session);
        ASSERT_TRUE(eventually([&] { return !app.model().isCommandRunning(); }));
        EXPECT_FALSE(app.isPopoverShown());
        EXPECT_EQ(app.isPopoverAPopup(), c.isPopup);
        EXPECT_FALSE(app.trayHint().isVisibleTo(&app.popover()));
        EXPECT_EQ(airPods->commands().size(), before + 1);
        EXPECT_EQ(airPods->commands().back(), "current-mode");
        EXPECT_EQ(app.model().selectedMode(), ListeningMode(ListeningMode::transparency));
        EXPECT_EQ(app.statusItem()->toolTip(), "Harkwell: not listening");

        // The panel opens with no control focused (a stray Space must not press Quit).
        for (const auto reason : c.opening) {
            emit app.statusItem()->activated(reason);
            EXPECT_TRUE(app.isPopoverShown()) << reason;
            EXPECT_EQ(app.popover().focusWidget(), &app.contentView()) << reason;
            ASSERT_TRUE(eventually([&] { return !app.model().isCommandRunning(); }));
            emit app.statusItem()->activated(reason);
            EXPECT_FALSE(app.isPopoverShown()) << reason;
        }
        if (c.isPopup) {
            emit app.statusItem()->activated(QSystemTrayIcon::Context);
            EXPECT_FALSE(app.isPopoverShown()) << "the right button is the menu's";
        }
        // A double click opens it, and never closes it (its first click opened it).
        for (const bool opens : {true, false}) {
            emit app.statusItem()->activated(QSystemTrayIcon::DoubleClick);
            EXPECT_TRUE(app.isPopoverShown()) << opens;
            ASSERT_TRUE(eventually([&] { return !app.model().isCommandRunning(); }));
        }
        app.closePopover();
        EXPECT_EQ(airPods->commands().size(), before + 2 + c.opening.size());
        if (!c.isPopup) {
            app.showPopover();
            QTest::keyClick(app.contentView().parts().phraseField, Qt::Key_Escape);
            EXPECT_FALSE(app.isPopoverShown()) << "Escape";
        }
        ASSERT_TRUE(eventually([&] { return !app.model().isCommandRunning(); }));
        EXPECT_EQ(app.model().selectedMode(), ListeningMode(ListeningMode::anc));
        QSignalSpy quit(&app, &AppDelegate::quitRequested);
        app.contentView().parts().quitButtons[1]->click();
        EXPECT_EQ(quit.count(), 1);
    }
}

// Without a tray the panel is the application's window: it opens at every start, before and after
// the setup, and says how to get an icon. The icon's menu opens the panel, turns listening on and
// off, and quits.
TEST_F(AppDelegateTest, WithoutATrayThePanelOpensAtStartAndSaysHowToGetAnIcon) {
    struct Case {
        const char* name;
        DesktopSession session;
        QByteArray settings;
        PanelText hint;
    };
    for (const Case& c : {Case{"GNOME, set up",
                               {true, false, DesktopKind::gnome},
                               R"({"permissionSetupComplete": true})",
                               panelTexts::noTrayOnGnome},
                          Case{"KWin, first launch", {true, false, DesktopKind::kde}, "{}", panelTexts::noTray},
                          Case{"X11 without a tray", {}, R"({"permissionSetupComplete": true})", panelTexts::noTray}}) {
        SCOPED_TRACE(c.name);
        auto& app = launch(c.settings, c.session, false);
        EXPECT_TRUE(app.isPopoverShown());
        EXPECT_FALSE(app.isPopoverAPopup());
        EXPECT_TRUE(app.trayHint().isVisible());
        EXPECT_EQ(app.trayHint().text(), c.hint.text());
        EXPECT_EQ(app.popover().windowTitle(), "Harkwell");
        EXPECT_EQ(app.statusItem() != nullptr, c.session.isX11()) << "an icon waits for a StatusNotifierItem host";
        ASSERT_TRUE(eventually([&] { return !app.model().isCommandRunning(); }));
    }

    auto& app = launch(R"({"permissionSetupComplete": true, "wakePhrases": ["James"]})");
    ASSERT_TRUE(eventually([&] { return !app.model().isCommandRunning(); }));
    const QList<QAction*> menu = app.statusMenu()->actions();
    ASSERT_EQ(menu.size(), 4); // open, Call Detection, a separator, Quit
    EXPECT_EQ(menu[0]->text(), panelTexts::openHarkwell.text());
    menu[0]->trigger();
    EXPECT_TRUE(app.isPopoverShown());
    EXPECT_EQ(menu[1]->text(), panelTexts::detection.text());
    menu[1]->trigger();
    EXPECT_TRUE(app.model().isDetectionEnabled());
    app.model().setDetectionEnabled(false);
    EXPECT_FALSE(menu[1]->isChecked());
    QSignalSpy quit(&app, &AppDelegate::quitRequested);
    menu[3]->trigger();
    EXPECT_EQ(quit.count(), 1);
}

// The panel behind the icon may be black or white, whatever the palette: at least a third of the
// icon's drawn pixels stand out from either by 3:1 or more (relative luminance, as WCAG measures it).
TEST_F(AppDelegateTest, TheTrayIconReadsOnBlackAndOnWhitePanels) {
    const auto luminance = [](QColor color) {
        const auto channel = [](double value) {
            return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) + 0.0722 * channel(color.blueF());
    };
    const QPalette original = QGuiApplication::palette();
    for (const QColor text : {QColor(Qt::black), QColor(0xee, 0xee, 0xee)}) {
        QPalette palette = original;
        palette.setColor(QPalette::WindowText, text);
        QGuiApplication::setPalette(palette);
        for (const auto state :
             {icons::TrayState::notListening, icons::TrayState::listening, icons::TrayState::transparencyAfterCall}) {
            for (const QColor panel : {QColor(Qt::black), QColor(Qt::white)}) {
                QImage image(22, 22, QImage::Format_ARGB32_Premultiplied);
                image.fill(panel);
                QPainter(&image).drawPixmap(0, 0, icons::trayIcon(state).pixmap(22));
                int drawn = 0;
                int standingOut = 0;
                for (int y = 0; y < image.height(); ++y) {
                    for (int x = 0; x < image.width(); ++x) {
                        const QColor pixel = image.pixelColor(x, y);
                        if (pixel == panel) {
                            continue;
                        }
                        ++drawn;
                        const double a = luminance(pixel) + 0.05;
                        const double b = luminance(panel) + 0.05;
                        standingOut += std::max(a, b) / std::min(a, b) >= 3.0;
                    }
                }
                EXPECT_GE(standingOut * 3, drawn) << "text " << text.name().toStdString() << ", state " << int(state)
                                                  << ", panel " << panel.name().toStdString();
                EXPECT_GT(drawn, 40);
            }
        }
    }
    QGuiApplication::setPalette(original);
}

// A call switches the AirPods and shows the call panel; the icon and its tooltip follow listening,
// the number of phrases, and a call that left the AirPods in Transparency until the mode changes
// or listening ends.
TEST_F(AppDelegateTest, ACallAndTheTrayIconShowTheListeningState) {
    struct Tooltips {
        std::string locale;
        QString off, onePhrase, threePhrases, afterCall;
    };
    for (const auto& tooltips : std::vector<Tooltips>{
             {"en-US", "Harkwell: not listening", "Harkwell: listening for 1 call phrase",
              "Harkwell: listening for 3 call phrases",
              "Harkwell: listening for 3 call phrases; AirPods in Transparency after a call"},
             {"ko-KR", "Harkwell: 감지 꺼짐", "Harkwell: 호출 문구 1개 감지 중", "Harkwell: 호출 문구 3개 감지 중",
              "Harkwell: 호출 문구 3개 감지 중 · 호출 후 주변음 모드"}}) {
        SCOPED_TRACE(tooltips.locale);
        useLocale(tooltips.locale);
        auto& app = launch(R"({"permissionSetupComplete": true, "wakePhrases": ["James"]})");
        AppModel& model = app.model();
        ASSERT_TRUE(eventually([&] { return !model.isCommandRunning(); }));
        const auto shows = [&](icons::TrayState state, const QString& tooltip) -> ::testing::AssertionResult {
            const auto image = [](const QIcon& icon) { return icon.pixmap(22).toImage(); };
            const QImage shown = image(app.statusItem()->icon());
            for (const auto other : {icons::TrayState::notListening, icons::TrayState::listening,
                                     icons::TrayState::transparencyAfterCall}) {
                if ((shown == image(icons::trayIcon(other))) != (other == state)) {
                    return ::testing::AssertionFailure()
                           << "icon of state " << int(other) << (other == state ? " not" : "") << " shown";
                }
            }
            if (app.statusItem()->toolTip() != tooltip) {
                return ::testing::AssertionFailure() << "tooltip " << app.statusItem()->toolTip().toStdString();
            }
            return ::testing::AssertionSuccess();
        };
        const auto callSwitches = [&] {
            detectors->onDetected("James");
            return eventually([&] { return model.isInTransparencyAfterCall() && !model.isCommandRunning(); });
        };
        EXPECT_TRUE(shows(icons::TrayState::notListening, tooltips.off));
        model.setDetectionEnabled(true);
        EXPECT_TRUE(shows(icons::TrayState::listening, tooltips.onePhrase));
        model.setWakePhraseDraft("Ann, Kim");
        model.addWakePhraseFromDraft();
        EXPECT_TRUE(shows(icons::TrayState::listening, tooltips.threePhrases));

        ASSERT_TRUE(callSwitches());
        EXPECT_EQ(airPods->commands().back(), "transparency");
        ASSERT_TRUE(eventually([&] { return app.callDetectionHUD().panel().isVisible(); }));
        EXPECT_EQ(app.callDetectionHUD().panel().targetPhrase(), "James");
        EXPECT_TRUE(shows(icons::TrayState::transparencyAfterCall, tooltips.afterCall));
        app.callDetectionHUD().panel().hide();
        model.toggleAirPodsModeFromShortcut();
        ASSERT_TRUE(eventually([&] { return !model.isCommandRunning(); }));
        EXPECT_TRUE(shows(icons::TrayState::listening, tooltips.threePhrases)) << "back to noise cancellation";

        ASSERT_TRUE(callSwitches());
        model.setDetectionEnabled(false);
        EXPECT_TRUE(shows(icons::TrayState::notListening, tooltips.off));
        model.setDetectionEnabled(true);
        EXPECT_TRUE(shows(icons::TrayState::listening, tooltips.threePhrases)) << "a new listening session";
    }
}

TEST_F(AppDelegateTest, ThePreviewAsksTheApplicationToEndOnceTheCallPanelHasFadedOut) {
    auto animation = std::make_shared<ManualAnimationClock>();
    const QRect screen(0, 0, 1280, 800);
    delegate = std::make_unique<AppDelegate>(
        dependenciesWith("{}"), CallDetectionHUDController::Environment{[] { return QPoint(640, 400); },
                                                                        [&] {
                                                                            return QList<HUDScreen>{{screen, screen}};
                                                                        },
                                                                        animation});
    QSignalSpy quit(delegate.get(), &AppDelegate::quitRequested);
    QProcessEnvironment environment;
    environment.insert(AppDelegate::previewVariable, "1");
    delegate->applicationDidFinishLaunching(environment);
    EXPECT_EQ(delegate->statusItem(), nullptr);

    const CallDetectionHUDView& panel = delegate->callDetectionHUD().panel();
    ASSERT_TRUE(eventually([&] { return panel.isVisible(); }));
    EXPECT_EQ(panel.targetPhrase(), AppDelegate::previewPhrase);
    animation->advanceBy(CallDetectionHUDController::visibleDurationMs + CallDetectionHUDController::fadeDurationMs -
                         1);
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(quit.count(), 0);
    animation->advanceBy(1);
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(quit.count(), 1);
    EXPECT_FALSE(delegate->isPopoverShown());
}

} // namespace
} // namespace harkwell
