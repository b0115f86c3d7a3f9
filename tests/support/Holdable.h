#pragma once

// Fakes whose calls the test can hold, as a slow platform service would.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace harkwell::testing {

// Calls of a fake that the test can hold: after hold(), a call that waits (waitUntilReleased)
// goes on only after release().
class Holdable {
public:
    void hold() {
        std::lock_guard lock(mutex_);
        held_ = true;
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            held_ = false;
        }
        released_.notify_all();
    }

protected:
    // Waits with the fake's lock held; false when `most` passed first.
    bool waitUntilReleased(std::unique_lock<std::mutex>& lock,
                           std::chrono::seconds most = std::chrono::seconds::max()) {
        if (most == std::chrono::seconds::max()) {
            released_.wait(lock, [this] { return !held_; });
            return true;
        }
        return released_.wait_for(lock, most, [this] { return !held_; });
    }

    mutable std::mutex mutex_;

private:
    std::condition_variable released_;
    bool held_ = false;
};

// Where a fake's calls pass, waiting while the test holds them; a call held for 10 s gives up
// (hasGivenUp), so that a test whose code waits for one on the test's own thread fails instead of
// hanging.
class HoldPoint : public Holdable {
public:
    void pass() {
        std::unique_lock lock(mutex_);
        ++passes_;
        passed_.notify_all();
        if (!waitUntilReleased(lock, std::chrono::seconds(10))) {
            hasGivenUp_ = true;
        }
    }
    // The calls begun so far.
    int passes() const {
        std::lock_guard lock(mutex_);
        return passes_;
    }
    // Waits, 10 s at most, until `count` calls have begun.
    bool waitForPasses(int count) {
        std::unique_lock lock(mutex_);
        return passed_.wait_for(lock, std::chrono::seconds(10), [&] { return passes_ >= count; });
    }
    bool hasGivenUp() const {
        std::lock_guard lock(mutex_);
        return hasGivenUp_;
    }

private:
    std::condition_variable passed_;
    int passes_ = 0;
    bool hasGivenUp_ = false;
};

} // namespace harkwell::testing
