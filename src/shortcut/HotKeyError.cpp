#include "shortcut/HotKeyError.h"

#include "locale/AppText.h"

namespace harkwell {

HotKeyError::HotKeyError(std::int32_t status) : status_(status), what_(errorDescription()) {}

std::string HotKeyError::errorDescription() const {
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "(" + std::to_string(...).
    std::string korean = "단축키를 등록할 수 없습니다. 다른 앱에서 쓰는 조합일 수 있습니다. (";
    std::string english = "Could not register the shortcut. Another app may already use it. (";
    const std::string status = std::to_string(status_);
    korean.append(status).append(")");
    english.append(status).append(")");
    return appText(korean, english);
}

} // namespace harkwell
