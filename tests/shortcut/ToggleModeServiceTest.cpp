#include "shortcut/ToggleModeService.h"
#include "PrivateBusConnection.h"

#include <gtest/gtest.h>

#include <sstream>

namespace harkwell {
namespace {

class ToggleModeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(daemon.address().isEmpty()) << daemon.error().toStdString(); }

    QDBusConnection connect(const char* name) { return testing::connectToPrivateBus(daemon, name); }

    harkwell::testing::PrivateDBusDaemon daemon;
    std::ostringstream errors;
};

TEST_F(ToggleModeTest, CommandTogglesTheRunningInstanceOrSaysItIsNotRunning) {
    EXPECT_EQ(runToggleModeCommand(connect("command"), errors), 1);
    EXPECT_EQ(errors.str(), "Harkwell is not running.\n");
    errors.str("");

    int toggles = 0;
    ToggleModeService service([&] { ++toggles; });
    ASSERT_EQ(service.exportOn(connect("instance")), std::nullopt);
    EXPECT_EQ(runToggleModeCommand(connect("command"), errors), 0);
    EXPECT_EQ(toggles, 1);
    EXPECT_EQ(errors.str(), "");

    ToggleModeService second([] {});
    EXPECT_NE(second.exportOn(connect("second instance")), std::nullopt) << "two instances own the name";
    EXPECT_EQ(runToggleModeCommand(connect("command"), errors), 0);
    EXPECT_EQ(toggles, 2);
}

TEST_F(ToggleModeTest, NoBusIsAClearError) {
    const auto bus = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/harkwell-bus"), "no bus");
    EXPECT_EQ(runToggleModeCommand(bus, errors), 1);
    EXPECT_TRUE(errors.str().starts_with("Cannot reach the session bus")) << errors.str();
    ToggleModeService service([] {});
    EXPECT_NE(service.exportOn(bus), std::nullopt);
}

} // namespace
} // namespace harkwell
