#include "app/AppDelegate.h"
#include "ManualAnimationClock.h"
#include "ModelHarness.h"
#include "app/CallDetectionHUDView.h"
#include "app/ContentView.h"
#include "app/PanelTexts.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QToolButton>

namespace harkwell {
namespace {

using namespace harkwell::testing;

class AppDelegateTest : public PanelTest {
protected:
    ~AppDelegateTest() override { airPods->release(); }

    AppDelegate& launch(const QByteArray& settings) {
        delegate = std::make_unique<AppDelegate>(dependenciesWith(settings));
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

// A launch after setup and each opening of the panel read the AirPods' mode; the panel's Quit ends
// the application.
TEST_F(AppDelegateTest, ALaunchAfterSetupReadsTheModeAndOpensThePanelOnlyFromTheIcon) {
    airPods->willAnswer(ListeningMode::transparency);
    auto& app = launch(R"({"permissionSetupComplete": true, "wakePhrases": ["James"], "selectedMode": "anc"})");
    ASSERT_TRUE(eventually([&] { return !app.model().isCommandRunning(); }));
    EXPECT_FALSE(app.isPopoverShown());
    EXPECT_EQ(airPods->commands(), std::vector<std::string>{"current-mode"});
    EXPECT_EQ(app.model().selectedMode(), ListeningMode(ListeningMode::transparency));
    EXPECT_EQ(app.statusItem()->toolTip(), "Harkwell: not listening");

    // Either button opens the panel with no control focused (a stray Space must not press Quit).
    for (const auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::Context}) {
        emit app.statusItem()->activated(reason);
        EXPECT_TRUE(app.isPopoverShown()) << reason;
        EXPECT_EQ(app.popover().focusWidget(), &app.contentView()) << reason;
        ASSERT_TRUE(eventually([&] { return !app.model().isCommandRunning(); }));
        emit app.statusItem()->activated(reason);
        EXPECT_FALSE(app.isPopoverShown()) << reason;
    }
    EXPECT_EQ(airPods->commands().size(), 3u);
    EXPECT_EQ(app.model().selectedMode(), ListeningMode(ListeningMode::anc));
    QSignalSpy quit(&app, &AppDelegate::quitRequested);
    app.contentView().parts().quitButtons[1]->click();
    EXPECT_EQ(quit.count(), 1);
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
