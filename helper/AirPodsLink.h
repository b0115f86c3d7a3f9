#pragma once

#include "NoiseControlMode.h"

namespace harkwell::relay {

// Where ModeRelay reads and sets the mode: real AirPods over Bluetooth, or the simulator.
// Failures are thrown as RelayFailure.
class AirPodsLink {
public:
    virtual ~AirPodsLink() = default;

    // Makes sure the Bluetooth service can be used (the "request-permission" command).
    virtual void checkBluetoothAccess() = 0;
    virtual NoiseControlMode currentMode() = 0;
    virtual void setMode(NoiseControlMode mode) = 0;
};

} // namespace harkwell::relay
