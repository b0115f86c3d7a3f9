#include "shortcut/PortalHotKeyBackend.h"
#include "FakeGlobalShortcutsPortal.h"
#include "PrivateBusConnection.h"
#include "shortcut/HotKeyController.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

namespace harkwell {
namespace {

using testing::FakeGlobalShortcutsPortal;

const HotKeySetting controlOptionK{40, 0x1800, "K"};
const HotKeySetting shiftCommandUp{126, 0x300, "↑"};

// Runs the event loop until condition holds, for at most 10 s.
template <typename Condition>
bool eventually(Condition condition) {
    const QDeadlineTimer deadline(10000);
    while (!condition() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    return condition();
}

class PortalHotKeyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(daemon.address().isEmpty()) << daemon.error().toStdString();
        ASSERT_TRUE(client.isConnected()) << client.lastError().message().toStdString();
    }

    std::unique_ptr<FakeGlobalShortcutsPortal> startPortal() {
        auto portal = std::make_unique<FakeGlobalShortcutsPortal>(testing::connectToPrivateBus(daemon, "portal"));
        EXPECT_TRUE(portal->isReady());
        return portal;
    }

    HotKeyController makeController(std::chrono::milliseconds timeout = PortalHotKeyBackend::defaultAnswerTimeout) {
        return HotKeyController(std::make_unique<PortalHotKeyBackend>(client, timeout));
    }

    std::int32_t refusal(HotKeyController& controller, const HotKeySetting& setting) {
        try {
            controller.registerHotKey(setting);
        } catch (const HotKeyError& error) {
            return error.status();
        }
        return 0;
    }

    harkwell::testing::PrivateDBusDaemon daemon;
    QDBusConnection client = testing::connectToPrivateBus(daemon, "harkwell");
    int presses = 0;
};

TEST_F(PortalHotKeyTest, BindsReplacesAndUnregistersAndOnlyItsActivationIsAPress) {
    for (const bool asObjectPath : {false, true}) {
        SCOPED_TRACE(asObjectPath ? "session handle as object path" : "session handle as string");
        auto portal = startPortal();
        portal->sessionHandleAsObjectPath = asObjectPath;
        auto controller = makeController();
        presses = 0;
        controller.onPressed = [this] { ++presses; };
        controller.registerHotKey(controlOptionK);
        ASSERT_EQ(portal->boundShortcuts.size(), 1u);
        ASSERT_EQ(portal->boundShortcuts[0].size(), 1);
        const auto& shortcut = portal->boundShortcuts[0][0];
        EXPECT_EQ(shortcut.id, PortalHotKeyBackend::shortcutId);
        EXPECT_EQ(shortcut.properties.value("preferred_trigger").toString(), "CTRL+ALT+K");
        EXPECT_FALSE(shortcut.properties.value("description").toString().isEmpty());

        // Registering again closes the first session.
        controller.registerHotKey(shiftCommandUp);
        ASSERT_EQ(portal->sessions.size(), 2);
        EXPECT_TRUE(eventually([&] { return portal->closedSessions == QStringList{portal->sessions[0]}; }));
        EXPECT_EQ(portal->boundShortcuts[1][0].properties.value("preferred_trigger").toString(), "SHIFT+LOGO+Up");

        const QString session = portal->sessions[1];
        portal->activate(portal->sessions[0], PortalHotKeyBackend::shortcutId);
        portal->activate("/org/freedesktop/portal/desktop/session/other/app", PortalHotKeyBackend::shortcutId);
        portal->activate(session, "some-other-shortcut");
        portal->activate(session, PortalHotKeyBackend::shortcutId);
        EXPECT_TRUE(eventually([&] { return presses > 0; }));
        EXPECT_EQ(presses, 1);

        controller.unregisterHotKey();
        controller.unregisterHotKey();
        EXPECT_TRUE(eventually([&] { return portal->closedSessions.size() == 2; }));
        EXPECT_EQ(portal->closedSessions, portal->sessions);
    }
}

TEST_F(PortalHotKeyTest, RefusalsLeaveNothingRegistered) {
    struct Case {
        const char* name;
        FakeGlobalShortcutsPortal::BindAnswer answer;
        std::int32_t status;
    };
    const Case cases[] = {
        {"refused", FakeGlobalShortcutsPortal::BindAnswer::refuse, HotKeyError::portalRefused},
        {"bound nothing", FakeGlobalShortcutsPortal::BindAnswer::bindNothing, HotKeyError::portalRefused},
        {"no answer", FakeGlobalShortcutsPortal::BindAnswer::silent, HotKeyError::portalTimedOut},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto portal = startPortal();
        portal->bindAnswer = c.answer;
        auto controller = makeController(std::chrono::milliseconds(200));
        EXPECT_EQ(refusal(controller, controlOptionK), c.status);
        EXPECT_FALSE(controller.isRegistered());
        ASSERT_EQ(portal->sessions.size(), 1);
        EXPECT_TRUE(eventually([&] { return portal->closedSessions == portal->sessions; }));
    }
    // A key the portal has no name for is refused before any session is made.
    auto portal = startPortal();
    auto controller = makeController();
    EXPECT_EQ(refusal(controller, {52, 0x100, "?"}), HotKeyError::keyNotOnKeyboard);
    EXPECT_TRUE(portal->sessions.isEmpty());
}

TEST_F(PortalHotKeyTest, RegistrationWhileWaitingForThePortalIsBusy) {
    auto portal = startPortal();
    auto controller = makeController();
    std::int32_t nested = 0;
    portal->onBind = [&] { nested = refusal(controller, shiftCommandUp); };
    controller.registerHotKey(controlOptionK);
    EXPECT_EQ(nested, HotKeyError::portalBusy);
    EXPECT_TRUE(controller.isRegistered());
    EXPECT_EQ(portal->boundShortcuts.size(), 1u);
}

TEST_F(PortalHotKeyTest, MissingPortalIsRefused) {
    {
        auto controller = makeController();
        EXPECT_EQ(refusal(controller, controlOptionK), HotKeyError::portalUnavailable) << "no portal on the bus";
    }
    // A portal without the GlobalShortcuts interface.
    QDBusConnection other = testing::connectToPrivateBus(daemon, "other-portal");
    ASSERT_TRUE(other.registerService("org.freedesktop.portal.Desktop"));
    QObject empty;
    ASSERT_TRUE(other.registerObject("/org/freedesktop/portal/desktop", &empty));
    auto controller = makeController();
    EXPECT_EQ(refusal(controller, controlOptionK), HotKeyError::portalUnavailable) << "portal without the interface";
    EXPECT_FALSE(controller.isRegistered());
}

} // namespace
} // namespace harkwell
