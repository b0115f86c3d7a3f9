#include "model/ReturnAfterCall.h"
#include "ModelFakes.h"

#include <gtest/gtest.h>

#include <vector>

namespace harkwell {
namespace {

using namespace std::chrono_literals;
using testing::ManualClock;
using Mode = ListeningMode;

class ReturnAfterCallTest : public ::testing::Test {
protected:
    ReturnAfterCallTest() {
        returns.onDue = [this](ListeningMode modeBefore) { due.push_back(modeBefore); };
        returns.isAirPodsBusy = [this] { return isBusy; };
    }

    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    ReturnAfterCall returns{clock, std::make_unique<ManualClock::ManualTicker>(clock)};
    std::vector<ListeningMode> due;
    bool isBusy = false;
};

// 0 is off; another wait counts as the nearest positive choice, ties to the longer.
TEST_F(ReturnAfterCallTest, AWaitCountsAsTheNearestChoice) {
    const std::vector<std::pair<int, int>> cases{{0, 0},   {-1, 0},  {1, 10},  {7, 10},     {10, 10},
                                                 {20, 30}, {30, 30}, {45, 60}, {86400, 60}, {100000000, 60}};
    for (const auto& [requested, chosen] : cases) {
        SCOPED_TRACE(requested);
        returns.setWaitSeconds(requested);
        EXPECT_EQ(returns.waitSeconds(), chosen);
        if (requested >= 0) {
            EXPECT_EQ(ReturnAfterCall::waitChoiceFor(std::uint32_t(requested)), chosen);
        }
    }
}

// The seconds left count down in whole seconds, rounded up; the return is due once, at the wait's end.
TEST_F(ReturnAfterCallTest, AfterTheQuietTheReturnIsDueOnce) {
    for (const auto& [before, seconds] :
         std::vector<std::pair<Mode, int>>{{Mode::anc, 30}, {Mode::normal, 10}, {Mode::anc, 60}}) {
        SCOPED_TRACE(seconds);
        due.clear();
        returns.setWaitSeconds(seconds);
        EXPECT_FALSE(returns.secondsLeft());
        returns.callSwitched(before, true);
        EXPECT_EQ(returns.secondsLeft(), seconds);
        EXPECT_EQ(returns.pendingMode(), before);
        clock->advanceBy(std::chrono::seconds(seconds) - 1500ms);
        EXPECT_EQ(returns.secondsLeft(), 2);
        clock->advanceBy(1s);
        EXPECT_EQ(returns.secondsLeft(), 1);
        EXPECT_TRUE(due.empty());
        clock->advanceBy(500ms);
        EXPECT_EQ(due, std::vector<Mode>{before});
        EXPECT_FALSE(returns.secondsLeft());
        EXPECT_FALSE(returns.pendingMode());
        clock->advanceBy(120s);
        EXPECT_EQ(due.size(), 1u) << "a second return";
    }
}

// Near speech starts the quiet again.
TEST_F(ReturnAfterCallTest, NearSpeechPutsTheReturnOff) {
    returns.hearNearSpeech(); // nothing pending: nothing to put off
    EXPECT_FALSE(returns.secondsLeft());
    returns.callSwitched(Mode::anc, true);
    clock->advanceBy(25s);
    returns.hearNearSpeech();
    EXPECT_EQ(returns.secondsLeft(), 30);
    clock->advanceBy(29s);
    returns.hearNearSpeech();
    clock->advanceBy(25s);
    EXPECT_EQ(returns.secondsLeft(), 5);
    EXPECT_TRUE(due.empty());
    clock->advanceBy(5s);
    EXPECT_EQ(due, std::vector<Mode>{Mode::anc});
}

// A due return waits while the AirPods are busy, then goes at the next look at the clock.
TEST_F(ReturnAfterCallTest, ADueReturnWaitsForTheAirPods) {
    returns.callSwitched(Mode::normal, true);
    isBusy = true;
    clock->advanceBy(40s);
    EXPECT_TRUE(due.empty());
    EXPECT_EQ(returns.secondsLeft(), 0);
    isBusy = false;
    clock->advanceBy(250ms);
    EXPECT_EQ(due, std::vector<Mode>{Mode::normal});
}

// What ends a pending return for good, and what leaves no return at all.
TEST_F(ReturnAfterCallTest, WhatEndsOrPreventsAReturn) {
    const std::vector<std::tuple<const char*, Mode, std::function<void()>, bool>> cases{
        {"cancelled", Mode::anc, [&] { returns.cancel(); }, false},
        {"noise cancellation seen", Mode::anc, [&] { returns.modeChanged(Mode::anc); }, false},
        {"normal seen", Mode::anc, [&] { returns.modeChanged(Mode::normal); }, false},
        {"the wait turned off", Mode::anc, [&] { returns.setWaitSeconds(0); }, false},
        {"Transparency seen", Mode::anc, [&] { returns.modeChanged(Mode::transparency); }, true},
        {"listening ended", Mode::anc, [&] { returns.leaveTransparencyAfterCall(); }, true},
        {"another wait", Mode::anc, [&] { returns.setWaitSeconds(60); }, true},
        {"a call from Transparency", Mode::transparency, [] {}, false},
    };
    for (const auto& [name, before, action, returnsLater] : cases) {
        SCOPED_TRACE(name);
        due.clear();
        returns.setWaitSeconds(30);
        returns.callSwitched(before, true);
        clock->advanceBy(10s);
        action();
        EXPECT_EQ(returns.pendingMode().has_value(), returnsLater);
        EXPECT_EQ(returns.secondsLeft().has_value(), returnsLater);
        clock->advanceBy(120s);
        EXPECT_EQ(due.size(), returnsLater ? 1u : 0u);
    }
    returns.setWaitSeconds(0);
    returns.callSwitched(Mode::anc, true);
    EXPECT_FALSE(returns.pendingMode()) << "no wait, no return";
}

// In Transparency after a call: only for a call heard while listening, until another mode or the end of listening.
TEST_F(ReturnAfterCallTest, TransparencyAfterACallLastsUntilAnotherModeOrTheEndOfListening) {
    int notifications = 0;
    QObject::connect(&returns, &ReturnAfterCall::isInTransparencyAfterCallChanged, [&] { ++notifications; });
    returns.callSwitched(Mode::anc, false);
    EXPECT_FALSE(returns.isInTransparencyAfterCall()) << "listening was off";
    returns.setWaitSeconds(0);
    returns.callSwitched(Mode::anc, true);
    EXPECT_TRUE(returns.isInTransparencyAfterCall()) << "without a return too";
    returns.modeChanged(Mode::transparency);
    EXPECT_TRUE(returns.isInTransparencyAfterCall());
    returns.modeChanged(Mode::normal);
    EXPECT_FALSE(returns.isInTransparencyAfterCall());
    returns.callSwitched(Mode::anc, true);
    returns.leaveTransparencyAfterCall();
    EXPECT_FALSE(returns.isInTransparencyAfterCall());
    returns.leaveTransparencyAfterCall();
    EXPECT_EQ(notifications, 4);
}

} // namespace
} // namespace harkwell
