#include "app/AppDelegate.h"
#include "ModelHarness.h"
#include "app/CallDetectionHUDView.h"
#include "app/ContentView.h"

#include <QSystemTrayIcon>

#include <gtest/gtest.h>

namespace harkwell {
namespace {

using namespace harkwell::testing;

QProcessEnvironment environmentWith(const std::optional<QString>& preview) {
    QProcessEnvironment environment;
    environment.insert("PATH", "/usr/bin");
    if (preview) {
        environment.insert(AppDelegate::previewVariable, *preview);
    }
    return environment;
}

TEST(AppDelegatePreviewTest, OnlyExactlyOneAsksForThePreview) {
    EXPECT_TRUE(AppDelegate::isPreviewRequested(environmentWith("1")));
    for (const QString value : {"true", "01", " 1", "1 ", "", "0", "yes"}) {
        EXPECT_FALSE(AppDelegate::isPreviewRequested(environmentWith(value))) << value.toStdString();
    }
    EXPECT_FALSE(AppDelegate::isPreviewRequested(environmentWith(std::nullopt)));
}

class AppDelegateTest : public ::testing::Test {
protected:
    ~AppDelegateTest() override {
        harness.airPods->release();
        delegate.reset();
    }

    AppDelegate& makeDelegate(const QByteArray& settings) {
        const HUDScreen screen{QRect(0, 0, 800, 600), QRect(0, 0, 800, 600)};
        delegate = std::make_unique<AppDelegate>(
            harness.dependenciesWith(settings),
            CallDetectionHUDController::Environment{[] { return QPoint(10, 10); }, [screen] { return QList{screen}; },
                                                    std::make_shared<SystemAnimationClock>()});
        return *delegate;
    }
    InterfaceLanguage language{"en-US"};
    ModelHarness harness;
    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(AppDelegateTest, PreviewShowsNoIconAndSetsNothingUp) {
    auto& app = makeDelegate("{}");
    app.applicationDidFinishLaunching(environmentWith("1"));
    settle();
    EXPECT_EQ(app.statusItem(), nullptr);
    EXPECT_FALSE(app.isPopoverShown());
    EXPECT_FALSE(app.model().isCommandRunning());
    EXPECT_TRUE(harness.permissions->requests.empty());
    EXPECT_TRUE(harness.airPods->commands().empty());
    // The sample panel comes half a second after start-up, not at once.
    EXPECT_FALSE(app.callDetectionHUD().panel().isVisible());
}

TEST_F(AppDelegateTest, AFirstLaunchOpensThePanelAndStartsThePermissionSetup) {
    auto& app = makeDelegate("{}");
    harness.airPods->hold();
    app.applicationDidFinishLaunching(environmentWith("true"));
    ASSERT_NE(app.statusItem(), nullptr);
    EXPECT_FALSE(app.isPopoverShown()); // after start-up returns
    settle();
    EXPECT_TRUE(app.isPopoverShown());
    EXPECT_TRUE(app.contentView().parts().permissionSetup->isVisible());
    EXPECT_TRUE(app.model().isCommandRunning());
    ASSERT_TRUE(
        eventually([&] { return harness.airPods->commands() == std::vector<std::string>{"request-permission"}; }));
    harness.airPods->release();
    ASSERT_TRUE(eventually([&] { return app.model().isPermissionSetupComplete(); }));
    EXPECT_TRUE(app.contentView().parts().mainControls->isVisible());
}

TEST_F(AppDelegateTest, ALaunchAfterSetupOpensThePanelFromTheIconAndShowsDetectedCalls) {
    auto& app = makeDelegate(R"({"permissionSetupComplete": true, "wakePhrases": ["James"]})");
    app.applicationDidFinishLaunching(environmentWith(std::nullopt));
    settle();
    EXPECT_FALSE(app.isPopoverShown());
    EXPECT_TRUE(harness.airPods->commands().empty());
    EXPECT_EQ(app.statusItem()->toolTip(), "Harkwell: Not listening");

    app.showPopover();
    EXPECT_EQ(app.popover().focusWidget(), &app.contentView()) << "a control has the focus at first";
    app.closePopover();

    for (const auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::Context}) {
        emit app.statusItem()->activated(reason);
        EXPECT_TRUE(app.isPopoverShown()) << reason;
        emit app.statusItem()->activated(reason);
        EXPECT_FALSE(app.isPopoverShown()) << reason;
    }

    app.model().setDetectionEnabled(true);
    EXPECT_EQ(app.statusItem()->toolTip(), "Harkwell: Listening");

    // A detected call switches the AirPods and shows the call panel.
    ASSERT_TRUE(harness.detectors->onDetected);
    harness.detectors->onDetected("James");
    ASSERT_TRUE(eventually([&] { return app.callDetectionHUD().panel().isVisible(); }));
    EXPECT_EQ(app.callDetectionHUD().panel().targetPhrase(), "James");
    EXPECT_EQ(harness.airPods->commands(), std::vector<std::string>{"transparency"});
}

} // namespace
} // namespace harkwell
