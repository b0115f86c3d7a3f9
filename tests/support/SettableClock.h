#pragma once

#include "core/Clock.h"

#include <atomic>

namespace harkwell::testing {

// A clock the test sets by hand: now() is the start plus `elapsed`. `reads` counts the looks at
// it, so that a test can wait until code running on a timer has seen a new time. The test sets it
// on its thread while other threads look.
class SettableClock final : public Clock {
public:
    // Assigned and added to like a duration.
    class Elapsed {
    public:
        Elapsed& operator=(duration value) {
            ticks_.store(value.count());
            return *this;
        }
        Elapsed& operator+=(duration more) {
            ticks_.fetch_add(more.count());
            return *this;
        }
        duration value() const { return duration(ticks_.load()); }

    private:
        std::atomic<duration::rep> ticks_{0};
    };

    TimePoint now() const override {
        ++reads;
        return TimePoint{} + elapsed.value();
    }
    Elapsed elapsed;
    mutable std::atomic<int> reads = 0;
};

} // namespace harkwell::testing
