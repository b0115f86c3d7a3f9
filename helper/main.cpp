// ModeRelay: reads or sets the listening mode of the connected AirPods for Harkwell.
//
//   ModeRelay current-mode|request-permission|normal|anc|transparency --output-file <path>
//
// Writes its result to the output file (free text, the mode word for the reading commands,
// then "EXIT_CODE=n") and exits with n: 0 success, 2 no connected AirPods, 1 any other
// failure, 64 a usage error. HARKWELL_AIRPODS_SIMULATOR=<file> uses simulated AirPods.
#include "BluetoothAirPods.h"
#include "RelayCommand.h"
#include "RelayFailure.h"
#include "SimulatedAirPods.h"

#include <QCoreApplication>
#include <QDBusConnection>

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace harkwell;
using namespace harkwell::relay;

// Every command ends within 20 seconds: the waits are bounded, and this alarm ends whatever
// is left shortly before.
constexpr unsigned watchdogSeconds = 19;
constexpr auto connectBudget = std::chrono::seconds(10);

std::array<char, 4096> watchdogPath{};
constexpr char watchdogText[] = "AirPods control gave up: the AirPods did not answer in time.\nEXIT_CODE=1\n";

void onWatchdog(int) {
    const int fd = ::open(watchdogPath.data(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(fd, watchdogText, sizeof watchdogText - 1);
        ::close(fd);
    }
    ::_exit(helperExitCode::failure);
}

void startWatchdog(const std::string& outputFile) {
    if (outputFile.size() >= watchdogPath.size()) {
        return;
    }
    std::memcpy(watchdogPath.data(), outputFile.c_str(), outputFile.size() + 1);
    std::signal(SIGALRM, onWatchdog);
    ::alarm(watchdogSeconds);
}

// Writes all of `text` to `fd`: 0, or the errno of the failure.
int writeAll(int fd, const std::string& text) {
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(fd, text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return count < 0 ? errno : EIO;
        }
        written += static_cast<size_t>(count);
    }
    return 0;
}

// Writes `text` to the file at `path`: 0, or the errno of the failure. A file that could not be
// written whole is emptied and removed, so that no part of the text is read from it.
int writeOutputFile(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return errno;
    }
    int error = writeAll(fd, text);
    if (error != 0 && ::ftruncate(fd, 0) != 0) {
        // Removed below all the same.
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(path.c_str());
    }
    return error;
}

// Writes the result where it was asked for; when that fails, prints it, so that whoever started
// the helper reads it once, from its output.
void deliver(const std::string& outputFile, const std::string& text) {
    ::alarm(0);
    if (!outputFile.empty()) {
        const int error = writeOutputFile(outputFile, text);
        if (error == 0) {
            return;
        }
        std::fprintf(stderr, "AirPods control cannot write %s: %s\n", outputFile.c_str(), std::strerror(error));
    }
    std::fputs(text.c_str(), stdout);
}

} // namespace

int main(int argc, char** argv) {
    const auto start = std::chrono::steady_clock::now();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const ParsedCommandLine commandLine = parseCommandLine(arguments);
    if (!commandLine.invocation) {
        if (commandLine.outputFile.empty()) {
            std::fprintf(stderr, "%s\n", usageLine);
        } else {
            deliver(commandLine.outputFile, outputFileText({helperExitCode::usage, {usageLine}}));
        }
        return helperExitCode::usage;
    }
    startWatchdog(commandLine.outputFile);

    const QCoreApplication application(argc, argv);
    std::unique_ptr<AirPodsLink> link;
    const char* simulator = std::getenv("HARKWELL_AIRPODS_SIMULATOR");
    if (simulator != nullptr && simulator[0] != '\0') {
        link = std::make_unique<SimulatedAirPods>(simulator);
    } else {
        link = std::make_unique<BluetoothAirPods>(QDBusConnection::systemBus(), start + connectBudget);
    }
    const RelayResult result = runRelayCommand(*commandLine.invocation, *link);
    deliver(commandLine.outputFile, outputFileText(result));
    return result.exitCode;
}
