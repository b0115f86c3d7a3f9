#pragma once

#include "airpods/ListeningMode.h"

namespace harkwell {

// What the application needs of the AirPods: read, prepare and set the listening mode.
// Every call blocks until the AirPods answered or the time-out passed, so it runs on the
// command thread, never on the main thread. Failures are thrown: an AppError for the
// application's own errors, another std::exception (its what() the message) for a
// platform failure such as a helper that cannot be launched.
class AirPodsControl {
public:
    virtual ~AirPodsControl() = default;

    virtual ListeningMode currentMode() = 0;
    // Asks for Bluetooth access where the system gates it, then reads the mode.
    virtual ListeningMode prepareBluetoothPermission() = 0;
    virtual void setMode(ListeningMode mode) = 0;
    // For quitting, from any thread: the call under way ends at once (its helper asked to
    // terminate, killed if it has not shortly after) and throws; later calls throw at once.
    virtual void shutDown() = 0;
};

} // namespace harkwell
