#pragma once

#include "shortcut/HotKeyBackend.h"
#include "shortcut/HotKeyError.h"
#include "shortcut/HotKeySetting.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace harkwell {

// Four characters packed into 32 bits, the first in the most significant byte.
constexpr std::uint32_t fourCharCode(std::string_view code) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4 && i < code.size(); ++i) {
        value = value * 256 + static_cast<unsigned char>(code[i]);
    }
    return value;
}

// Makes one HotKeySetting the system-wide shortcut and calls onPressed at each press, whichever
// application is in front. One per model, used on the main thread only.
class HotKeyController {
public:
    static constexpr std::uint32_t signature = fourCharCode("HRKW");
    // The only hot key this application registers.
    static constexpr std::uint32_t hotKeyNumber = 1;

    // Uses the session's backend (makeHotKeyBackend).
    HotKeyController();
    explicit HotKeyController(std::unique_ptr<HotKeyBackend> backend);
    // Unregisters and stops press delivery.
    ~HotKeyController();
    HotKeyController(const HotKeyController&) = delete;
    HotKeyController& operator=(const HotKeyController&) = delete;

    // Replaces the current shortcut with setting. Unregisters first, so that a refusal, thrown
    // as HotKeyError::registrationFailed, leaves no shortcut at all.
    void registerHotKey(const HotKeySetting& setting);
    // Removes the current shortcut; nothing happens when none is registered.
    void unregisterHotKey();
    bool isRegistered() const { return isRegistered_; }

    // Called on the main thread at each press of the registered shortcut.
    std::function<void()> onPressed;

private:
    std::unique_ptr<HotKeyBackend> backend_;
    bool isRegistered_ = false;
};

} // namespace harkwell
