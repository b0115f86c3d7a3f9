#pragma once

#include <cstdint>
#include <string>

namespace harkwell {

// The outcome of one helper run.
struct CommandResult {
    // The value of the helper's last "EXIT_CODE=" line, or else the process's exit status
    // (128 + the signal number for a helper killed by a signal). 0 means success.
    int32_t status = 0;
    // Everything the helper wrote, exit-code lines removed, lines joined with a line feed.
    std::string output;

    bool operator==(const CommandResult&) const = default;
};

} // namespace harkwell
