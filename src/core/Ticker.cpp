#include "core/Ticker.h"

#include <QTimer>

namespace harkwell {

TimerTicker::TimerTicker() : timer_(std::make_unique<QTimer>()) {
    timer_->setTimerType(Qt::CoarseTimer);
    QObject::connect(timer_.get(), &QTimer::timeout, [this] {
        // A copy: the tick may stop or restart this ticker.
        if (auto onTick = onTick_) {
            onTick();
        }
    });
}

TimerTicker::~TimerTicker() = default;

void TimerTicker::start(std::chrono::milliseconds interval, std::function<void()> onTick) {
    onTick_ = std::move(onTick);
    timer_->start(interval);
}

void TimerTicker::stop() {
    timer_->stop();
    onTick_ = nullptr;
}

} // namespace harkwell
