#pragma once

#include "airpods/AirPodsControl.h"
#include "core/OwnerContext.h"
#include "core/SerialQueue.h"
#include "locale/AppError.h"

#include <QObject>

#include <functional>
#include <memory>

namespace harkwell {

// The AirPods' mode as last applied or read, and the helper commands that apply and read it: one
// at a time, on the "Harkwell.command" thread, behind a gate (isCommandRunning) that other work
// which must not overlap a command can hold too. Outcomes come back on the main thread, which
// alone reads and writes the state: the mode is taken in, the gate is freed, then the caller's
// handler runs. Work that must wait for the command under way (a call heard meanwhile) is held
// and runs once none runs. Every published value notifies on each assignment, changed or not.
class AirPodsModeSwitcher : public QObject {
    Q_OBJECT

public:
    using Failure = std::function<void(const Error& error)>;

    explicit AirPodsModeSwitcher(std::shared_ptr<AirPodsControl> airPods, QObject* parent = nullptr);
    // Ends a command under way (AirPodsControl::shutDown) and waits for it; its outcome is dropped.
    ~AirPodsModeSwitcher() override;

    ListeningMode selectedMode() const { return selectedMode_; }
    // The mode from before, as stored; without a notification.
    void restoreMode(ListeningMode mode) { selectedMode_ = mode; }
    bool isCommandRunning() const { return isCommandRunning_; }
    // Whether a command runs or work waits for one to finish.
    bool isBusy() const { return isCommandRunning_ || heldWork_ != nullptr; }

    // The gate without a command, for work that must not overlap one; hold it only while no
    // command runs. Freeing a free gate does nothing.
    void holdGate() { assignCommandRunning(true); }
    void freeGate();

    // The commands. Each holds the gate until its outcome has come; the caller checks that no
    // command runs first. A read shows the mode it found, then runs afterRead.
    void switchTo(ListeningMode mode, std::function<void()> onSuccess, Failure onFailure);
    void readMode(std::function<void()> afterRead, Failure onFailure);
    // Back to modeBefore in one command, so that nothing comes between the look and the switch:
    // AirPods no longer in Transparency are left as they are (the mode read is shown).
    void returnTo(ListeningMode modeBefore, Failure onFailure);
    // The helper's Bluetooth permission, which reads the mode on the way.
    void prepareBluetooth(std::function<void()> onSuccess, Failure onFailure);

    // Runs work once no command runs: at once on the event loop when none does, else after the
    // command's outcome has been taken in (and after any other command begun meanwhile). Work held
    // earlier gives way to it.
    void whenIdle(std::function<void()> work);

signals:
    void selectedModeChanged();
    void isCommandRunningChanged();

private:
    void run(std::function<void(AirPodsControl&)> command, std::function<void()> onSuccess, Failure onFailure);
    void runModeRead(std::function<ListeningMode(AirPodsControl&)> read, std::function<void()> afterRead,
                     Failure onFailure);
    void assignSelectedMode(ListeningMode mode);
    void assignCommandRunning(bool running);
    void runHeldWork();

    std::shared_ptr<AirPodsControl> airPods_;
    SerialQueue queue_{"Harkwell.command"};
    ListeningMode selectedMode_ = ListeningMode::anc;
    bool isCommandRunning_ = false;
    std::function<void()> heldWork_;
    // Last, so that it goes first: outcomes handed back as the queue drains do nothing.
    OwnerContext owner_;
};

} // namespace harkwell
