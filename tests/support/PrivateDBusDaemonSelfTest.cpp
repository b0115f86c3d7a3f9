#include "PrivateDBusDaemon.h"
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <gtest/gtest.h>
TEST(PrivateDBusDaemonTest, Starts) {
    harkwell::testing::PrivateDBusDaemon daemon;
    ASSERT_FALSE(daemon.address().isEmpty()) << daemon.error().toStdString();
    auto c = QDBusConnection::connectToBus(daemon.address(), "t");
    ASSERT_TRUE(c.isConnected());
    EXPECT_TRUE(c.registerService("org.example.Test"));
    EXPECT_TRUE(c.interface()->isServiceRegistered("org.example.Test"));
}
