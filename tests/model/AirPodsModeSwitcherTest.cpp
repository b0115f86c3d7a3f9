#include "model/AirPodsModeSwitcher.h"
#include "EventLoop.h"
#include "ModelFakes.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace harkwell {
namespace {

using namespace harkwell::testing;
using Mode = ListeningMode;

class AirPodsModeSwitcherTest : public ::testing::Test {
protected:
    ~AirPodsModeSwitcherTest() override {
        airPods->release();
        switcher.reset();
    }
    bool idle() {
        return eventually([&] { return !switcher->isCommandRunning(); });
    }

    std::shared_ptr<FakeAirPods> airPods = std::make_shared<FakeAirPods>();
    std::unique_ptr<AirPodsModeSwitcher> switcher = std::make_unique<AirPodsModeSwitcher>(airPods);
};

// Each command: what the AirPods answer, the commands sent, the mode shown after, the failure.
TEST_F(AirPodsModeSwitcherTest, CommandsShowTheModeTheyLeaveAndHandOnFailures) {
    using Command = std::function<void(AirPodsModeSwitcher&, std::function<void()>, AirPodsModeSwitcher::Failure)>;
    const Command switchToNormal = [](auto& s, auto done, auto failed) { s.switchTo(Mode::normal, done, failed); };
    const Command read = [](auto& s, auto done, auto failed) { s.readMode(done, failed); };
    const Command returnToAnc = [](auto& s, auto, auto failed) { s.returnTo(Mode::anc, failed); };
    const Command bluetooth = [](auto& s, auto done, auto failed) { s.prepareBluetooth(done, failed); };
    const AppError away = AppError::airPodsNotConnected();
    const std::vector<std::tuple<const char*, Command, std::vector<FakeAirPods::Outcome>, std::vector<std::string>,
                                 Mode, std::optional<AppError>>>
        cases{
            {"a switch", switchToNormal, {}, {"normal"}, Mode::normal, std::nullopt},
            {"a failed switch", switchToNormal, {away}, {"normal"}, Mode::transparency, away},
            {"a read", read, {Mode::normal}, {"current-mode"}, Mode::normal, std::nullopt},
            {"a failed read", read, {away}, {"current-mode"}, Mode::transparency, away},
            {"a return", returnToAnc, {Mode::transparency}, {"current-mode", "anc"}, Mode::anc, std::nullopt},
            {"a return after a change on the AirPods",
             returnToAnc,
             {Mode::normal},
             {"current-mode"},
             Mode::normal,
             std::nullopt},
            {"a return that fails to switch",
             returnToAnc,
             {Mode::transparency, away},
             {"current-mode", "anc"},
             Mode::transparency,
             away},
            {"Bluetooth prepared", bluetooth, {Mode::anc}, {"request-permission"}, Mode::anc, std::nullopt},
        };
    for (const auto& [name, command, answers, commands, modeAfter, failure] : cases) {
        SCOPED_TRACE(name);
        airPods = std::make_shared<FakeAirPods>();
        for (const auto& answer : answers) {
            airPods->willAnswer(answer);
        }
        switcher = std::make_unique<AirPodsModeSwitcher>(airPods);
        switcher->restoreMode(Mode::transparency);
        QSignalSpy modes(switcher.get(), &AirPodsModeSwitcher::selectedModeChanged);
        std::vector<bool> runningAtOutcome;
        std::optional<Error> failed;
        command(
            *switcher, [&] { runningAtOutcome.push_back(switcher->isCommandRunning()); },
            [&](const Error& error) {
                runningAtOutcome.push_back(switcher->isCommandRunning());
                failed = error;
            });
        EXPECT_TRUE(switcher->isCommandRunning());
        ASSERT_TRUE(idle());
        settle();
        EXPECT_EQ(airPods->commands(), commands);
        EXPECT_EQ(switcher->selectedMode(), modeAfter);
        EXPECT_EQ(modes.count(), failure ? 0 : 1);
        EXPECT_EQ(failed.has_value(), failure.has_value());
        if (failure && failed) {
            EXPECT_EQ(failed->description(), Error(*failure).description());
        }
        for (const bool running : runningAtOutcome) {
            EXPECT_FALSE(running) << "the gate was still held when the outcome came";
        }
    }
}

// Held work runs once no command runs, the latest only, and waits for a command begun meanwhile.
TEST_F(AirPodsModeSwitcherTest, WorkHeldDuringACommandRunsOnceItHasFinished) {
    QStringList ran;
    switcher->whenIdle([&] { ran.append("at once"); });
    EXPECT_TRUE(ran.isEmpty()) << "ran inside the call";
    ASSERT_TRUE(eventually([&] { return ran.size() == 1; }));

    airPods->hold();
    // Another command begins as the switch's outcome comes, before the held work's turn.
    switcher->switchTo(
        Mode::transparency,
        [&] {
            airPods->hold();
            switcher->readMode(nullptr, nullptr);
        },
        nullptr);
    switcher->whenIdle([&] { ran.append("first"); });
    switcher->whenIdle([&] { ran.append("latest"); });
    EXPECT_TRUE(switcher->isBusy());
    airPods->release();
    ASSERT_TRUE(eventually([&] { return airPods->commands().size() == 2; }));
    settle();
    EXPECT_EQ(ran, QStringList{"at once"}) << "ran during the read";
    EXPECT_TRUE(switcher->isBusy());
    airPods->release();
    ASSERT_TRUE(eventually([&] { return ran.size() == 2; }));
    EXPECT_EQ(ran, (QStringList{"at once", "latest"}));
    EXPECT_FALSE(switcher->isBusy());
}

// Work without a command holds the gate as a command does; freeing a free gate notifies nothing.
TEST_F(AirPodsModeSwitcherTest, TheGateHeldWithoutACommand) {
    QSignalSpy gate(switcher.get(), &AirPodsModeSwitcher::isCommandRunningChanged);
    QStringList ran;
    switcher->holdGate();
    switcher->whenIdle([&] { ran.append("held"); });
    settle();
    EXPECT_TRUE(ran.isEmpty());
    switcher->freeGate();
    switcher->freeGate();
    EXPECT_EQ(gate.count(), 2);
    ASSERT_TRUE(eventually([&] { return ran.size() == 1; }));
}

// Going ends the helper command under way instead of waiting for it, and drops its outcome.
TEST_F(AirPodsModeSwitcherTest, GoingEndsTheCommandUnderWay) {
    airPods->hold();
    bool outcome = false;
    switcher->switchTo(
        Mode::normal, [&] { outcome = true; }, [&](const Error&) { outcome = true; });
    ASSERT_TRUE(eventually([&] { return !airPods->commands().empty(); }));
    switcher.reset();
    settle();
    EXPECT_EQ(airPods->shutDowns(), 1);
    EXPECT_FALSE(airPods->hasGivenUp()) << "going waited for the command";
    EXPECT_FALSE(outcome);
}

} // namespace
} // namespace harkwell
