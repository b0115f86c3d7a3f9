// The model and the AirPods: helper commands, calls heard during them, the shortcut's toggle, quiet
// reads of the mode, and the return after a call.
#include "AppModelHarness.h"
#include "model/AppModel.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <thread>

namespace harkwell {
namespace {

using namespace harkwell::testing;
using namespace std::chrono_literals;

// --- Commands and calls ------------------------------------------------------------------

// While the AirPods switch for a call, the user's mode requests and setup runs are dropped.
TEST_F(AppModelTest, RequestsWhileACommandRunsAreDropped) {
    auto& created = listeningModel();
    airPods->hold();
    detect();
    ASSERT_TRUE(eventually([&] { return created.isCommandRunning(); }));
    created.setAirPodsMode(ListeningMode::normal);
    created.preparePermissions();
    pressShortcut();
    settle();
    airPods->release();
    ASSERT_TRUE(idle());
    settle();
    EXPECT_EQ(calls, QStringList{"James"});
    EXPECT_EQ(airPods->commands(), std::vector<std::string>{"transparency"});
    EXPECT_TRUE(created.isDetectionEnabled());
}

// A call heard while a command runs switches the AirPods once the command has finished, whether
// it is the return after an earlier call, the user's own switch or a read of the mode; a return
// that was pending then waits for quiet after the new call. The AirPods go back after that quiet,
// to the mode from before the calls.
TEST_F(AppModelTest, ACallDuringACommandSwitchesOnceItHasFinished) {
    const std::vector<std::tuple<const char*, std::function<void(AppModel&)>, std::vector<std::string>, ListeningMode>>
        cases{
            {"the return after a call",
             [this](AppModel&) {
                 hearCall();
                 airPods->willAnswer(ListeningMode::transparency); // what the return reads first
                 airPods->hold();
                 clock->advanceBy(30s);
             },
             {"transparency", "current-mode", "anc", "transparency"},
             ListeningMode::anc},
            {"the user's switch",
             [this](AppModel& m) {
                 airPods->hold();
                 m.setAirPodsMode(ListeningMode::normal);
             },
             {"normal", "transparency"},
             ListeningMode::normal},
            {"a read of the mode",
             [this](AppModel& m) {
                 airPods->hold();
                 m.panelDidOpen();
             },
             {"current-mode", "transparency"},
             ListeningMode::anc},
            {"a read while a return is pending",
             [this](AppModel& m) {
                 hearCall();
                 clock->advanceBy(20s);
                 airPods->willAnswer(ListeningMode::transparency);
                 airPods->hold();
                 m.panelDidOpen();
                 clock->advanceBy(20s); // the return's time passes during the read
             },
             {"transparency", "current-mode", "transparency"},
             ListeningMode::anc},
        };
    for (const auto& [name, startCommand, commands, modeBefore] : cases) {
        SCOPED_TRACE(name);
        airPods = std::make_shared<FakeAirPods>();
        calls.clear();
        auto& listening = listeningModel();
        startCommand(listening);
        ASSERT_TRUE(eventually([&] { return listening.isCommandRunning(); }));
        const auto callsBefore = calls.size();
        detect();
        settle();
        EXPECT_EQ(calls.size(), callsBefore) << "switched during the command";
        airPods->release();
        ASSERT_TRUE(eventually([&] { return calls.size() > callsBefore && !listening.isCommandRunning(); }));
        EXPECT_EQ(airPods->commands(), commands);
        EXPECT_EQ(listening.selectedMode(), ListeningMode(ListeningMode::transparency));
        EXPECT_TRUE(listening.isInTransparencyAfterCall());
        EXPECT_EQ(listening.secondsUntilReturn(), 30) << "the wait starts again from the held call";

        airPods->willAnswer(ListeningMode::transparency);
        wait(30s);
        EXPECT_EQ(listening.selectedMode(), modeBefore);
    }
}

// The toggle of the shortcut and of `harkwell --toggle-mode` switches noise cancellation to
// Transparency and anything else to noise cancellation, and tells how it ended: no failure once
// the AirPods have switched, else why they were not, as the banner says it.
TEST_F(AppModelTest, TheToggleSwitchesOrSaysWhyNot) {
    const QByteArray setUp = R"({"permissionSetupComplete": true})";
    // The stored settings, what happens first, the commands sent, the failure told.
    const std::vector<std::tuple<const char*, QByteArray, std::function<void(AppModel&)>, std::vector<std::string>,
                                 std::optional<QString>>>
        cases{
            {"from noise cancellation", setUp, [](AppModel&) {}, {"transparency"}, std::nullopt},
            {"from off",
             R"({"permissionSetupComplete": true, "selectedMode": "normal"})",
             [](AppModel&) {},
             {"anc"},
             std::nullopt},
            {"setup not complete", "{}", [](AppModel&) {}, {}, "Complete permission setup first."},
            {"AirPods not connected",
             setUp,
             [this](AppModel&) { airPods->willAnswer(AppError::airPodsNotConnected()); },
             {"transparency"},
             describe(AppError::airPodsNotConnected())},
            {"a command running",
             setUp,
             [this](AppModel& m) {
                 airPods->hold();
                 m.panelDidOpen();
             },
             {"current-mode"},
             "Another AirPods command is running."},
        };
    for (const auto& [name, stored, arrange, commands, failure] : cases) {
        SCOPED_TRACE(name);
        airPods = std::make_shared<FakeAirPods>();
        auto& created = makeModel(stored);
        arrange(created);
        std::optional<std::optional<QString>> outcome;
        created.toggleAirPodsModeFromShortcut([&](const std::optional<QString>& reason) { outcome = reason; });
        ASSERT_TRUE(eventually([&] { return outcome.has_value(); }));
        EXPECT_EQ(*outcome, failure);
        airPods->release();
        ASSERT_TRUE(idle());
        EXPECT_EQ(airPods->commands(), commands);
    }
}

// AirPods that are away leave listening on for a later call; any other helper failure ends it.
TEST_F(AppModelTest, HelperFailuresAfterACall) {
    for (const auto& [error, stillListening] : std::vector<std::pair<AppError, bool>>{
             {AppError::airPodsNotConnected(), true}, {AppError::helperTimedOut(), false}}) {
        SCOPED_TRACE(error.errorDescription());
        auto& created = listeningModel();
        airPods->willAnswer(error);
        detect();
        ASSERT_TRUE(eventually([&] { return created.errorMessage().has_value(); }));
        EXPECT_EQ(created.errorMessage(), describe(error));
        EXPECT_FALSE(created.isCommandRunning());
        EXPECT_EQ(created.isDetectionEnabled(), stillListening);
        EXPECT_TRUE(calls.isEmpty());
    }
}

// The mode is read from the AirPods at launch and each panel opening, never before setup, one command at a time.
TEST_F(AppModelTest, TheModeIsReadFromTheAirPodsAtLaunchAndOnEachOpeningOfThePanel) {
    const auto readsSettled = [&](size_t commands) {
        return eventually([&] { return airPods->commands().size() == commands && !model->isCommandRunning(); });
    };
    auto& beforeSetup = makeModel(R"({"selectedMode": "normal"})");
    beforeSetup.applicationDidLaunch();
    beforeSetup.panelDidOpen();
    settle();
    EXPECT_TRUE(airPods->commands().empty()) << "read before permission setup";

    auto& created = makeModel(R"({"permissionSetupComplete": true, "selectedMode": "normal"})");
    created.applicationDidLaunch();
    ASSERT_TRUE(readsSettled(1));
    EXPECT_EQ(created.selectedMode(), ListeningMode(ListeningMode::anc));
    pressShortcut();
    ASSERT_TRUE(readsSettled(2));
    EXPECT_EQ(airPods->commands().back(), "transparency");

    // Switched on the AirPods themselves while the panel was closed.
    airPods->willAnswer(ListeningMode::normal);
    created.panelDidOpen();
    ASSERT_TRUE(readsSettled(3));
    EXPECT_EQ(created.selectedMode(), ListeningMode(ListeningMode::normal));
    EXPECT_EQ(storedSettings()["selectedMode"], "normal");

    // One helper command at a time: an opening while a switch runs reads nothing.
    airPods->hold();
    created.setAirPodsMode(ListeningMode::anc);
    created.panelDidOpen();
    airPods->release();
    ASSERT_TRUE(readsSettled(4));
    settle();
    EXPECT_EQ(airPods->commands(), (std::vector<std::string>{"current-mode", "transparency", "current-mode", "anc"}));
}

// A failed automatic read keeps banner, listening and mode; away AirPods say so until a read finds them.
TEST_F(AppModelTest, AutomaticReadsAreQuiet) {
    const QString notConnected = describe(AppError::airPodsNotConnected());
    const std::vector<std::pair<AppError, bool>> cases{
        {AppError::helperFailed("EXIT_CODE=1"), false},
        {AppError::airPodsNotConnected(), true},
    };
    for (const auto& [error, saysNotConnected] : cases) {
        SCOPED_TRACE(error.errorDescription());
        auto& created = listeningModel();
        created.setAirPodsMode(ListeningMode::transparency);
        ASSERT_TRUE(idle());
        // A banner of its own: a key pressed without a modifier while recording the shortcut.
        created.startShortcutRecording();
        sendKey(Qt::Key_A, Qt::NoModifier, 'a');
        const auto banner = created.errorMessage();
        ASSERT_TRUE(banner);

        airPods->willAnswer(error);
        created.panelDidOpen();
        ASSERT_TRUE(idle());
        EXPECT_EQ(created.errorMessage(), saysNotConnected ? notConnected : *banner);
        EXPECT_TRUE(created.isDetectionEnabled());
        EXPECT_EQ(created.selectedMode(), ListeningMode(ListeningMode::transparency));
    }

    model->panelDidOpen();
    ASSERT_TRUE(idle());
    EXPECT_FALSE(model->errorMessage()) << "the AirPods are back";
}

// The call's Transparency lasts until the mode changes or listening ends, not past a late switch.
TEST_F(AppModelTest, TransparencyAfterACallLastsUntilTheModeChangesOrListeningEnds) {
    auto& created = listeningModel();
    const auto afterCall = [&] {
        detect();
        return eventually([&] { return created.isInTransparencyAfterCall() && !created.isCommandRunning(); });
    };
    ASSERT_TRUE(afterCall());
    created.setAirPodsMode(ListeningMode::transparency);
    ASSERT_TRUE(idle());
    EXPECT_TRUE(created.isInTransparencyAfterCall()) << "still Transparency";
    created.setWakePhraseDraft("Ann");
    created.addWakePhraseFromDraft();
    EXPECT_TRUE(created.isInTransparencyAfterCall()) << "listening went on";
    created.setAirPodsMode(ListeningMode::anc);
    ASSERT_TRUE(eventually([&] { return !created.isInTransparencyAfterCall() && !created.isCommandRunning(); }));

    ASSERT_TRUE(afterCall());
    created.setDetectionEnabled(false);
    EXPECT_FALSE(created.isInTransparencyAfterCall());

    created.setDetectionEnabled(true);
    ASSERT_TRUE(afterCall());
    created.removeWakePhrase("James");
    EXPECT_TRUE(created.isInTransparencyAfterCall()) << "Ann is still listened for";
    created.removeWakePhrase("Ann");
    EXPECT_FALSE(created.isInTransparencyAfterCall()) << "no phrase left: listening ended";

    created.setWakePhraseDraft("James");
    created.addWakePhraseFromDraft();
    created.setDetectionEnabled(true);
    airPods->hold();
    detect();
    ASSERT_TRUE(eventually([&] { return created.isCommandRunning(); }));
    created.setDetectionEnabled(false);
    airPods->release();
    ASSERT_TRUE(eventually([&] { return calls.size() == 4; }));
    EXPECT_FALSE(created.isInTransparencyAfterCall());
}

// --- The return after a call -----------------------------------------------------------------

// After a call and the stored quiet time, the AirPods go back to the earlier mode, which is
// stored; listening goes on (the countdown itself is ReturnAfterCall's).
TEST_F(AppModelTest, AfterACallAndQuietTheAirPodsGoBack) {
    auto& created = listeningModel(R"(, "selectedMode": "normal", "returnAfterQuietSeconds": 10)");
    hearCall();
    EXPECT_EQ(created.secondsUntilReturn(), 10);
    airPods->willAnswer(ListeningMode::transparency);
    wait(9s);
    EXPECT_EQ(created.secondsUntilReturn(), 1);
    EXPECT_EQ(airPods->commands(), std::vector<std::string>{"transparency"});
    wait(1s);
    EXPECT_EQ(airPods->commands(), (std::vector<std::string>{"transparency", "current-mode", "normal"}));
    EXPECT_EQ(created.selectedMode(), ListeningMode(ListeningMode::normal));
    EXPECT_EQ(storedSettings()["selectedMode"], "normal");
    EXPECT_FALSE(created.secondsUntilReturn());
    EXPECT_TRUE(created.isDetectionEnabled());
    EXPECT_FALSE(created.errorMessage());
}

// Near speech puts the return off; a second call keeps the mode from before the first.
TEST_F(AppModelTest, TalkKeepsTransparency) {
    auto& created = listeningModel();
    hearCall();
    wait(25s);
    hearNearSpeech();
    EXPECT_EQ(created.secondsUntilReturn(), 30);
    wait(25s);
    hearCall();
    wait(25s);
    hearNearSpeech();
    wait(25s);
    EXPECT_EQ(airPods->commands(), (std::vector<std::string>{"transparency", "transparency"}));
    EXPECT_EQ(created.secondsUntilReturn(), 5);
    airPods->willAnswer(ListeningMode::transparency);
    wait(5s);
    EXPECT_EQ(airPods->commands(), (std::vector<std::string>{"transparency", "transparency", "current-mode", "anc"}));
}

// Each of these ends a pending return for good.
TEST_F(AppModelTest, WhatEndsAPendingReturn) {
    const auto answering = [this](FakeAirPods::Outcome outcome, std::function<void()> then) {
        return [this, outcome, then] {
            airPods->willAnswer(outcome);
            then();
        };
    };
    const std::vector<std::pair<const char*, std::function<void()>>> cases{
        {"the picker choosing Transparency", [&] { model->setAirPodsMode(ListeningMode::transparency); }},
        {"listening turned off", [&] { model->setDetectionEnabled(false); }},
        {"the recogniser failing", [&] { std::thread(detectors->onError, Error::platform("Mic gone.")).join(); }},
        {"the return turned off", [&] { model->setReturnAfterQuietSeconds(0); }},
        {"the last phrase removed", [&] { model->removeWakePhrase("James"); }},
        {"AirPods away at a read", answering(AppError::airPodsNotConnected(), [&] { model->panelDidOpen(); })},
        {"noise cancellation seen at a read", answering(ListeningMode::anc, [&] { model->panelDidOpen(); })},
        {"AirPods away at the next call", answering(AppError::airPodsNotConnected(), [&] { detect(); })},
    };
    for (const auto& [name, action] : cases) {
        SCOPED_TRACE(name);
        airPods = std::make_shared<FakeAirPods>();
        auto& created = listeningModel();
        hearCall();
        wait(10s);
        action();
        settle();
        ASSERT_TRUE(idle());
        EXPECT_FALSE(created.secondsUntilReturn());
        const auto commands = airPods->commands();
        airPods->willAnswer(ListeningMode::transparency);
        wait(120s);
        EXPECT_EQ(airPods->commands(), commands);
    }
}

// No return without a call that itself switched the AirPods to Transparency.
TEST_F(AppModelTest, NoReturnWithoutACallThatSwitchedToTransparency) {
    const std::vector<std::pair<QByteArray, bool>> cases{
        {R"(, "selectedMode": "transparency")", true},
        {R"(, "selectedMode": "anc")", false},
    };
    for (const auto& [stored, byCall] : cases) {
        SCOPED_TRACE(stored.toStdString());
        airPods = std::make_shared<FakeAirPods>();
        auto& created = listeningModel(stored);
        if (byCall) {
            hearCall();
        } else {
            created.setAirPodsMode(ListeningMode::transparency);
            ASSERT_TRUE(idle());
        }
        EXPECT_FALSE(created.secondsUntilReturn());
        wait(120s);
        EXPECT_EQ(airPods->commands(), std::vector<std::string>{"transparency"});
    }
}

// The return's switch reports its failure as any switch (which failures end listening is
// HelperFailuresAfterACall's); reading first and leaving a changed mode alone is the switcher's.
TEST_F(AppModelTest, TheReturnReportsAFailureAsAnySwitch) {
    auto& failing = listeningModel();
    hearCall();
    airPods->willAnswer(ListeningMode::transparency);
    airPods->willAnswer(AppError::helperTimedOut());
    wait(30s);
    EXPECT_EQ(airPods->commands(), (std::vector<std::string>{"transparency", "current-mode", "anc"}));
    EXPECT_EQ(failing.errorMessage(), describe(AppError::helperTimedOut()));
    EXPECT_FALSE(failing.isDetectionEnabled());
    EXPECT_EQ(failing.selectedMode(), ListeningMode(ListeningMode::transparency));
    EXPECT_FALSE(failing.secondsUntilReturn());
}

} // namespace
} // namespace harkwell
