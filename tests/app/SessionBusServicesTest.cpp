#include "app/SessionBusServices.h"
#include "PrivateBusConnection.h"

#include <QTimer>

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
    bool quitsUnanswered = false;
    const QString instance = connect("instance").name(); // no copy held: it may leave the bus
    ToggleModeService service([&](const ToggleModeService::Completion& done) {
        ++toggles;
        if (quitsUnanswered) {
            QTimer::singleShot(0, [&] { QDBusConnection::disconnectFromBus(instance); });
        } else {
            done(failure);
        }
    });
    ASSERT_EQ(service.exportOn(QDBusConnection(instance)), std::nullopt);
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

    // One that quits: its objects gone while it still owns the name, or gone from the bus before
    // it answered.
    for (const bool objectsGone : {true, false}) {
        SCOPED_TRACE(objectsGone ? "objects gone" : "left the bus");
#if defined(__SANITIZE_THREAD__)
        // Closing a connection that objects of this process are registered on runs on QtDBus's own
        // thread, under locks the sanitizer cannot see (Qt is not built with it): every object
        // destroyed afterwards looks racy to it. The other builds run this case.
        if (!objectsGone) {
            continue;
        }
#endif
        errors.str("");
        QDBusConnection bus(instance);
        if (objectsGone) {
            bus.unregisterObject(toggleModeBus::path);
        } else {
            ASSERT_TRUE(bus.registerObject(toggleModeBus::path, &service, QDBusConnection::ExportAllSlots));
            quitsUnanswered = true;
        }
        bus = QDBusConnection(QString());
        EXPECT_EQ(runToggleModeCommand(connect("command"), errors), 1);
        EXPECT_EQ(errors.str(), "Harkwell is not running.\n");
    }

    errors.str("");
    const auto noBus = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/harkwell-bus"), "no bus");
    EXPECT_EQ(runToggleModeCommand(noBus, errors), 1);
    EXPECT_TRUE(errors.str().starts_with("Cannot reach the session bus")) << errors.str();
}

} // namespace
} // namespace harkwell
