#include "detection/CaptureWatchdog.h"

#include "core/Log.h"

#include <utility>

namespace harkwell {

CaptureWatchdog::CaptureWatchdog(std::shared_ptr<const Clock> clock, Clock::duration timeout,
                                 std::function<void()> onAudio, std::function<void()> onStalled)
    : clock_(std::move(clock)), timeout_(timeout), onAudio_(std::move(onAudio)), onStalled_(std::move(onStalled)),
      lastAudioAt_(clock_->now()) {
    timer_.setInterval(checkInterval);
    QObject::connect(&timer_, &QTimer::timeout, [this] { check(); });
    timer_.start();
}

bool CaptureWatchdog::noteFailure() {
    timer_.stop();
    return !std::exchange(hasFailed_, true);
}

void CaptureWatchdog::check() {
    const auto now = clock_->now();
    const auto buffers = buffers_.load(std::memory_order_relaxed);
    if (buffers != seenBuffers_) {
        const bool isFirst = seenBuffers_ == 0;
        seenBuffers_ = buffers;
        lastAudioAt_ = now;
        if (isFirst) {
            onAudio_(); // last: it may end the watchdog
        }
        return;
    }
    if (isHandlingBuffer_.load(std::memory_order_relaxed)) {
        lastAudioAt_ = now;
        return;
    }
    if (now - lastAudioAt_ >= timeout_) {
        qCInfo(logAudio) << "No audio for"
                         << std::chrono::duration_cast<std::chrono::milliseconds>(now - lastAudioAt_).count() << "ms";
        timer_.stop();
        onStalled_(); // last: it may end the watchdog
    }
}

} // namespace harkwell
