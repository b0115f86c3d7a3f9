#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <functional>

namespace harkwell {

// The time that the call panel's animation runs on, and the wake-ups it asks for. Tests move a
// clock of their own by hand, so that no test waits out the panel's seconds.
class AnimationClock {
public:
    virtual ~AnimationClock() = default;
    // Monotonic milliseconds.
    virtual qint64 now() const = 0;
    // Calls onFrame once, delayMs from now, replacing a call still pending.
    virtual void callAfter(int delayMs, std::function<void()> onFrame) = 0;
    // Drops the pending call, if any.
    virtual void cancel() = 0;
};

// The steady clock and a precise single-shot timer of the main event loop.
class SystemAnimationClock final : public AnimationClock {
public:
    SystemAnimationClock();

    qint64 now() const override { return elapsed_.elapsed(); }
    void callAfter(int delayMs, std::function<void()> onFrame) override;
    void cancel() override;

private:
    QElapsedTimer elapsed_;
    QTimer timer_;
    std::function<void()> onFrame_;
};

} // namespace harkwell
