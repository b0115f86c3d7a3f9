#pragma once

#include <chrono>
#include <functional>
#include <memory>

class QTimer;

namespace harkwell {

// A repeating wake-up, for work that looks at the Clock now and then. Tests tick it by hand
// together with a clock of their own, so that no test waits for real time to pass.
class Ticker {
public:
    virtual ~Ticker() = default;
    // Calls onTick every interval from now on, replacing an earlier start.
    virtual void start(std::chrono::milliseconds interval, std::function<void()> onTick) = 0;
    // No tick comes after it returns.
    virtual void stop() = 0;
};

// Ticks through a timer of the event loop of the thread that owns it (coarse: the ticks may come
// a little late).
class TimerTicker final : public Ticker {
public:
    TimerTicker();
    ~TimerTicker() override;

    void start(std::chrono::milliseconds interval, std::function<void()> onTick) override;
    void stop() override;

private:
    std::unique_ptr<QTimer> timer_;
    std::function<void()> onTick_;
};

} // namespace harkwell
