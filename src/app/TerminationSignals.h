#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace harkwell {

// SIGTERM, SIGINT and SIGHUP (a logout, `kill`, Ctrl+C in a terminal) end Harkwell as its Quit
// button does, instead of killing it on the spot: their handler only writes the signal's number to
// a pipe, which is all a handler may safely do, and the main thread reads it there and emits
// received. A signal that comes before the event loop runs waits in the pipe.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    // Takes over the three signals; one object at a time per process.
    explicit TerminationSignals(QObject* parent = nullptr);
    // Gives the signals their default handling back.
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

signals:
    void received(int signalNumber);

private:
    void readPipe();

    int readEnd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace harkwell
