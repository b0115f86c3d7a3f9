#pragma once

#include "shortcut/HotKeySetting.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace harkwell {

// Identifies a registered hot key to the press handler: the application's signature and the
// hot key's number.
struct HotKeyId {
    std::uint32_t signature = 0;
    std::uint32_t number = 0;
    bool operator==(const HotKeyId&) const = default;
};

// The session's mechanism for system-wide shortcuts. One shortcut at a time; everything on the
// main thread, presses included.
class HotKeyBackend {
public:
    virtual ~HotKeyBackend() = default;

    // Makes setting the system-wide shortcut under id, replacing any earlier one. Returns 0, or
    // a negative status (see HotKeyError) with nothing registered.
    virtual std::int32_t registerHotKey(const HotKeySetting& setting, HotKeyId id) = 0;
    // Removes the shortcut, if any.
    virtual void unregisterHotKey() = 0;

    // Called with the registered id at each press; empty to stop delivery.
    void setPressHandler(std::function<void(HotKeyId)> handler) { pressHandler_ = std::move(handler); }

protected:
    void reportPress(HotKeyId id) const {
        if (pressHandler_) {
            pressHandler_(id);
        }
    }

private:
    std::function<void(HotKeyId)> pressHandler_;
};

// The backend for this session, chosen by the Qt platform: X11 key grabs under "xcb", the desktop
// portal's GlobalShortcuts on the session bus under "wayland", otherwise one whose every
// registration fails with HotKeyError::noShortcutService. Needs the QGuiApplication.
std::unique_ptr<HotKeyBackend> makeHotKeyBackend();

} // namespace harkwell
