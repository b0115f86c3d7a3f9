#pragma once

#include "PrivateDBusDaemon.h"

#include <QDBusConnection>

namespace harkwell::testing {

// A new connection to the test's private bus. Every connection gets a name of its own: QtDBus
// hands out an existing connection for a name it has seen, even one to a daemon long gone.
inline QDBusConnection connectToPrivateBus(const PrivateDBusDaemon& daemon, const char* role) {
    static int count = 0;
    return QDBusConnection::connectToBus(daemon.address(), QStringLiteral("%1 %2").arg(role).arg(++count));
}

} // namespace harkwell::testing
