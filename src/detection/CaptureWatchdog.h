#pragma once

#include "core/Clock.h"

#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace harkwell {

// Watches the audio of one capture session. Buffers are noted from any thread; on the thread
// that made the watchdog, a timer looks every `checkInterval`: the first time audio has come it
// calls onAudio, and once none has come for `timeout` by the clock (counted from the start or
// from the last buffer seen), it calls onStalled and stops watching. A microphone that is
// recording delivers all the time, silence included, so a pause of seconds means it is gone;
// time spent handling a buffer (the recogniser may hold capture up while it starts or catches
// up) is not such a pause.
class CaptureWatchdog {
public:
    static constexpr std::chrono::milliseconds checkInterval{250};

    CaptureWatchdog(std::shared_ptr<const Clock> clock, Clock::duration timeout, std::function<void()> onAudio,
                    std::function<void()> onStalled);
    CaptureWatchdog(const CaptureWatchdog&) = delete;
    CaptureWatchdog& operator=(const CaptureWatchdog&) = delete;

    // Around the handling of each buffer.
    void beginBuffer() {
        buffers_.fetch_add(1, std::memory_order_relaxed);
        isHandlingBuffer_.store(true, std::memory_order_relaxed);
    }
    void endBuffer() { isHandlingBuffer_.store(false, std::memory_order_relaxed); }
    // Notes that the capture has failed (the watchdog's own finding included) and stops
    // watching; true the first time only, so that one loss is told once.
    bool noteFailure();

private:
    void check();

    const std::shared_ptr<const Clock> clock_;
    const Clock::duration timeout_;
    const std::function<void()> onAudio_;
    const std::function<void()> onStalled_;
    std::atomic<std::uint64_t> buffers_{0};
    std::atomic<bool> isHandlingBuffer_{false};
    std::uint64_t seenBuffers_ = 0;
    Clock::TimePoint lastAudioAt_;
    bool hasFailed_ = false;
    QTimer timer_;
};

} // namespace harkwell
