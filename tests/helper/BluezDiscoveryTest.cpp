#include "BluezDiscovery.h"

#include "FakeBluezProcess.h"
#include "PrivateDBusDaemon.h"

#include <QDBusConnection>

#include <gtest/gtest.h>

namespace harkwell::relay {
namespace {

using namespace std::chrono_literals;

const QString airPods = "74ec2172-0bad-4d01-8f77-997b2be0722a";
const QString audioSink = "0000110b-0000-1000-8000-00805f9b34fb";

// Device n (1 to 3) as fake_bluez takes it: address n:n:n:n:n:n, the third on a second adapter.
QString device(int n, bool connected, const QStringList& uuids) {
    const QString digits = QString(2, QChar('0' + n));
    return QString("/org/bluez/hci%1/dev_%2_%2_%2_%2_%2_%2,%2:%2:%2:%2:%2:%2,%3,%4")
        .arg(n == 3 ? 1 : 0)
        .arg(digits)
        .arg(connected ? 1 : 0)
        .arg(uuids.join(';'));
}

// A bus without BlueZ, and no bus at all, are covered by running ModeRelay (ModeRelayTest).
TEST(BluezDiscoveryTest, FindsConnectedAirPodsInObjectPathOrder) {
    const std::vector<std::tuple<const char*, QStringList, std::vector<std::string>>> cases{
        {"one pair", {device(1, true, {audioSink, airPods})}, {"11:11:11:11:11:11"}},
        {"none at all", {}, {}},
        {"AirPods not connected", {device(1, false, {airPods})}, {}},
        {"connected headphones of another kind", {device(1, true, {audioSink})}, {}},
        {"upper-case UUID", {device(1, true, {airPods.toUpper()})}, {"11:11:11:11:11:11"}},
        {"several, listed out of order",
         {device(3, true, {airPods}), device(2, true, {airPods}), device(1, false, {airPods})},
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

} // namespace
} // namespace harkwell::relay
