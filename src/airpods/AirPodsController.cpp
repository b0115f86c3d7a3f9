#include "airpods/AirPodsController.h"

#include "airpods/HelperExitCode.h"
#include "airpods/HelperOutput.h"
#include "airpods/HelperOutputFile.h"
#include "airpods/HelperProcess.h"
#include "core/Log.h"
#include "locale/AppError.h"

#include <cstdint>
#include <stdexcept>
#include <system_error>

#include <sys/eventfd.h>
#include <unistd.h>

namespace harkwell {

namespace {

using SteadyClock = std::chrono::steady_clock;

AppError mappedError(const CommandResult& result) {
    if (helperExitCode::meansNotConnected(result.status)) {
        return AppError::airPodsNotConnected();
    }
    return AppError::helperFailed(result.output);
}

// The start of a helper's message, enough to tell which failure it was.
QString logExcerpt(const std::string& text) { return QString::fromStdString(text.substr(0, 300)); }

qint64 millisecondsSince(SteadyClock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();
}

} // namespace

AirPodsController::AirPodsController(const std::filesystem::path& installationRoot, std::chrono::milliseconds timeout,
                                     std::chrono::milliseconds terminationGrace)
    : helperPath_(installationRoot / "libexec" / "harkwell" / "ModeRelay"), timeout_(timeout),
      terminationGrace_(terminationGrace), stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

AirPodsController::~AirPodsController() {
    if (stopFd_ >= 0) {
        ::close(stopFd_);
    }
}

void AirPodsController::shutDown() {
    isShutDown_ = true;
    if (stopFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(stopFd_, &one, sizeof one);
    }
}

std::filesystem::path AirPodsController::defaultInstallationRoot() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return std::filesystem::current_path(error);
    }
    return executable.parent_path().parent_path();
}

void AirPodsController::removeStaleAnswerFiles() {
    const auto minimumAge = std::chrono::ceil<std::chrono::seconds>(defaultTimeout + defaultTerminationGrace);
    if (const size_t removed = HelperOutputFile::removeStaleFiles(minimumAge); removed > 0) {
        qCInfo(logAirPods) << "Removed" << removed << "answer files that interrupted helper runs left behind";
    }
}

ListeningMode AirPodsController::currentMode() { return readMode("current-mode"); }

ListeningMode AirPodsController::prepareBluetoothPermission() { return readMode("request-permission"); }

void AirPodsController::setMode(ListeningMode mode) {
    const CommandResult result = run({std::string(mode.rawValue())});
    if (result.status != helperExitCode::success) {
        throw mappedError(result);
    }
}

ListeningMode AirPodsController::readMode(const std::string& command) {
    const CommandResult result = run({command});
    if (result.status != helperExitCode::success) {
        throw mappedError(result);
    }
    if (const auto mode = ListeningMode::fromHelperOutput(result.output)) {
        return *mode;
    }
    qCWarning(logAirPods) << "Helper" << QString::fromStdString(command)
                          << "named no mode:" << logExcerpt(result.output);
    throw AppError::unknownMode(result.output);
}

CommandResult AirPodsController::run(const std::vector<std::string>& arguments) {
    const QString command = QString::fromStdString(arguments.front());
    if (isShutDown_) {
        throw std::runtime_error("The AirPods helper was not started: Harkwell is quitting.");
    }
    std::error_code error;
    if (!std::filesystem::exists(helperPath_, error)) {
        qCWarning(logAirPods) << "No helper at" << helperPath_.c_str() << "for" << command;
        throw AppError::helperMissing(helperPath_.string());
    }

    const HelperOutputFile outputFile;
    std::vector<std::string> helperArguments = arguments;
    helperArguments.insert(helperArguments.end(), {"--output-file", outputFile.path()});

    const auto start = SteadyClock::now();
    std::optional<HelperProcessOutcome> outcome;
    try {
        outcome = runHelperProcess(helperPath_.string(), helperArguments,
                                   {timeout_, terminationGrace_, outputLimit, stopFd_, shutDownGrace});
    } catch (const std::system_error& launchError) {
        qCWarning(logAirPods) << "Helper" << command << "did not start:" << launchError.what();
        throw;
    }
    if (!outcome) {
        // The helper is gone (terminated or killed), so nothing writes the file any more.
        outputFile.remove();
        if (isShutDown_) {
            qCInfo(logAirPods) << "Helper" << command << "ended after" << millisecondsSince(start)
                               << "ms: Harkwell is quitting";
            throw std::runtime_error("The AirPods helper was ended: Harkwell is quitting.");
        }
        qCWarning(logAirPods) << "Helper" << command << "timed out after" << millisecondsSince(start) << "ms";
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
    CommandResult result = commandResultFromHelperOutput(fileText, printedText, outcome->exitStatus);
    const qint64 elapsed = millisecondsSince(start);
    if (result.status == helperExitCode::success) {
        qCInfo(logAirPods) << "Helper" << command << "exit code" << result.status << "in" << elapsed << "ms";
    } else {
        qCWarning(logAirPods) << "Helper" << command << "exit code" << result.status << "in" << elapsed
                              << "ms:" << logExcerpt(result.output);
    }
    return result;
}

} // namespace harkwell
