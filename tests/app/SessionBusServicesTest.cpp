#include "app/SessionBusServices.h"
#include "PrivateBusConnection.h"

#include <gtest/gtest.h>

#include <sstream>

namespace harkwell {
namespace {

TEST(ToggleModeTest, CommandTogglesTheRunningInstanceOrSaysWhyNot) {
    testing::PrivateDBusDaemon daemon;
    ASSERT_FALSE(daemon.address().isEmpty()) << daemon.error().toStdString();
    const auto connect = [&](const char* role) { return testing::connectToPrivateBus(daemon, role); };
    std::ostringstream errors;
    EXPECT_EQ(runToggleModeCommand(connect("command"), errors), 1);
    EXPECT_EQ(errors.str(), "Harkwell is not running.\n");

    int toggles = 0;
    ToggleModeService service([&] { ++toggles; });
    ASSERT_EQ(service.exportOn(connect("instance")), std::nullopt);
    ToggleModeService second([] {});
    EXPECT_NE(second.exportOn(connect("second instance")), std::nullopt) << "two instances own the name";
    EXPECT_EQ(runToggleModeCommand(connect("command"), errors), 0);
    EXPECT_EQ(toggles, 1);

    errors.str("");
    const auto noBus = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/harkwell-bus"), "no bus");
    EXPECT_EQ(runToggleModeCommand(noBus, errors), 1);
    EXPECT_TRUE(errors.str().starts_with("Cannot reach the session bus")) << errors.str();
}

} // namespace
} // namespace harkwell
