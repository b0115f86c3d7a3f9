#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace harkwell {

struct HelperProcessOutcome {
    // The exit status, or 128 + the signal number when a signal ended the process.
    int32_t exitStatus = 0;
    // Standard output and standard error as one stream, cut after `outputLimit` bytes.
    std::string output;
};

struct HelperProcessLimits {
    std::chrono::milliseconds timeout;
    // How long a process asked to terminate may take before it is killed.
    std::chrono::milliseconds terminationGrace;
    size_t outputLimit;
    // A descriptor that turns readable when the run must end now (-1: none); the process is then
    // ended as at the time-out, with `stopGrace` as its grace.
    int stopFd = -1;
    std::chrono::milliseconds stopGrace{0};
};

// Runs the executable at `path` with `arguments` (no shell), standard input from /dev/null,
// and waits for it without an event loop. When it outlives the time-out, or the stop descriptor
// turns readable, its process group is asked to terminate, killed after the grace period, and the
// result is none. Throws std::system_error when the process cannot be started.
std::optional<HelperProcessOutcome> runHelperProcess(const std::string& path, const std::vector<std::string>& arguments,
                                                     const HelperProcessLimits& limits);

} // namespace harkwell
