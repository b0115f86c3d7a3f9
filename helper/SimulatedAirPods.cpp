#include "SimulatedAirPods.h"

#include "RelayFailure.h"
#include "matching/UnicodeText.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace harkwell::relay {

NoiseControlMode SimulatedAirPods::currentMode() {
    std::ifstream file(path_, std::ios::binary);
    std::stringstream contents;
    if (!file || !(contents << file.rdbuf())) {
        throw RelayFailure(helperExitCode::failure,
                           "Cannot read the AirPods simulator file " + path_ + ": " + std::strerror(errno));
    }
    const std::string word = unicode::trimmed(contents.str().substr(0, 64));
    if (word == "disconnected") {
        throw RelayFailure(helperExitCode::notConnected, "The simulated AirPods are not connected.");
    }
    if (word == "adaptive") {
        return NoiseControlMode::adaptive;
    }
    if (const auto mode = ListeningMode::fromRawValue(word)) {
        return noiseControlModeFor(*mode);
    }
    throw RelayFailure(helperExitCode::failure,
                       "The AirPods simulator file " + path_ +
                           " holds neither a listening mode (normal, anc, transparency, adaptive) nor "
                           "\"disconnected\".");
}

void SimulatedAirPods::setMode(NoiseControlMode mode) {
    currentMode(); // the simulated AirPods must be there
    std::ofstream file(path_, std::ios::binary | std::ios::trunc);
    if (!(file << listeningModeFor(mode).rawValue() << '\n') || !file.flush()) {
        throw RelayFailure(helperExitCode::failure,
                           "Cannot write the AirPods simulator file " + path_ + ": " + std::strerror(errno));
    }
}

} // namespace harkwell::relay
