#pragma once

#include "BenchmarkRunner.h"

#include <QStringList>

#include <optional>
#include <string>

namespace harkwell::bench {

// What the command line asks for: the options as read, or why it cannot run (an unknown option, a
// missing or second manifest, a value that is not one of the option's), with the usage to show.
struct CommandLine {
    std::optional<BenchmarkOptions> options;
    bool helpRequested = false;
    std::string error; // empty when the options were read or help was asked for
    std::string usage;
};

// Reads `arguments` (the program's name first). Options apply in the order given, as do repeats:
// "--front-end speex --noise-suppression 0" ends without a front end, the reverse with Speex.
CommandLine readCommandLine(const QStringList& arguments);

} // namespace harkwell::bench
