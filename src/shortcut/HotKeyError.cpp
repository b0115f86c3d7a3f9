#include "shortcut/HotKeyError.h"

#include <QCoreApplication>

namespace harkwell {

HotKeyError::HotKeyError(std::int32_t status) : status_(status), what_(errorDescription()) {}

std::string HotKeyError::errorDescription() const {
    return QCoreApplication::translate("harkwell::HotKeyError",
                                       "Could not register the shortcut. Another app may already use it. (%1)")
        .arg(status_)
        .toStdString();
}

} // namespace harkwell
