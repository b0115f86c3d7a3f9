#include "XvfbServer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace harkwell::testing {
namespace {

constexpr int readyTimeoutMs = 30000;

std::string readAll(int fd) {
    std::string text;
    char buffer[512];
    ssize_t count = 0;
    lseek(fd, 0, SEEK_SET);
    while ((count = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(count));
    }
    return text;
}

} // namespace

XvfbServer::XvfbServer(const std::string& screen) {
    int ready[2];
    if (pipe(ready) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return;
    }
    // Xvfb's own messages go to a file that is shown when it fails.
    char logPath[] = "/tmp/harkwell-xvfb-XXXXXX";
    const int log = mkstemp(logPath);
    if (log >= 0) {
        unlink(logPath);
    }
    pid_ = fork();
    if (pid_ == 0) {
        close(ready[0]);
        if (log >= 0) {
            dup2(log, STDERR_FILENO);
        }
        const std::string fd = std::to_string(ready[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0", screen.c_str(),
               static_cast<char*>(nullptr));
        std::fprintf(stderr, "cannot run Xvfb: %s\n", std::strerror(errno));
        _exit(127);
    }
    close(ready[1]);
    if (pid_ < 0) {
        error_ = std::string("fork: ") + std::strerror(errno);
        close(ready[0]);
        return;
    }

    // Xvfb writes its display number and a line break once it accepts connections.
    std::string number;
    pollfd waiting{ready[0], POLLIN, 0};
    while (number.empty() || number.back() != '\n') {
        if (poll(&waiting, 1, readyTimeoutMs) <= 0) {
            error_ = "Xvfb did not become ready within 30 s";
            break;
        }
        char c = 0;
        if (read(ready[0], &c, 1) != 1) {
            error_ = "Xvfb exited before it was ready";
            break;
        }
        number += c;
    }
    close(ready[0]);
    if (error_.empty()) {
        number.pop_back();
        display_.append(":").append(number);
    } else if (log >= 0) {
        error_.append(": ").append(readAll(log));
    }
    if (log >= 0) {
        close(log);
    }
}

XvfbServer::~XvfbServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

} // namespace harkwell::testing
