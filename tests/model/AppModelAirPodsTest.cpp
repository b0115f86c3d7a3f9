// The model and the AirPods: helper commands, calls heard during them, the shortcut's toggle, quiet
// reads of the mode, and the return after a call.
#include "AppModelHarness.h"

namespace harkwell {
namespace {

using namespace harkwell::testing;

// A call heard while a command runs (the return after an earlier call, the user's switch, a read)
// switches once it has finished; a return that was pending then waits for quiet after the new call,
// and goes back to the mode from before the calls.
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

// The toggle of the shortcut and of `harkwell --toggle-mode`: noise cancellation to Transparency,
// anything else to noise cancellation; it tells no failure once switched, else why not.
TEST_F(AppModelTest, TheToggleSwitchesOrSaysWhyNot) {
    const QByteArray setUp = R"({"permissionSetupComplete": true})";
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

// A switch for a call or for the return after it that fails: AirPods that are away leave listening
// on for a later call; any other failure ends it. The mode stays as it was; no return is left.
TEST_F(AppModelTest, HelperFailuresOfACallOrOfTheReturn) {
    const std::vector<std::tuple<bool, AppError, bool>> cases{
        {false, AppError::airPodsNotConnected(), true},
        {false, AppError::helperTimedOut(), false},
        {true, AppError::helperTimedOut(), false},
    };
    for (const auto& [ofTheReturn, error, stillListening] : cases) {
        SCOPED_TRACE(error.errorDescription() + (ofTheReturn ? " of the return" : ""));
        airPods = std::make_shared<FakeAirPods>();
        auto& created = listeningModel();
        if (ofTheReturn) {
            hearCall();
            airPods->willAnswer(ListeningMode::transparency);
        }
        airPods->willAnswer(error);
        if (ofTheReturn) {
            clock->advanceBy(30s);
        } else {
            detect();
        }
        ASSERT_TRUE(eventually([&] { return created.errorMessage().has_value(); }));
        EXPECT_FALSE(created.isCommandRunning());
        EXPECT_EQ(created.errorMessage(), describe(error));
        EXPECT_EQ(created.isDetectionEnabled(), stillListening);
        EXPECT_EQ(calls.size(), ofTheReturn ? 1 : 0);
        EXPECT_EQ(created.selectedMode(),
                  ListeningMode(ofTheReturn ? ListeningMode::transparency : ListeningMode::anc));
        EXPECT_FALSE(created.secondsUntilReturn());
        const std::vector<std::string> returned{"transparency", "current-mode", "anc"};
        EXPECT_EQ(airPods->commands(), ofTheReturn ? returned : std::vector<std::string>{"transparency"});
        calls.clear();
    }
}

// The mode is read at launch and at each opening of the panel: never before setup, one command at a time.
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

    airPods->willAnswer(ListeningMode::normal); // switched on the AirPods themselves meanwhile
    created.panelDidOpen();
    ASSERT_TRUE(readsSettled(3));
    EXPECT_EQ(created.selectedMode(), ListeningMode(ListeningMode::normal));
    EXPECT_EQ(storedSettings()["selectedMode"], "normal");

    airPods->hold();
    created.setAirPodsMode(ListeningMode::anc);
    created.panelDidOpen(); // while the switch runs: no read
    airPods->release();
    ASSERT_TRUE(readsSettled(4));
    settle();
    EXPECT_EQ(airPods->commands(), (std::vector<std::string>{"current-mode", "transparency", "current-mode", "anc"}));
}

// A failed automatic read keeps banner, listening and mode; away AirPods say so until a read finds them.
TEST_F(AppModelTest, AutomaticReadsAreQuiet) {
    for (const auto& [error, saysNotConnected] : std::vector<std::pair<AppError, bool>>{
             {AppError::helperFailed("EXIT_CODE=1"), false}, {AppError::airPodsNotConnected(), true}}) {
        SCOPED_TRACE(error.errorDescription());
        auto& created = listeningModel();
        created.setAirPodsMode(ListeningMode::transparency);
        ASSERT_TRUE(idle());
        // A banner of its own: a key pressed without a modifier while recording the shortcut.
        created.startShortcutRecording();
        keys->press(Qt::Key_A, Qt::NoModifier, 'a');
        const auto banner = created.errorMessage();
        ASSERT_TRUE(banner);

        airPods->willAnswer(error);
        created.panelDidOpen();
        ASSERT_TRUE(idle());
        EXPECT_EQ(created.errorMessage(), saysNotConnected ? describe(error) : *banner);
        EXPECT_TRUE(created.isDetectionEnabled());
        EXPECT_EQ(created.selectedMode(), ListeningMode(ListeningMode::transparency));
    }
    model->panelDidOpen();
    ASSERT_TRUE(idle());
    EXPECT_FALSE(model->errorMessage()) << "the AirPods are back";

    // AirPods that do not answer keep the panel greyed until the helper gives up: after a moment
    // the banner says what it waits for, and then that the helper gave up.
    airPods->hold();
    airPods->willAnswer(AppError::helperTimedOut());
    model->panelDidOpen();
    clock->advanceBy(1s);
    EXPECT_FALSE(model->errorMessage()) << "a read takes a moment";
    clock->advanceBy(1s);
    EXPECT_EQ(model->errorMessage(), "Waiting for the AirPods to answer…");
    EXPECT_EQ(model->bannerKind(), AppModel::BannerKind::information);
    airPods->release();
    ASSERT_TRUE(idle());
    EXPECT_EQ(model->errorMessage(), "The AirPods did not answer in time, so their mode could not be read.");
    EXPECT_EQ(model->bannerKind(), AppModel::BannerKind::error);
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
    addPhrase("Ann");
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

    addPhrase("James");
    created.setDetectionEnabled(true);
    airPods->hold();
    detect();
    ASSERT_TRUE(eventually([&] { return created.isCommandRunning(); }));
    created.setDetectionEnabled(false);
    airPods->release();
    ASSERT_TRUE(eventually([&] { return calls.size() == 4; }));
    EXPECT_FALSE(created.isInTransparencyAfterCall());
}

// After a call and the stored quiet time the AirPods go back to the mode from before the first of
// the calls, which is stored; near speech puts the return off, a second call starts its wait again.
// Listening goes on (the countdown itself is ReturnAfterCall's).
TEST_F(AppModelTest, AfterACallAndQuietTheAirPodsGoBack) {
    auto& created = listeningModel(R"(, "selectedMode": "normal", "returnAfterQuietSeconds": 10)");
    hearCall();
    EXPECT_EQ(created.secondsUntilReturn(), 10);
    wait(9s);
    EXPECT_EQ(created.secondsUntilReturn(), 1);
    hearNearSpeech();
    EXPECT_EQ(created.secondsUntilReturn(), 10);
    wait(9s);
    hearCall();
    wait(9s);
    EXPECT_EQ(airPods->commands(), (std::vector<std::string>{"transparency", "transparency"}));
    airPods->willAnswer(ListeningMode::transparency);
    wait(1s);
    EXPECT_EQ(airPods->commands(),
              (std::vector<std::string>{"transparency", "transparency", "current-mode", "normal"}));
    EXPECT_EQ(created.selectedMode(), ListeningMode(ListeningMode::normal));
    EXPECT_EQ(storedSettings()["selectedMode"], "normal");
    EXPECT_FALSE(created.secondsUntilReturn());
    EXPECT_TRUE(created.isDetectionEnabled());
    EXPECT_FALSE(created.errorMessage());
}

// Each of these ends a pending return for good; a switch to Transparency that was no call's leaves
// none to begin with.
TEST_F(AppModelTest, WhatEndsOrPreventsAReturn) {
    const auto answering = [this](FakeAirPods::Outcome outcome, std::function<void()> then) {
        return [this, outcome, then] {
            airPods->willAnswer(outcome);
            then();
        };
    };
    const auto read = [this] { model->panelDidOpen(); };
    // The case, more stored settings, whether a call switched to Transparency, what comes 10 s later.
    const std::vector<std::tuple<const char*, QByteArray, bool, std::function<void()>>> cases{
        {"the picker choosing Transparency", "", true, [&] { model->setAirPodsMode(ListeningMode::transparency); }},
        {"listening turned off", "", true, [&] { model->setDetectionEnabled(false); }},
        {"the recogniser failing", "", true,
         [&] { std::thread(detectors->onError, Error::platform("Mic gone.")).join(); }},
        {"the return turned off", "", true, [&] { model->setReturnAfterQuietSeconds(0); }},
        {"the last phrase removed", "", true, [&] { model->removeWakePhrase("James"); }},
        {"AirPods away at a read", "", true, answering(AppError::airPodsNotConnected(), read)},
        {"noise cancellation seen at a read", "", true, answering(ListeningMode::anc, read)},
        {"AirPods away at the next call", "", true, answering(AppError::airPodsNotConnected(), [&] { detect(); })},
        {"a call from Transparency", R"(, "selectedMode": "transparency")", true, [] {}},
        {"the user's switch", "", false, [] {}},
    };
    for (const auto& [name, stored, byCall, action] : cases) {
        SCOPED_TRACE(name);
        airPods = std::make_shared<FakeAirPods>();
        auto& created = listeningModel(stored);
        if (byCall) {
            hearCall();
        } else {
            created.setAirPodsMode(ListeningMode::transparency);
        }
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

// A call makes way as the setting says, after the switch; the AirPods leaving Transparency give
// back what it took; quitting gives back the volumes only. The user's own switch to Transparency
// changes no media.
TEST_F(AppModelTest, ACallMakesWayForItAndTheReturnGivesBack) {
    const auto returnAfterQuiet = [this](AppModel&) {
        airPods->willAnswer(ListeningMode::transparency); // what the return reads first
        wait(30s);
    };
    const auto userSwitchesToAnc = [](AppModel& m) { m.setAirPodsMode(ListeningMode::anc); };
    const std::vector<
        std::tuple<const char*, QByteArray, bool, std::function<void(AppModel&)>, std::vector<std::string>>>
        cases{
            {"paused, back after quiet", "", true, returnAfterQuiet, {"pause a", "play a"}},
            {"paused, back by the user", "", true, userSwitchesToAnc, {"pause a", "play a"}},
            {"lowered", R"(, "mediaOnCall": "lower")", true, returnAfterQuiet, {"volume 7 16384", "volume 7 65536"}},
            {"left", R"(, "mediaOnCall": "leave")", true, returnAfterQuiet, {}},
            {"paused, then quitting", "", true, [](AppModel&) {}, {"pause a"}},
            {"lowered, then quitting",
             R"(, "mediaOnCall": "lower")",
             true,
             [](AppModel&) {},
             {"volume 7 16384", "volume 7 65536"}},
            {"the user's own Transparency",
             "",
             false,
             [this](AppModel& m) {
                 m.setAirPodsMode(ListeningMode::transparency);
                 ASSERT_TRUE(idle());
                 m.setAirPodsMode(ListeningMode::anc);
             },
             {}},
        };
    for (const auto& [name, setting, isCalled, between, log] : cases) {
        SCOPED_TRACE(name);
        media = std::make_shared<FakeMedia>();
        media->setPlayers({{"a", MediaPlayer::Status::playing, "one"}, {"b", MediaPlayer::Status::paused, "two"}});
        media->setStreams({{7, false, {0x10000}}, {8, true, {0x10000}}});
        auto& listening = listeningModel(setting);
        if (isCalled) {
            hearCall();
        }
        between(listening);
        ASSERT_TRUE(idle());
        model.reset(); // waits for the media's work
        EXPECT_EQ(media->log(), log);
    }
}

// The switch comes first: the media wait for it, and a player that does not answer holds up
// neither the switch nor the call panel.
TEST_F(AppModelTest, MediaFollowTheSwitchAndNeverHoldItUp) {
    media->setPlayers({{"a", MediaPlayer::Status::playing, "one"}});
    listeningModel();
    airPods->hold();
    media->hold();
    detect();
    ASSERT_TRUE(eventually([&] { return !airPods->commands().empty(); }));
    settle();
    EXPECT_EQ(media->passes(), 0) << "the players were asked before the switch";
    airPods->release();
    ASSERT_TRUE(eventually([&] { return calls.size() == 1; })) << "a hanging player held up the call";
    EXPECT_TRUE(media->waitForPasses(1));
    media->release();
    model.reset();
    EXPECT_EQ(media->log(), std::vector<std::string>{"pause a"});
}

} // namespace
} // namespace harkwell
