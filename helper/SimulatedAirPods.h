#pragma once

#include "AirPodsLink.h"

#include <string>

namespace harkwell::relay {

// Simulated AirPods for demonstrations and end-to-end tests on machines without Bluetooth:
// a file that holds the mode word ("normal", "anc", "transparency" or "adaptive") or
// "disconnected". Setting a mode rewrites it.
class SimulatedAirPods final : public AirPodsLink {
public:
    explicit SimulatedAirPods(std::string path) : path_(std::move(path)) {}

    void checkBluetoothAccess() override {}
    NoiseControlMode currentMode() override;
    void setMode(NoiseControlMode mode) override;

private:
    std::string path_;
};

} // namespace harkwell::relay
