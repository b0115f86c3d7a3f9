#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <vector>

namespace harkwell {

// Audio between the capture thread and the decoder: bounded, so a slow decoder holds the
// capture back for a moment instead of letting memory grow.
class AudioQueue {
public:
    explicit AudioQueue(std::size_t capacity) : capacity_(capacity) {}

    void push(std::span<const std::int16_t> samples) {
        std::unique_lock lock(mutex_);
        while (!samples.empty()) {
            changed_.wait(lock, [&] { return closed_ || samples_.size() < capacity_; });
            if (closed_) {
                return;
            }
            const auto count = std::min(samples.size(), capacity_ - samples_.size());
            samples_.insert(samples_.end(), samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(count));
            samples = samples.subspan(count);
            changed_.notify_all();
        }
    }

    // Waits for `count` samples (fewer only at the end of the audio), so that the decoder takes
    // the same steps however the audio arrives; empty once the audio has ended and everything
    // was taken, or on cancel.
    std::vector<std::int16_t> pop(std::size_t wanted) {
        const auto most = std::min(wanted, capacity_);
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return closed_ || ended_ || samples_.size() >= most; });
        if (closed_) {
            return {};
        }
        const auto count = std::min(most, samples_.size());
        std::vector<std::int16_t> taken(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(count));
        samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(count));
        changed_.notify_all();
        return taken;
    }

    void end() {
        const std::lock_guard lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    }

    // Drops what is waiting and releases every waiter for good.
    void close() {
        const std::lock_guard lock(mutex_);
        closed_ = true;
        samples_.clear();
        changed_.notify_all();
    }

    bool isClosed() const {
        const std::lock_guard lock(mutex_);
        return closed_;
    }

private:
    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::int16_t> samples_;
    bool ended_ = false;
    bool closed_ = false;
};

} // namespace harkwell
