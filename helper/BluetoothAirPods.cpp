#include "BluetoothAirPods.h"

#include "BluezDiscovery.h"
#include "L2capChannel.h"
#include "RelayFailure.h"

#include <thread>

namespace harkwell::relay {

namespace {
constexpr std::chrono::milliseconds reconnectPause{300};
}

BluetoothAirPods::BluetoothAirPods(QDBusConnection bus, std::chrono::steady_clock::time_point connectDeadline,
                                   ProtocolTiming timing)
    : bus_(std::move(bus)), connectDeadline_(connectDeadline), timing_(timing) {}

void BluetoothAirPods::checkBluetoothAccess() { findConnectedAirPods(bus_, bluezTimeout); }

NoiseControlMode BluetoothAirPods::currentMode() {
    NoiseControlMode mode = NoiseControlMode::off;
    withSession([&](ControlSession& session) { mode = session.currentMode(); });
    return mode;
}

void BluetoothAirPods::setMode(NoiseControlMode mode) {
    withSession([&](ControlSession& session) {
        const SetModeResult result = session.setMode(mode);
        if (result.outcome == SetModeResult::Outcome::refused) {
            throw RelayFailure(helperExitCode::failure, refusedModeMessage(mode, *result.reportedMode));
        }
    });
}

void BluetoothAirPods::withSession(const std::function<void(ControlSession&)>& use) {
    const auto devices = findConnectedAirPods(bus_, bluezTimeout);
    if (devices.empty()) {
        throw RelayFailure(helperExitCode::notConnected, noAirPodsMessage);
    }
    try {
        while (true) {
            const UniqueFd channel = openL2capControlChannel(devices.front().address, connectDeadline_);
            ControlSession session(channel.get(), timing_);
            try {
                session.open();
            } catch (const ControlChannelError& error) {
                // A connect can report success before the link is up: connect again.
                if (error.reason() == ControlChannelError::Reason::notConnected &&
                    std::chrono::steady_clock::now() + reconnectPause < connectDeadline_) {
                    std::this_thread::sleep_for(reconnectPause);
                    continue;
                }
                throw;
            }
            use(session);
            return;
        }
    } catch (const ControlChannelError& error) {
        throw RelayFailure(helperExitCode::failure, error.what());
    }
}

std::string refusedModeMessage(NoiseControlMode requested, NoiseControlMode reported) {
    std::string message = "The AirPods refused to switch to " + std::string(describe(requested)) + " and stay in " +
                          std::string(describe(reported)) + ": ";
    if (requested == NoiseControlMode::off) {
        message += "Off may be disabled in the AirPods' settings, and no change is taken while both are out of the "
                   "ears.";
    } else {
        message += "put at least one of them in an ear and try again.";
    }
    return message;
}

} // namespace harkwell::relay
