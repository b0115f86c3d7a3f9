#pragma once

// A program a test starts: a server of its own for the length of a case, or a tool run to its end.

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace harkwell::testing {

// Started with fork and exec rather than QProcess: Qt 6.4 starts children with
// clone(CLONE_VM | CLONE_VFORK), and ThreadSanitizer's handling of a clone, made for a child
// with memory of its own, runs in the parent's memory there and leaves the starting thread's
// synchronisation unseen for good, so that the sanitizer then reports races that are not there.
// The program's output and error messages go to a log the test can read. It may also write a
// line to reportDescriptor(), as Xvfb's -displayfd and dbus-daemon's --print-address do.
class ChildProcess {
public:
    ChildProcess();
    // Terminates the program if it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The number of a descriptor the program inherits for its report line.
    int reportDescriptor() const { return report_[1]; }

    // Starts the program (looked up on PATH) with the arguments. Each environment change is
    // "NAME=value" to set NAME or "NAME" to remove it. False, with error() saying why, when it
    // could not be started.
    bool start(const std::string& program, const std::vector<std::string>& arguments,
               const std::vector<std::string>& environmentChanges = {});
    // The first line the program writes to reportDescriptor(), without its line break; empty,
    // with error() saying why, when none comes within the time.
    std::string readReportLine(std::chrono::milliseconds timeout);
    // Whether the log holds the text within the time; false at once when the program ends.
    bool waitForLog(const std::string& text, std::chrono::milliseconds timeout);
    // What the program has written to its output and error output.
    std::string log() const;
    const std::string& error() const { return error_; }
    // Whether the program was started and has not ended yet.
    bool isRunning() { return !hasEnded(); }

    // SIGTERM, then SIGKILL if it still runs after 5 s; returns once it has ended.
    void terminate();
    // SIGKILL, as when it crashes; returns once it has ended.
    void kill();

    // Runs the program to its end with the test's output; its exit code, or -1 when it could not
    // be run or was ended by a signal.
    static int run(const std::string& program, const std::vector<std::string>& arguments);

private:
    // Whether the program has ended, without waiting for it.
    bool hasEnded();
    void end(int signal, std::chrono::milliseconds grace);

    pid_t pid_ = -1;
    int log_ = -1;
    int report_[2] = {-1, -1};
    std::string error_;
};

} // namespace harkwell::testing
