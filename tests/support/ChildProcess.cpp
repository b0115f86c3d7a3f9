#include "ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace harkwell::testing {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string nameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

// The test's environment with the changes made.
std::vector<std::string> environmentWith(const std::vector<std::string>& changes) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry; ++entry) {
        const std::string current(*entry);
        if (std::ranges::none_of(changes,
                                 [&](const std::string& change) { return nameOf(change) == nameOf(current); })) {
            result.push_back(current);
        }
    }
    std::ranges::copy_if(changes, std::back_inserter(result),
                         [](const std::string& change) { return change.find('=') != std::string::npos; });
    return result;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Forks and runs the program; output < 0 leaves the output and error output the test's. Only
// what is safe between fork and exec happens in the child.
pid_t spawn(const std::string& program, const std::vector<std::string>& arguments,
            const std::vector<std::string>& environmentChanges, int output, int inherited) {
    std::vector<std::string> argumentTexts{program};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    auto environmentTexts = environmentWith(environmentChanges);
    const auto argv = pointersTo(argumentTexts);
    const auto envp = pointersTo(environmentTexts);
    const std::string failure = "cannot run " + program + "\n";
    const pid_t pid = fork();
    if (pid == 0) {
        if (output >= 0) {
            dup2(output, STDOUT_FILENO);
            dup2(output, STDERR_FILENO);
        }
        if (inherited >= 0) {
            fcntl(inherited, F_SETFD, 0);
        }
        execvpe(program.c_str(), argv.data(), envp.data());
        [[maybe_unused]] const auto written = write(STDERR_FILENO, failure.data(), failure.size());
        _exit(127);
    }
    return pid;
}

void closeDescriptor(int& descriptor) {
    if (descriptor >= 0) {
        close(descriptor);
        descriptor = -1;
    }
}

} // namespace

ChildProcess::ChildProcess() {
    char logPath[] = "/tmp/harkwell-child-XXXXXX";
    log_ = mkostemp(logPath, O_CLOEXEC);
    if (log_ >= 0) {
        unlink(logPath);
    }
    if (pipe2(report_, O_CLOEXEC) != 0) {
        report_[0] = report_[1] = -1;
    }
}

ChildProcess::~ChildProcess() {
    terminate();
    closeDescriptor(log_);
    closeDescriptor(report_[0]);
    closeDescriptor(report_[1]);
}

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environmentChanges) {
    if (log_ < 0 || report_[0] < 0) {
        error_ = "cannot make the log file or the report pipe: " + std::string(std::strerror(errno));
        return false;
    }
    pid_ = spawn(program, arguments, environmentChanges, log_, report_[1]);
    // The program holds the only writing end now: reading ends when it does.
    closeDescriptor(report_[1]);
    if (pid_ < 0) {
        error_ = "fork: " + std::string(std::strerror(errno));
        return false;
    }
    return true;
}

std::string ChildProcess::readReportLine(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::string line;
    pollfd waiting{report_[0], POLLIN, 0};
    for (char c = 0; c != '\n';) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms || poll(&waiting, 1, static_cast<int>(left.count())) <= 0) {
            error_ = "no report within " + std::to_string(timeout.count()) + " ms";
            return {};
        }
        if (read(report_[0], &c, 1) != 1) {
            error_ = "ended before its report";
            return {};
        }
        line += c;
    }
    line.pop_back();
    return line;
}

bool ChildProcess::waitForLog(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (log().find(text) == std::string::npos) {
        if (hasEnded() || Clock::now() >= deadline) {
            return log().find(text) != std::string::npos;
        }
        poll(nullptr, 0, 10);
    }
    return true;
}

std::string ChildProcess::log() const {
    std::string text;
    char buffer[4096];
    ssize_t count = 0;
    while (log_ >= 0 && (count = pread(log_, buffer, sizeof buffer, static_cast<off_t>(text.size()))) > 0) {
        text.append(buffer, static_cast<std::size_t>(count));
    }
    return text;
}

void ChildProcess::terminate() { end(SIGTERM, 5s); }

void ChildProcess::kill() { end(SIGKILL, 5s); }

int ChildProcess::run(const std::string& program, const std::vector<std::string>& arguments) {
    const pid_t pid = spawn(program, arguments, {}, -1, -1);
    int status = 0;
    while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ChildProcess::hasEnded() {
    if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
    }
    return pid_ <= 0;
}

void ChildProcess::end(int signal, std::chrono::milliseconds grace) {
    if (hasEnded()) {
        return;
    }
    ::kill(pid_, signal);
    const auto deadline = Clock::now() + grace;
    while (!hasEnded()) {
        if (Clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
            return;
        }
        poll(nullptr, 0, 10);
    }
}

} // namespace harkwell::testing
