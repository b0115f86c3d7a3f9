#pragma once

#include <chrono>
#include <string>
#include <vector>

class QDBusConnection;

namespace harkwell::relay {

// The AirPods control service among a device's UUIDs marks a pair of AirPods.
inline const char* const airPodsServiceUuid = "74ec2172-0bad-4d01-8f77-997b2be0722a";

struct BluetoothDevice {
    std::string objectPath;
    std::string address;
    std::string name;
};

// The connected AirPods that BlueZ knows (org.bluez.Device1 objects whose Connected is true
// and whose UUIDs hold the AirPods control service), in object-path order. Throws
// RelayFailure when BlueZ cannot be reached on `bus` within `timeout`.
std::vector<BluetoothDevice> findConnectedAirPods(const QDBusConnection& bus, std::chrono::milliseconds timeout);

} // namespace harkwell::relay
