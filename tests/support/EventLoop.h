#pragma once

// Waiting in tests for what the event loop, other threads or other processes bring about.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <chrono>
#include <functional>

namespace harkwell::testing {

// Runs the event loop until the condition holds; false when it has not within the time-out.
// pollInterval spaces the checks, for conditions that other processes make true.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10),
                       std::chrono::milliseconds pollInterval = std::chrono::milliseconds(0)) {
    QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (pollInterval.count() > 0) {
            QThread::msleep(static_cast<unsigned long>(pollInterval.count()));
        }
    }
    return true;
}

// Lets every outcome that is already on its way arrive.
inline void settle() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
    }
}

} // namespace harkwell::testing
