#pragma once

#include "airpods/ListeningMode.h"

#include <optional>
#include <string>
#include <vector>

namespace harkwell::relay {

class AirPodsLink;

inline const char* const usageLine =
    "Usage: ModeRelay current-mode|request-permission|normal|anc|transparency --output-file <path>";

struct RelayInvocation {
    enum class Command { currentMode, requestPermission, setMode };
    Command command = Command::currentMode;
    std::optional<ListeningMode> mode; // for setMode
    std::string outputFile;
};

struct ParsedCommandLine {
    std::optional<RelayInvocation> invocation; // none: a usage error
    std::string outputFile;                    // the output file, when one was named
};

// `arguments` without the program name: the command, "--output-file" and the path, the option
// before or after the command.
ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments);

struct RelayResult {
    int exitCode = 0;
    std::vector<std::string> lines;
};

RelayResult runRelayCommand(const RelayInvocation& invocation, AirPodsLink& link);

// What goes into the output file: the lines, then "EXIT_CODE=n".
std::string outputFileText(const RelayResult& result);

} // namespace harkwell::relay
