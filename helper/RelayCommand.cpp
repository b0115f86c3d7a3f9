#include "RelayCommand.h"

#include "AirPodsLink.h"
#include "RelayFailure.h"

namespace harkwell::relay {

ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    ParsedCommandLine parsed;
    std::optional<std::string> command;
    bool isValid = true;
    for (size_t index = 0; index < arguments.size(); ++index) {
        if (arguments[index] == "--output-file" && index + 1 < arguments.size() && parsed.outputFile.empty()) {
            parsed.outputFile = arguments[++index];
        } else if (!command && !arguments[index].starts_with("-")) {
            command = arguments[index];
        } else {
            isValid = false;
        }
    }
    if (!isValid || !command || parsed.outputFile.empty()) {
        return parsed;
    }
    RelayInvocation invocation;
    invocation.outputFile = parsed.outputFile;
    if (*command == "current-mode") {
        invocation.command = RelayInvocation::Command::currentMode;
    } else if (*command == "request-permission") {
        invocation.command = RelayInvocation::Command::requestPermission;
    } else if (const auto mode = ListeningMode::fromRawValue(*command)) {
        invocation.command = RelayInvocation::Command::setMode;
        invocation.mode = mode;
    } else {
        return parsed;
    }
    parsed.invocation = invocation;
    return parsed;
}

RelayResult runRelayCommand(const RelayInvocation& invocation, AirPodsLink& link) {
    RelayResult result;
    try {
        if (invocation.command == RelayInvocation::Command::setMode) {
            const NoiseControlMode mode = noiseControlModeFor(*invocation.mode);
            link.setMode(mode);
            result.lines.push_back("The AirPods are set to " + std::string(describe(mode)) + ".");
            return result;
        }
        if (invocation.command == RelayInvocation::Command::requestPermission) {
            link.checkBluetoothAccess();
        }
        const NoiseControlMode mode = link.currentMode();
        if (mode == NoiseControlMode::adaptive) {
            result.lines.emplace_back("The AirPods are in Adaptive mode, which is noise control on: reported as anc.");
        }
        result.lines.emplace_back(listeningModeFor(mode).rawValue());
    } catch (const RelayFailure& failure) {
        result = {failure.exitCode(), {failure.what()}};
    } catch (const std::exception& error) {
        result = {helperExitCode::failure, {error.what()}};
    }
    return result;
}

std::string outputFileText(const RelayResult& result) {
    std::string text;
    for (const std::string& line : result.lines) {
        text += line + "\n";
    }
    text += "EXIT_CODE=" + std::to_string(result.exitCode) + "\n";
    return text;
}

} // namespace harkwell::relay
