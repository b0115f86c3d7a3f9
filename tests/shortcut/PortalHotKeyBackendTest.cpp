#include "shortcut/PortalHotKeyBackend.h"
#include "EventLoop.h"
#include "FakePortal.h"
#include "LogCapture.h"
#include "PrivateBusConnection.h"
#include "shortcut/HotKeyController.h"

#include <gtest/gtest.h>

namespace harkwell {
namespace {

using testing::eventually;
using testing::FakePortal;

const HotKeySetting controlOptionK{40, 0x1800, "K"};
const HotKeySetting shiftCommandUp{126, 0x300, "↑"};

// The outcomes of the registrations a test starts, in the order they arrive: 0 or the status.
struct Outcomes {
    std::vector<std::int32_t> statuses;
    HotKeyController::Completion record() {
        return
            [this](const std::optional<HotKeyError>& refusal) { statuses.push_back(refusal ? refusal->status() : 0); };
    }
};

class PortalHotKeyTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(daemon.address().isEmpty()) << daemon.error().toStdString(); }
    std::unique_ptr<HotKeyController>
    makeController(std::chrono::milliseconds timeout = PortalHotKeyBackend::defaultAnswerTimeout) {
        return std::make_unique<HotKeyController>(std::make_unique<PortalHotKeyBackend>(client, timeout));
    }

    testing::PrivateDBusDaemon daemon;
    QDBusConnection client = testing::connectToPrivateBus(daemon, "harkwell");
    Outcomes outcomes;
};

// Registration returns at once and the outcome comes when the portal answers; the shortcut in
// effect stays so until its replacement is bound, and only the current session's activation is
// a press. The portal here binds only what CreateSession was given, as KDE's 5.27 does.
TEST_F(PortalHotKeyTest, TheOutcomeComesWhenThePortalAnswers) {
    FakePortal portal(testing::connectToPrivateBus(daemon, "portal"));
    portal.holdsAnswers = true;
    portal.bindAnswer = FakePortal::BindAnswer::sessionShortcuts;
    auto controller = makeController();
    int presses = 0;
    controller->onPressed = [&] { ++presses; };

    controller->registerHotKey(controlOptionK, outcomes.record());
    EXPECT_TRUE(controller->isRegistrationPending());
    ASSERT_TRUE(eventually([&] { return portal.isHoldingAnswer(); }));
    controller->registerHotKey(shiftCommandUp, outcomes.record());
    EXPECT_EQ(outcomes.statuses, std::vector{HotKeyError::portalBusy}) << "a second registration while one waits";
    portal.releaseAnswer();
    ASSERT_TRUE(eventually([&] { return outcomes.statuses.size() == 2; }));
    EXPECT_EQ(outcomes.statuses[1], 0);
    EXPECT_TRUE(controller->isRegistered());
    ASSERT_EQ(portal.bound.size(), 1u);
    ASSERT_EQ(portal.bound[0].size(), 1);
    EXPECT_EQ(portal.bound[0][0].id, PortalHotKeyBackend::shortcutId);
    EXPECT_EQ(portal.bound[0][0].properties["preferred_trigger"].toString(), "CTRL+ALT+K");
    EXPECT_FALSE(portal.bound[0][0].properties["description"].toString().isEmpty());

    portal.sessionHandleAsObjectPath = true;
    controller->registerHotKey(shiftCommandUp, outcomes.record());
    ASSERT_TRUE(eventually([&] { return portal.isHoldingAnswer(); }));
    portal.activate(portal.sessions[0]);
    EXPECT_TRUE(eventually([&] { return presses == 1; })) << "the shortcut in effect fires while its replacement waits";
    portal.releaseAnswer();
    ASSERT_TRUE(eventually([&] { return outcomes.statuses.size() == 3; }));
    EXPECT_EQ(outcomes.statuses[2], 0);
    EXPECT_EQ(portal.bound[1][0].properties["preferred_trigger"].toString(), "SHIFT+LOGO+Up");
    portal.activate(portal.sessions[0]); // late, from the replaced session
    portal.activate(portal.sessions[1]);
    EXPECT_TRUE(
        eventually([&] { return presses == 2 && portal.sessionObjects.closed == QStringList{portal.sessions[0]}; }));
    testing::settle();
    EXPECT_EQ(presses, 2);

    controller->unregisterHotKey();
    EXPECT_TRUE(eventually([&] { return portal.sessionObjects.closed == portal.sessions; }));
}

// A refusal leaves the shortcut in effect as it was and closes what it made; the portal's D-Bus
// error is logged.
TEST_F(PortalHotKeyTest, RefusalsLeaveTheShortcutInEffect) {
    auto controller = makeController();
    {
        const testing::LogCapture log(QString{}); // what is shown by default
        controller->registerHotKey(controlOptionK, outcomes.record());
        ASSERT_TRUE(eventually([&] { return !outcomes.statuses.empty(); }));
        EXPECT_EQ(outcomes.statuses.back(), HotKeyError::portalUnavailable) << "no portal on the bus";
        EXPECT_EQ(log.lines().filter("org.freedesktop.DBus.Error.ServiceUnknown").size(), 1)
            << log.lines().join('\n').toStdString();
    }
    {
        // A portal without GlobalShortcuts (GNOME 43's) is no portal for shortcuts either.
        QDBusConnection gnomePortal = testing::connectToPrivateBus(daemon, "gnome-portal");
        ASSERT_TRUE(gnomePortal.registerService("org.freedesktop.portal.Desktop"));
        controller->registerHotKey(controlOptionK, outcomes.record());
        ASSERT_TRUE(eventually([&] { return outcomes.statuses.size() == 2; }));
        EXPECT_EQ(outcomes.statuses.back(), HotKeyError::portalUnavailable);
        gnomePortal.unregisterService("org.freedesktop.portal.Desktop");
    }
    FakePortal portal(testing::connectToPrivateBus(daemon, "portal"));
    controller->registerHotKey(controlOptionK, outcomes.record());
    ASSERT_TRUE(eventually([&] { return outcomes.statuses.size() == 3; }));
    ASSERT_EQ(outcomes.statuses.back(), 0);

    using Answer = FakePortal::BindAnswer;
    for (const auto answer : {Answer::refuse, Answer::bindNothing}) {
        portal.bindAnswer = answer;
        const auto count = outcomes.statuses.size();
        controller->registerHotKey(shiftCommandUp, outcomes.record());
        ASSERT_TRUE(eventually([&] { return outcomes.statuses.size() == count + 1; }));
        EXPECT_EQ(outcomes.statuses.back(), HotKeyError::portalRefused);
        EXPECT_TRUE(controller->isRegistered());
        EXPECT_TRUE(eventually([&] { return portal.sessionObjects.closed == portal.sessions.mid(1); }));
    }
    portal.activate(portal.sessions[0]);
    int presses = 0;
    controller->onPressed = [&] { ++presses; };
    EXPECT_TRUE(eventually([&] { return presses == 1; })) << "the first shortcut no longer fires";

    // A key the portal has no name for (a damaged setting) is refused before any session is made.
    controller->registerHotKey({52, 0x100, "?"}, outcomes.record());
    EXPECT_EQ(outcomes.statuses.back(), HotKeyError::keyNotOnKeyboard);
    EXPECT_EQ(portal.sessions.size(), 3);
}

// A portal that does not answer in time, and an unregistering while it has not answered, both
// withdraw the call (closing the portal's dialog) and the session made for it.
TEST_F(PortalHotKeyTest, AnUnansweredRegistrationIsWithdrawn) {
    FakePortal portal(testing::connectToPrivateBus(daemon, "portal"));
    portal.holdsAnswers = true;
    auto controller = makeController(std::chrono::milliseconds(50));
    controller->registerHotKey(controlOptionK, outcomes.record());
    ASSERT_TRUE(eventually([&] { return !outcomes.statuses.empty(); }));
    EXPECT_EQ(outcomes.statuses, std::vector{HotKeyError::portalTimedOut});
    EXPECT_FALSE(controller->isRegistered());
    EXPECT_TRUE(eventually(
        [&] { return portal.requestObjects.closed.size() == 1 && portal.sessionObjects.closed == portal.sessions; }));

    controller = makeController();
    controller->registerHotKey(controlOptionK, outcomes.record());
    ASSERT_TRUE(eventually([&] { return portal.bound.size() == 2; }));
    controller->unregisterHotKey();
    EXPECT_FALSE(controller->isRegistrationPending());
    EXPECT_TRUE(eventually(
        [&] { return portal.requestObjects.closed.size() == 2 && portal.sessionObjects.closed == portal.sessions; }));
    portal.releaseAnswer();
    testing::settle();
    EXPECT_EQ(outcomes.statuses.size(), 1u) << "the abandoned registration reported an outcome";
    EXPECT_FALSE(controller->isRegistered());
}

} // namespace
} // namespace harkwell
