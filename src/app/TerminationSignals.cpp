#include "app/TerminationSignals.h"

#include "core/Log.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace harkwell {

namespace {

constexpr std::array<int, 3> handledSignals{SIGTERM, SIGINT, SIGHUP};

// The pipe's write end, for the handler.
volatile std::sig_atomic_t writeEnd = -1;

void onSignal(int signalNumber) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const auto written = ::write(writeEnd, &byte, 1);
    errno = savedErrno;
}

void handleWith(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : handledSignals) {
        ::sigaction(signalNumber, &action, nullptr);
    }
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    std::array<int, 2> ends{};
    if (::pipe2(ends.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        qCWarning(logApp) << "Termination signals keep their default handling: no pipe:" << errno;
        return;
    }
    readEnd_ = ends[0];
    writeEnd = ends[1];
    notifier_ = std::make_unique<QSocketNotifier>(readEnd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::readPipe);
    handleWith(onSignal);
}

TerminationSignals::~TerminationSignals() {
    if (readEnd_ < 0) {
        return;
    }
    handleWith(SIG_DFL);
    notifier_.reset();
    ::close(writeEnd);
    writeEnd = -1;
    ::close(readEnd_);
}

void TerminationSignals::readPipe() {
    unsigned char byte = 0;
    while (::read(readEnd_, &byte, 1) == 1) {
        qCInfo(logApp) << "Signal" << byte << "received: quitting";
        emit received(byte);
    }
}

} // namespace harkwell
