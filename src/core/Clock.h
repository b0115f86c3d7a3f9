#pragma once

#include <chrono>

namespace harkwell {

// A monotonic clock: elapsed times stay right when the wall clock is set back or forward.
class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using duration = std::chrono::steady_clock::duration;

    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
};

class SteadyClock final : public Clock {
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
};

} // namespace harkwell
