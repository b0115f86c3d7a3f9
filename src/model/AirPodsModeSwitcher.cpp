#include "model/AirPodsModeSwitcher.h"

#include "core/Log.h"

#include <optional>
#include <utility>

namespace harkwell {

namespace {

// Runs a helper call, turning what it throws into the error the user sees.
std::optional<Error> failureOf(const std::function<void()>& call) {
    try {
        call();
        return std::nullopt;
    } catch (const AppError& error) {
        return Error(error);
    } catch (const std::exception& error) {
        return Error::platform(error.what());
    }
}

} // namespace

AirPodsModeSwitcher::AirPodsModeSwitcher(std::shared_ptr<AirPodsControl> airPods, QObject* parent)
    : QObject(parent), airPods_(std::move(airPods)) {}

AirPodsModeSwitcher::~AirPodsModeSwitcher() {
    // A helper command under way ends now rather than when it would have.
    airPods_->shutDown();
}

void AirPodsModeSwitcher::freeGate() {
    if (isCommandRunning_) {
        assignCommandRunning(false);
    }
}

void AirPodsModeSwitcher::run(std::function<void(AirPodsControl&)> command, std::function<void()> onSuccess,
                              Failure onFailure) {
    assignCommandRunning(true);
    queue_.async([this, owner = owner_.handle(), airPods = airPods_, command = std::move(command),
                  onSuccess = std::move(onSuccess), onFailure = std::move(onFailure)] {
        if (!owner.isAlive()) {
            return; // queued before the switcher went
        }
        auto failure = failureOf([&] { command(*airPods); });
        owner.post([this, failure = std::move(failure), onSuccess, onFailure] {
            assignCommandRunning(false);
            if (failure) {
                if (onFailure) {
                    onFailure(*failure);
                }
            } else if (onSuccess) {
                onSuccess();
            }
        });
    });
}

void AirPodsModeSwitcher::switchTo(ListeningMode mode, std::function<void()> onSuccess, Failure onFailure) {
    qCDebug(logModel) << "AirPods mode requested:" << logged(mode.rawValue()) << "from"
                      << logged(selectedMode_.rawValue());
    run([mode](AirPodsControl& airPods) { airPods.setMode(mode); },
        [this, mode, onSuccess = std::move(onSuccess)] {
            qCInfo(logModel) << "AirPods mode applied:" << logged(mode.rawValue());
            assignSelectedMode(mode);
            if (onSuccess) {
                onSuccess();
            }
        },
        std::move(onFailure));
}

void AirPodsModeSwitcher::runModeRead(std::function<ListeningMode(AirPodsControl&)> read,
                                      std::function<void()> afterRead, Failure onFailure) {
    auto mode = std::make_shared<std::optional<ListeningMode>>();
    run([mode, read = std::move(read)](AirPodsControl& airPods) { *mode = read(airPods); },
        [this, mode, afterRead = std::move(afterRead)] {
            qCInfo(logModel) << "AirPods mode read:" << logged((**mode).rawValue());
            assignSelectedMode(**mode);
            if (afterRead) {
                afterRead();
            }
        },
        std::move(onFailure));
}

void AirPodsModeSwitcher::readMode(std::function<void()> afterRead, Failure onFailure) {
    runModeRead([](AirPodsControl& airPods) { return airPods.currentMode(); }, std::move(afterRead),
                std::move(onFailure));
}

void AirPodsModeSwitcher::returnTo(ListeningMode modeBefore, Failure onFailure) {
    runModeRead(
        [modeBefore](AirPodsControl& airPods) -> ListeningMode {
            const ListeningMode current = airPods.currentMode();
            if (current != ListeningMode::transparency) {
                return current; // changed on the AirPods themselves: left as it is
            }
            airPods.setMode(modeBefore);
            return modeBefore;
        },
        nullptr, std::move(onFailure));
}

void AirPodsModeSwitcher::prepareBluetooth(std::function<void()> onSuccess, Failure onFailure) {
    runModeRead([](AirPodsControl& airPods) { return airPods.prepareBluetoothPermission(); }, std::move(onSuccess),
                std::move(onFailure));
}

void AirPodsModeSwitcher::whenIdle(std::function<void()> work) {
    if (!isCommandRunning_) {
        owner_.post(std::move(work));
        return;
    }
    qCDebug(logModel) << "held until the AirPods command under way has finished";
    heldWork_ = std::move(work);
}

void AirPodsModeSwitcher::assignSelectedMode(ListeningMode mode) {
    selectedMode_ = mode;
    emit selectedModeChanged();
}

void AirPodsModeSwitcher::assignCommandRunning(bool running) {
    isCommandRunning_ = running;
    emit isCommandRunningChanged();
    if (!running && heldWork_) {
        // Once the command's outcome has been taken in.
        owner_.post([this] { runHeldWork(); });
    }
}

void AirPodsModeSwitcher::runHeldWork() {
    if (isCommandRunning_ || !heldWork_) {
        return; // another command began meanwhile: the work waits for it in turn
    }
    std::exchange(heldWork_, nullptr)();
}

} // namespace harkwell
