#include "app/AnimationClock.h"

namespace harkwell {

SystemAnimationClock::SystemAnimationClock() {
    elapsed_.start();
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        if (auto onFrame = std::move(onFrame_)) {
            onFrame_ = nullptr;
            onFrame();
        }
    });
}

void SystemAnimationClock::callAfter(int delayMs, std::function<void()> onFrame) {
    onFrame_ = std::move(onFrame);
    timer_.start(delayMs);
}

void SystemAnimationClock::cancel() {
    timer_.stop();
    onFrame_ = nullptr;
}

} // namespace harkwell
