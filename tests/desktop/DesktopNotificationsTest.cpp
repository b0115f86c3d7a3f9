// The notices against a notification server of the test's own on a private bus.
#include "desktop/DesktopNotifications.h"
#include "EventLoop.h"
#include "FakeNotificationServer.h"
#include "PrivateBusConnection.h"

#include <gtest/gtest.h>

namespace harkwell {
namespace {

using testing::eventually;
using testing::FakeNotificationServer;

TEST(DesktopNotificationsTest, NoticesReplaceTheOneBeforeAndCloseWithoutEverWaiting) {
    testing::PrivateDBusDaemon daemon;
    ASSERT_FALSE(daemon.address().isEmpty()) << daemon.error().toStdString();
    QDBusConnection serverBus = testing::connectToPrivateBus(daemon, "server");
    FakeNotificationServer server;
    ASSERT_TRUE(serverBus.registerObject(DesktopNotifications::path, &server, QDBusConnection::ExportAllSlots));

    ASSERT_TRUE(serverBus.registerService(DesktopNotifications::service));
    DesktopNotifications notices(testing::connectToPrivateBus(daemon, "client"));

    // Asked again before the first answer came: the second takes the first's place.
    notices.show({"Someone called you, James!", "Transparency turned on", 2500});
    notices.show({"Someone called you, Kim!", "Transparency turned on", 2500});
    ASSERT_TRUE(eventually([&] { return server.requests.size() == 2; }));
    notices.close();
    ASSERT_TRUE(eventually([&] { return server.requests.size() == 3; }));
    const testing::NotificationRequest& first = server.requests[0];
    EXPECT_EQ(first.method, "Notify");
    EXPECT_EQ(first.replaces, 0u);
    EXPECT_EQ(first.appIcon, "io.github.harkwell.Harkwell");
    EXPECT_EQ(first.summary, "Someone called you, James!");
    EXPECT_EQ(first.body, "Transparency turned on");
    EXPECT_EQ(first.timeout, 2500);
    EXPECT_EQ(first.hints.value("transient").toBool(), true);
    EXPECT_EQ(first.hints.value("urgency").toInt(), 1) << "GNOME shows no banner for a low one";
    EXPECT_EQ(first.hints.value("desktop-entry").toString(), "io.github.harkwell.Harkwell");
    EXPECT_EQ(server.requests[1].replaces, first.id);
    EXPECT_EQ(server.requests[1].summary, "Someone called you, Kim!");
    EXPECT_EQ(server.requests[2].method, "close");
    EXPECT_EQ(server.requests[2].id, first.id);

    // A refusal leaves nothing to replace or close; the next notice is a new one.
    server.requests.clear();
    server.refuses = true;
    notices.show({"Someone called you, Ann!", "", 2500});
    ASSERT_TRUE(eventually([&] { return server.requests.size() == 1; }));
    testing::settle();
    server.refuses = false;
    notices.close();
    notices.show({"Someone called you, Ann!", "", 2500});
    ASSERT_TRUE(eventually([&] { return server.requests.size() == 2; }));
    EXPECT_EQ(server.requests[1].method, "Notify");
    EXPECT_EQ(server.requests[1].replaces, 0u);
}

} // namespace
} // namespace harkwell
