#pragma once

#include <functional>
#include <memory>
#include <string>

class QObject;
class QThread;

namespace harkwell {

// A named thread with an event loop that runs submitted work one item at a time, in order.
// Objects made by work on it (timers, audio sources) live on it and deliver their events there.
class SerialQueue {
public:
    explicit SerialQueue(const std::string& label);
    // Runs what is still queued, then ends the thread.
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void async(std::function<void()> work);
    // Returns when the work has run. Must not be called from the queue itself.
    void sync(const std::function<void()>& work);
    bool isCurrent() const;

private:
    std::unique_ptr<QThread> thread_;
    std::unique_ptr<QObject> context_; // lives on the thread; the target of submitted work
};

} // namespace harkwell
