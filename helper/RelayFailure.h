#pragma once

#include "airpods/HelperExitCode.h"

#include <stdexcept>
#include <string>

namespace harkwell::relay {

// A failure of a command, with the exit code (one of helperExitCode's) and the one-line message
// for the user.
class RelayFailure : public std::runtime_error {
public:
    RelayFailure(int exitCode, const std::string& message) : std::runtime_error(message), exitCode_(exitCode) {}
    int exitCode() const { return exitCode_; }

private:
    int exitCode_;
};

inline const char* const bluezUnavailableMessage = "Bluetooth is not available: the BlueZ service is not running.";
inline const char* const noAirPodsMessage =
    "No connected AirPods were found. Connect them in the Bluetooth settings and try again.";

} // namespace harkwell::relay
