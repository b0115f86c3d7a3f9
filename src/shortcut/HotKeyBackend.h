#pragma once

#include "desktop/DesktopSession.h"
#include "shortcut/HotKeySetting.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace harkwell {

// Identifies a registered hot key to the press handler: the application's signature and the
// hot key's number.
struct HotKeyId {
    std::uint32_t signature = 0;
    std::uint32_t number = 0;
    bool operator==(const HotKeyId&) const = default;
};

// The session's mechanism for system-wide shortcuts. One shortcut at a time; everything on the
// main thread, presses and outcomes included.
class HotKeyBackend {
public:
    virtual ~HotKeyBackend() = default;

    // Starts making setting the system-wide shortcut under id. Returns the outcome when it is
    // known at once: 0 when setting has replaced the earlier shortcut, or a negative status (see
    // HotKeyError) with the earlier shortcut left as it was. Returns nothing while the desktop
    // decides; the outcome then comes later through the registration handler, once, unless
    // unregisterHotKey abandons the registration first.
    virtual std::optional<std::int32_t> registerHotKey(const HotKeySetting& setting, HotKeyId id) = 0;
    // Removes the shortcut, if any, and abandons a registration under way without an outcome.
    virtual void unregisterHotKey() = 0;

    // Called with the registered id at each press; empty to stop delivery.
    void setPressHandler(std::function<void(HotKeyId)> handler) { pressHandler_ = std::move(handler); }
    // Called with the outcome of a registration that registerHotKey left pending.
    void setRegistrationHandler(std::function<void(std::int32_t status)> handler) {
        registrationHandler_ = std::move(handler);
    }

protected:
    void reportPress(HotKeyId id) const {
        if (pressHandler_) {
            pressHandler_(id);
        }
    }
    void reportRegistration(std::int32_t status) const {
        if (registrationHandler_) {
            registrationHandler_(status);
        }
    }

private:
    std::function<void(HotKeyId)> pressHandler_;
    std::function<void(std::int32_t)> registrationHandler_;
};

// What the shortcut does, as the desktop's shortcut settings list it.
QString hotKeyDescription();

// The backend for session: in a Wayland session, Xwayland included (an X11 grab there fires only
// while an X11 window has the focus), KDE's kglobalaccel on Plasma where it is on the session bus,
// else the desktop portal's GlobalShortcuts; X11
// key grabs in an X11 session under Qt's "xcb"; otherwise one whose every registration fails with
// HotKeyError::noShortcutService. Needs the QGuiApplication.
std::unique_ptr<HotKeyBackend> makeHotKeyBackend(const DesktopSession& session);

} // namespace harkwell
