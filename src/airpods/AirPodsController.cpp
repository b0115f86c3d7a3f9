#include "airpods/AirPodsController.h"

#include "airpods/HelperOutput.h"
#include "airpods/HelperOutputFile.h"
#include "airpods/HelperProcess.h"
#include "locale/AppError.h"

#include <system_error>

#include <unistd.h>

namespace harkwell {

namespace {

AppError mappedError(const CommandResult& result) {
    if (result.status == 2 || result.status == 7) {
        return AppError::airPodsNotConnected();
    }
    return AppError::helperFailed(result.output);
}

} // namespace

AirPodsController::AirPodsController(std::filesystem::path installationRoot, std::chrono::milliseconds timeout,
                                     std::chrono::milliseconds terminationGrace)
    : helperPath_(std::move(installationRoot) / "libexec" / "harkwell" / "ModeRelay"), timeout_(timeout),
      terminationGrace_(terminationGrace) {}

std::filesystem::path AirPodsController::defaultInstallationRoot() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return std::filesystem::current_path(error);
    }
    return executable.parent_path().parent_path();
}

ListeningMode AirPodsController::currentMode() { return readMode("current-mode"); }

ListeningMode AirPodsController::prepareBluetoothPermission() { return readMode("request-permission"); }

void AirPodsController::setMode(ListeningMode mode) {
    const CommandResult result = run({std::string(mode.rawValue())});
    if (result.status != 0) {
        throw mappedError(result);
    }
}

ListeningMode AirPodsController::readMode(const std::string& command) {
    const CommandResult result = run({command});
    if (result.status != 0) {
        throw mappedError(result);
    }
    if (const auto mode = ListeningMode::fromHelperOutput(result.output)) {
        return *mode;
    }
    throw AppError::unknownMode(result.output);
}

CommandResult AirPodsController::run(const std::vector<std::string>& arguments) {
    std::error_code error;
    if (!std::filesystem::exists(helperPath_, error)) {
        throw AppError::helperMissing(helperPath_.string());
    }

    const HelperOutputFile outputFile;
    std::vector<std::string> helperArguments = arguments;
    helperArguments.insert(helperArguments.end(), {"--output-file", outputFile.path()});

    const auto outcome =
        runHelperProcess(helperPath_.string(), helperArguments, {timeout_, terminationGrace_, outputLimit});
    if (!outcome) {
        // The helper is gone (terminated or killed), so nothing writes the file any more.
        outputFile.remove();
        throw AppError::helperTimedOut();
    }

    std::string fileText = outputFile.read(outputLimit);
    outputFile.remove();
    std::string printedText = outcome->output;
    for (std::string* text : {&fileText, &printedText}) {
        if (text->size() >= outputLimit) {
            dropIncompleteUtf8Tail(*text);
        }
    }
    return commandResultFromHelperOutput(fileText, printedText, outcome->exitStatus);
}

} // namespace harkwell
