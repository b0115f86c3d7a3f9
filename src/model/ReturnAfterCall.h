#pragma once

#include "airpods/ListeningMode.h"
#include "core/Clock.h"
#include "core/Ticker.h"

#include <QObject>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace harkwell {

// Back to the mode from before a call. A call that switched the AirPods from another mode to
// Transparency schedules the return; near speech puts it off; once the microphone has heard none
// for the chosen wait, the return is due (onDue), or as soon as the AirPods are no longer busy
// with a command. The user's own mode choice, a mode other than Transparency seen on the AirPods,
// listening turned off, and AirPods that are away end it. Also tells whether the AirPods are in
// Transparency for a call heard while listening. Main thread only; its ticker wakes it while a
// return is pending. Every published value notifies on each assignment, changed or not.
class ReturnAfterCall : public QObject {
    Q_OBJECT

public:
    // The waits offered, in seconds; 0 is off.
    static constexpr std::array<int, 4> waitChoices{0, 10, 30, 60};
    static constexpr int defaultWaitSeconds = 30;
    // The choice a stored or requested wait counts as: 0 is off, another number the nearest
    // positive choice (ties: the longer).
    static int waitChoiceFor(std::uint32_t seconds);

    ReturnAfterCall(std::shared_ptr<const Clock> clock, std::unique_ptr<Ticker> ticker, QObject* parent = nullptr);
    ~ReturnAfterCall() override;

    // Whether the AirPods are busy with a command, so that a due return waits; none: never.
    std::function<bool()> isAirPodsBusy;
    // The return is due: the AirPods should go back to modeBefore, unless they have left Transparency.
    std::function<void(ListeningMode modeBefore)> onDue;

    // One of waitChoices.
    int waitSeconds() const { return waitSeconds_; }
    // Takes waitChoiceFor(seconds) (negative: 0); 0 ends a pending return.
    void setWaitSeconds(int seconds);
    // While a return is pending: the whole seconds left, at least 0.
    std::optional<int> secondsLeft() const { return shownSecondsLeft_; }
    // The mode a pending return goes back to.
    std::optional<ListeningMode> pendingMode() const;
    bool isInTransparencyAfterCall() const { return isInTransparencyAfterCall_; }

    // A call switched the AirPods to Transparency from modeBefore; afterCall: with listening on.
    // Without a wait, or from Transparency itself, nothing is pending after it.
    void callSwitched(ListeningMode modeBefore, bool afterCall);
    // Someone spoke near the microphone: the quiet starts again.
    void hearNearSpeech();
    // Looks at the clock: the seconds left, and the return once due.
    void review();
    void cancel();
    // The AirPods' mode as last applied or read: any but Transparency ends the pending return and
    // the Transparency of a call.
    void modeChanged(ListeningMode mode);
    // Listening has ended: the AirPods are no longer in Transparency for a call it heard.
    void leaveTransparencyAfterCall();

signals:
    void waitSecondsChanged();
    // A return began or ended, or its seconds left changed.
    void secondsLeftChanged();
    void isInTransparencyAfterCallChanged();

private:
    void assignSecondsLeft(std::optional<int> seconds);
    void assignTransparencyAfterCall(bool afterCall);
    void updateTicker();

    std::shared_ptr<const Clock> clock_;
    std::unique_ptr<Ticker> ticker_;
    bool isTicking_ = false;
    int waitSeconds_ = defaultWaitSeconds;
    // A return waiting for quiet: the mode to go back to, and the last time near speech was heard
    // (or the call, when none was since).
    struct Pending {
        ListeningMode modeBefore;
        Clock::TimePoint quietSince;
    };
    std::optional<Pending> pending_;
    std::optional<int> shownSecondsLeft_;
    bool isInTransparencyAfterCall_ = false;
};

} // namespace harkwell
