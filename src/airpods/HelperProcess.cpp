#include "airpods/HelperProcess.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace harkwell {

namespace {

using Clock = std::chrono::steady_clock;

// Without a pidfd: how often the process's state is looked at while it writes nothing.
constexpr std::chrono::milliseconds pollInterval{50};

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = -1;
    }

private:
    int fd_;
};

[[noreturn]] void throwLaunchError(int error, const std::string& path) {
    throw std::system_error(error, std::generic_category(), "Cannot start the AirPods helper " + path);
}

// Reads what is available without blocking; keeps at most `limit` bytes and drops the rest so
// that the writer never stalls. Returns false at the end of the stream.
bool drain(int fd, std::string& output, size_t limit) {
    std::array<char, 65536> buffer; // filled by read()
    while (true) {
        const ssize_t count = ::read(fd, buffer.data(), buffer.size());
        if (count > 0) {
            const size_t room = limit - std::min(limit, output.size());
            output.append(buffer.data(), std::min(room, static_cast<size_t>(count)));
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        return count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

int32_t statusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) {
        return WEXITSTATUS(waitStatus);
    }
    if (WIFSIGNALED(waitStatus)) {
        return 128 + WTERMSIG(waitStatus);
    }
    return 1;
}

// Whether the process has ended; collects its status when it has.
bool hasEnded(pid_t pid, int& waitStatus) {
    while (true) {
        const pid_t result = ::waitpid(pid, &waitStatus, WNOHANG);
        if (result == pid) {
            return true;
        }
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result < 0) {
            // Someone else collected it (SIGCHLD ignored, or a handler that reaps every child), or
            // it cannot be waited for: its status is unknown, which counts as a failure unless it
            // wrote an exit code. Waiting on would only wait for the time-out.
            waitStatus = W_EXITCODE(1, 0);
            return true;
        }
        return false;
    }
}

enum class Wait { ended, deadline, stopped };

// Waits for the end of the process while reading its output, until `deadline` or until `stopFd`
// (-1: none) turns readable. `exitFd` (a pidfd, or -1 where the system has none) wakes the wait as
// soon as the process ends; without it the process is looked at every poll interval.
Wait waitUntil(pid_t pid, int exitFd, int stopFd, int outputFd, std::string& output, size_t limit,
               Clock::time_point deadline, int& waitStatus) {
    bool outputOpen = outputFd >= 0;
    while (true) {
        if (outputOpen) {
            outputOpen = drain(outputFd, output, limit);
        }
        if (hasEnded(pid, waitStatus)) {
            if (outputOpen) {
                drain(outputFd, output, limit);
            }
            return Wait::ended;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            return Wait::deadline;
        }
        const auto wait = exitFd >= 0 ? deadline - now : std::min<Clock::duration>(deadline - now, pollInterval);
        const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
        std::array<pollfd, 3> entries{pollfd{exitFd, POLLIN, 0}, pollfd{outputOpen ? outputFd : -1, POLLIN, 0},
                                      pollfd{stopFd, POLLIN, 0}};
        ::poll(entries.data(), entries.size(), static_cast<int>(std::min<int64_t>(waitMs, INT32_MAX)));
        if ((entries[2].revents & POLLIN) != 0) {
            // A process that has just ended keeps its outcome.
            if (hasEnded(pid, waitStatus)) {
                if (outputOpen) {
                    drain(outputFd, output, limit);
                }
                return Wait::ended;
            }
            return Wait::stopped;
        }
    }
}

class SpawnSettings {
public:
    SpawnSettings(int outputWriteFd) {
        ::posix_spawn_file_actions_init(&actions_);
        ::posix_spawnattr_init(&attributes_);
        ::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        ::posix_spawn_file_actions_adddup2(&actions_, outputWriteFd, STDOUT_FILENO);
        ::posix_spawn_file_actions_adddup2(&actions_, outputWriteFd, STDERR_FILENO);
        // Its own process group, so that a time-out ends the helper together with its children;
        // default signal handling and an empty mask whatever the calling thread has.
        sigset_t none;
        sigemptyset(&none);
        sigset_t all;
        sigfillset(&all);
        ::posix_spawnattr_setsigmask(&attributes_, &none);
        ::posix_spawnattr_setsigdefault(&attributes_, &all);
        ::posix_spawnattr_setpgroup(&attributes_, 0);
        ::posix_spawnattr_setflags(&attributes_,
                                   POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    }
    ~SpawnSettings() {
        ::posix_spawnattr_destroy(&attributes_);
        ::posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attributes() const { return &attributes_; }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

} // namespace

std::optional<HelperProcessOutcome> runHelperProcess(const std::string& path, const std::vector<std::string>& arguments,
                                                     const HelperProcessLimits& limits) {
    std::array<int, 2> pipeFds{};
    if (::pipe2(pipeFds.data(), O_CLOEXEC) != 0) {
        throwLaunchError(errno, path);
    }
    FileDescriptor readEnd(pipeFds[0]);
    FileDescriptor writeEnd(pipeFds[1]);
    ::fcntl(readEnd.get(), F_SETFL, ::fcntl(readEnd.get(), F_GETFL) | O_NONBLOCK);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    pid_t pid = 0;
    {
        const SpawnSettings settings(writeEnd.get());
        const int error =
            ::posix_spawn(&pid, path.c_str(), settings.actions(), settings.attributes(), argv.data(), environ);
        if (error != 0) {
            throwLaunchError(error, path);
        }
    }
    writeEnd.reset();

    const FileDescriptor exitFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    HelperProcessOutcome outcome;
    int waitStatus = 0;
    const Wait waited = waitUntil(pid, exitFd.get(), limits.stopFd, readEnd.get(), outcome.output, limits.outputLimit,
                                  Clock::now() + limits.timeout, waitStatus);
    if (waited == Wait::ended) {
        outcome.exitStatus = statusOf(waitStatus);
        return outcome;
    }

    ::kill(-pid, SIGTERM);
    const auto grace = waited == Wait::stopped ? limits.stopGrace : limits.terminationGrace;
    if (waitUntil(pid, exitFd.get(), -1, readEnd.get(), outcome.output, limits.outputLimit, Clock::now() + grace,
                  waitStatus) != Wait::ended) {
        ::kill(-pid, SIGKILL);
        while (::waitpid(pid, &waitStatus, 0) < 0 && errno == EINTR) {
        }
    }
    return std::nullopt;
}

} // namespace harkwell
