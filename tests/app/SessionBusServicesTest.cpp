#include "app/SessionBusServices.h"
#include "PrivateBusConnection.h"

#include <gtest/gtest.h>

#include <optional>
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

    // The instance answers once the switch has ended: the command fails with the reason when the
    // AirPods were not switched.
    int toggles = 0;
    std::optional<QString> failure;
    ToggleModeService service([&](const ToggleModeService::Completion& done) {
        ++toggles;
        done(failure);
    });
    ASSERT_EQ(service.exportOn(connect("instance")), std::nullopt);
    ToggleModeService second([](const ToggleModeService::Completion&) {});
    EXPECT_NE(second.exportOn(connect("second instance")), std::nullopt) << "two instances own the name";
    for (const std::optional<QString>& reason :
         {std::optional<QString>(), std::optional<QString>("AirPods are not connected.")}) {
        SCOPED_TRACE(reason.value_or("switched").toStdString());
        errors.str("");
        failure = reason;
        EXPECT_EQ(runToggleModeCommand(connect("command"), errors), reason ? 1 : 0);
        EXPECT_EQ(errors.str(), reason ? reason->toStdString() + "\n" : "");
    }
    EXPECT_EQ(toggles, 2);

    errors.str("");
    const auto noBus = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/harkwell-bus"), "no bus");
    EXPECT_EQ(runToggleModeCommand(noBus, errors), 1);
    EXPECT_TRUE(errors.str().starts_with("Cannot reach the session bus")) << errors.str();
}

} // namespace
} // namespace harkwell
