#pragma once

#include "core/Clock.h"

namespace harkwell::testing {

// A clock the test sets by hand: now() is the start plus `elapsed`. `reads` counts the looks at
// it, so that a test can wait until code running on a timer has seen a new time.
class SettableClock final : public Clock {
public:
    TimePoint now() const override {
        ++reads;
        return TimePoint{} + elapsed;
    }
    Clock::duration elapsed{};
    mutable int reads = 0;
};

} // namespace harkwell::testing
