#pragma once

#include "AirPodsLink.h"
#include "ControlSession.h"

#include <QDBusConnection>

#include <chrono>
#include <functional>

namespace harkwell::relay {

// Real AirPods: found through BlueZ on `bus`, controlled over their L2CAP control channel.
// Connecting (with its retries) ends by `connectDeadline`; the protocol's own waits follow.
class BluetoothAirPods final : public AirPodsLink {
public:
    static constexpr std::chrono::milliseconds bluezTimeout{4000};

    BluetoothAirPods(QDBusConnection bus, std::chrono::steady_clock::time_point connectDeadline,
                     ProtocolTiming timing = {});

    void checkBluetoothAccess() override;
    NoiseControlMode currentMode() override;
    void setMode(NoiseControlMode mode) override;

private:
    void withSession(const std::function<void(ControlSession&)>& use);

    QDBusConnection bus_;
    std::chrono::steady_clock::time_point connectDeadline_;
    ProtocolTiming timing_;
};

// The message for AirPods that reported `reported` after being asked for `requested`.
std::string refusedModeMessage(NoiseControlMode requested, NoiseControlMode reported);

} // namespace harkwell::relay
