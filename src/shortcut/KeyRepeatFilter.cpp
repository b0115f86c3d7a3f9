#include "shortcut/KeyRepeatFilter.h"

namespace harkwell {

bool KeyRepeatFilter::isRepeat(std::uint8_t keycode, std::uint32_t time) {
    const bool isRepeat = isHeld_ || lastRelease_ == std::pair{keycode, time};
    lastRelease_.reset();
    isHeld_ = isRepeat;
    return isRepeat;
}

void KeyRepeatFilter::release(std::uint8_t keycode, std::uint32_t time) {
    isHeld_ = false;
    lastRelease_ = {keycode, time};
}

void KeyRepeatFilter::reset() {
    isHeld_ = false;
    lastRelease_.reset();
}

} // namespace harkwell
