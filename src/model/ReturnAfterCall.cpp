#include "model/ReturnAfterCall.h"

#include "core/Log.h"

#include <algorithm>
#include <cstdlib>

namespace harkwell {

namespace {

// How often a pending return looks at the clock.
constexpr std::chrono::milliseconds tickInterval{250};

} // namespace

int ReturnAfterCall::waitChoiceFor(std::uint32_t seconds) {
    if (seconds == 0) {
        return 0;
    }
    int nearest = waitChoices.back();
    for (const int choice : waitChoices) {
        const auto distance = [seconds](int to) { return std::abs(std::int64_t(seconds) - to); };
        if (choice > 0 &&
            (distance(choice) < distance(nearest) || (distance(choice) == distance(nearest) && choice > nearest))) {
            nearest = choice;
        }
    }
    return nearest;
}

ReturnAfterCall::ReturnAfterCall(std::shared_ptr<const Clock> clock, std::unique_ptr<Ticker> ticker, QObject* parent)
    : QObject(parent), clock_(std::move(clock)), ticker_(std::move(ticker)) {}

ReturnAfterCall::~ReturnAfterCall() { ticker_->stop(); }

void ReturnAfterCall::setWaitSeconds(int seconds) {
    waitSeconds_ = waitChoiceFor(static_cast<std::uint32_t>(std::max(seconds, 0)));
    emit waitSecondsChanged();
    if (waitSeconds_ == 0) {
        cancel();
    } else {
        review();
    }
}

std::optional<ListeningMode> ReturnAfterCall::pendingMode() const {
    return pending_ ? std::optional(pending_->modeBefore) : std::nullopt;
}

void ReturnAfterCall::callSwitched(ListeningMode modeBefore, bool afterCall) {
    if (afterCall) {
        assignTransparencyAfterCall(true);
    }
    if (waitSeconds_ == 0 || modeBefore == ListeningMode::transparency) {
        cancel();
        return;
    }
    qCDebug(logModel) << "back to" << logged(modeBefore.rawValue()) << "after" << waitSeconds_ << "s of quiet";
    pending_ = Pending{modeBefore, clock_->now()};
    updateTicker();
    review();
}

void ReturnAfterCall::hearNearSpeech() {
    if (pending_) {
        pending_->quietSince = clock_->now();
        review();
    }
}

void ReturnAfterCall::review() {
    if (!pending_) {
        return;
    }
    const auto left = pending_->quietSince + std::chrono::seconds(waitSeconds_) - clock_->now();
    if (left <= Clock::duration::zero() && !(isAirPodsBusy && isAirPodsBusy())) {
        const ListeningMode modeBefore = pending_->modeBefore;
        cancel();
        qCInfo(logModel) << "quiet after the call: AirPods back to" << logged(modeBefore.rawValue());
        if (onDue) {
            onDue(modeBefore);
        }
        return;
    }
    // Whole seconds, rounded up: "1 s" until the moment itself.
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(std::max(left, Clock::duration::zero()));
    if (shownSecondsLeft_ != int(seconds.count())) {
        assignSecondsLeft(int(seconds.count()));
    }
}

void ReturnAfterCall::cancel() {
    if (!pending_) {
        return;
    }
    pending_.reset();
    updateTicker();
    assignSecondsLeft(std::nullopt);
}

void ReturnAfterCall::modeChanged(ListeningMode mode) {
    if (mode == ListeningMode::transparency) {
        return;
    }
    leaveTransparencyAfterCall();
    cancel(); // no longer in the Transparency of the call
}

void ReturnAfterCall::leaveTransparencyAfterCall() {
    if (isInTransparencyAfterCall_) {
        assignTransparencyAfterCall(false);
    }
}

void ReturnAfterCall::assignSecondsLeft(std::optional<int> seconds) {
    shownSecondsLeft_ = seconds;
    emit secondsLeftChanged();
}

void ReturnAfterCall::assignTransparencyAfterCall(bool afterCall) {
    isInTransparencyAfterCall_ = afterCall;
    emit isInTransparencyAfterCallChanged();
}

void ReturnAfterCall::updateTicker() {
    if (pending_.has_value() == isTicking_) {
        return;
    }
    isTicking_ = pending_.has_value();
    if (isTicking_) {
        ticker_->start(tickInterval, [this] { review(); });
    } else {
        ticker_->stop();
    }
}

} // namespace harkwell
