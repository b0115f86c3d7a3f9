#include "app/AppDelegate.h"
#include "ModelHarness.h"
#include "app/CallDetectionHUDView.h"
#include "app/ContentView.h"

#include <QLabel>
#include <QPushButton>
#include <QSystemTrayIcon>

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

// A launch after setup and each opening of the panel read the AirPods' mode.
TEST_F(AppDelegateTest, ALaunchAfterSetupOpensThePanelFromTheIconAndShowsDetectedCalls) {
    airPods->willAnswer(ListeningMode::transparency);
    auto& app = launch(R"({"permissionSetupComplete": true, "wakePhrases": ["James"], "selectedMode": "anc"})");
    ASSERT_TRUE(eventually([&] { return !app.model().isCommandRunning(); }));
    EXPECT_FALSE(app.isPopoverShown());
    EXPECT_EQ(airPods->commands(), std::vector<std::string>{"current-mode"});
    EXPECT_EQ(app.model().selectedMode(), ListeningMode(ListeningMode::transparency));
    EXPECT_EQ(app.statusItem()->toolTip(), "Harkwell: Not listening");

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

    app.model().setDetectionEnabled(true);
    EXPECT_EQ(app.statusItem()->toolTip(), "Harkwell: Listening");
    // A detected call switches the AirPods and shows the call panel.
    ASSERT_TRUE(detectors->onDetected);
    detectors->onDetected("James");
    ASSERT_TRUE(eventually([&] { return app.callDetectionHUD().panel().isVisible(); }));
    EXPECT_EQ(app.callDetectionHUD().panel().targetPhrase(), "James");
    EXPECT_EQ(airPods->commands().back(), "transparency");
}

} // namespace
} // namespace harkwell
