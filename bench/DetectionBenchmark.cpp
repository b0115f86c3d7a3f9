// How well Harkwell hears: runs every clip of a manifest through the real detector (recogniser,
// gating and matching; only the microphone is replaced by the clip) and reports recall, false
// alarms per hour, latency, CPU and memory per condition. See docs/benchmark.md, "The detection benchmark",
// and `detection_benchmark --help` for the options. An unknown option or a value an option does not
// take, or a manifest that is not there to read, prints the usage on stderr and exits with 64
// (EX_USAGE); a run that fails exits with 2.
#include "BenchmarkCommandLine.h"
#include "BenchmarkReport.h"
#include "BenchmarkRunner.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <exception>
#include <string>

namespace {

constexpr int usageExitCode = 64;
constexpr int failureExitCode = 2;

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const auto commandLine = harkwell::bench::readCommandLine(QCoreApplication::arguments());
    if (commandLine.helpRequested) {
        std::fputs(commandLine.usage.c_str(), stdout);
        return 0;
    }
    std::string usageError = commandLine.error;
    if (commandLine.options) {
        const QFileInfo manifest(QString::fromStdString(commandLine.options->manifest));
        if (!manifest.isFile() || !manifest.isReadable()) {
            usageError = commandLine.options->manifest + ": cannot be read";
        }
    }
    if (!usageError.empty()) {
        std::fprintf(stderr, "detection_benchmark: %s\n\n%s", usageError.c_str(), commandLine.usage.c_str());
        return usageExitCode;
    }
    try {
        const auto& options = *commandLine.options;
        harkwell::bench::writeReport(harkwell::bench::runBenchmark(options), options.reportPath);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "detection_benchmark: %s\n", error.what());
        return failureExitCode;
    }
}
