#pragma once

// An animation clock moved by hand: pending wake-ups run as their time comes.

#include "app/AnimationClock.h"

#include <functional>
#include <utility>

namespace harkwell::testing {

class ManualAnimationClock final : public AnimationClock {
public:
    qint64 now() const override { return now_; }
    void callAfter(int delayMs, std::function<void()> onFrame) override {
        dueAt_ = now_ + delayMs;
        onFrame_ = std::move(onFrame);
    }
    void cancel() override { onFrame_ = nullptr; }

    void advanceBy(qint64 milliseconds) {
        const qint64 target = now_ + milliseconds;
        while (onFrame_ && dueAt_ <= target) {
            now_ = dueAt_;
            std::exchange(onFrame_, nullptr)();
        }
        now_ = target;
    }

private:
    qint64 now_ = 1000;
    qint64 dueAt_ = 0;
    std::function<void()> onFrame_;
};

} // namespace harkwell::testing
