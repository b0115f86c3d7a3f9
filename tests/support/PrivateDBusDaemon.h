#pragma once

#include "ChildProcess.h"

#include <QString>
#include <QTemporaryDir>

namespace harkwell::testing {

// A dbus-daemon of the test's own, listening on a socket in a private directory, that lets
// every connection own any name and call anything. Stopped when the object goes.
class PrivateDBusDaemon {
public:
    PrivateDBusDaemon();
    PrivateDBusDaemon(const PrivateDBusDaemon&) = delete;
    PrivateDBusDaemon& operator=(const PrivateDBusDaemon&) = delete;

    // Empty when the daemon could not be started; error() then says why.
    const QString& address() const { return address_; }
    const QString& error() const { return error_; }

private:
    QTemporaryDir directory_;
    ChildProcess process_;
    QString address_;
    QString error_;
};

} // namespace harkwell::testing
