#include "BluezDiscovery.h"

#include "FakeBluezProcess.h"
#include "PrivateDBusDaemon.h"
#include "RelayFailure.h"

#include <QDBusConnection>

#include <gtest/gtest.h>

namespace harkwell::relay {
namespace {

using namespace std::chrono_literals;

const QString airPodsUuid = "74ec2172-0bad-4d01-8f77-997b2be0722a";
const QString audioSinkUuid = "0000110b-0000-1000-8000-00805f9b34fb";

QString device(const QString& path, const QString& address, bool connected, const QStringList& uuids) {
    return QStringList{path, address, connected ? "1" : "0", uuids.join(';')}.join(',');
}

TEST(BluezDiscoveryTest, FindsConnectedAirPodsInObjectPathOrder) {
    struct Case {
        const char* name;
        QStringList devices;
        std::vector<std::string> expectedAddresses;
    };
    const QString first = "/org/bluez/hci0/dev_11_11_11_11_11_11";
    const QString second = "/org/bluez/hci0/dev_22_22_22_22_22_22";
    const QString third = "/org/bluez/hci1/dev_33_33_33_33_33_33";
    const std::vector<Case> cases{
        {"one pair", {device(first, "11:11:11:11:11:11", true, {audioSinkUuid, airPodsUuid})}, {"11:11:11:11:11:11"}},
        {"none at all", {}, {}},
        {"AirPods not connected", {device(first, "11:11:11:11:11:11", false, {airPodsUuid})}, {}},
        {"connected headphones of another kind", {device(first, "11:11:11:11:11:11", true, {audioSinkUuid})}, {}},
        {"upper-case UUID", {device(first, "11:11:11:11:11:11", true, {airPodsUuid.toUpper()})}, {"11:11:11:11:11:11"}},
        {"several, listed out of order",
         {device(third, "33:33:33:33:33:33", true, {airPodsUuid}),
          device(second, "22:22:22:22:22:22", true, {airPodsUuid}),
          device(first, "11:11:11:11:11:11", false, {airPodsUuid})},
         {"22:22:22:22:22:22", "33:33:33:33:33:33"}},
    };
    testing::PrivateDBusDaemon daemon;
    ASSERT_FALSE(daemon.address().isEmpty()) << daemon.error().toStdString();
    for (const auto& [name, devices, expectedAddresses] : cases) {
        SCOPED_TRACE(name);
        const testing::FakeBluezProcess bluez(daemon.address(), devices);
        ASSERT_EQ(bluez.error(), "");
        const QDBusConnection bus = QDBusConnection::connectToBus(daemon.address(), name);
        std::vector<std::string> addresses;
        for (const BluetoothDevice& found : findConnectedAirPods(bus, 5s)) {
            addresses.push_back(found.address);
            EXPECT_EQ(found.name, "Test device");
        }
        EXPECT_EQ(addresses, expectedAddresses);
        QDBusConnection::disconnectFromBus(name);
    }
}

TEST(BluezDiscoveryTest, WithoutBluezReportsTheServiceNotRunning) {
    testing::PrivateDBusDaemon daemon;
    ASSERT_FALSE(daemon.address().isEmpty()) << daemon.error().toStdString();
    const std::vector<std::pair<const char*, QString>> buses{{"bus without BlueZ", daemon.address()},
                                                             {"no bus", "unix:path=/nonexistent/harkwell-bus"}};
    for (const auto& [name, address] : buses) {
        SCOPED_TRACE(name);
        const QDBusConnection bus = QDBusConnection::connectToBus(address, name);
        try {
            findConnectedAirPods(bus, 5s);
            ADD_FAILURE() << "found BlueZ";
        } catch (const RelayFailure& failure) {
            EXPECT_EQ(failure.exitCode(), exitFailure);
            EXPECT_STREQ(failure.what(), bluezUnavailableMessage);
        }
        QDBusConnection::disconnectFromBus(name);
    }
}

} // namespace
} // namespace harkwell::relay
