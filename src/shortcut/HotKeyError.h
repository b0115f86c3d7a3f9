#pragma once

#include "desktop/DesktopSession.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace harkwell {

// A refused shortcut registration. The status says who refused and why; every status is
// negative:
//   -1 .. -255  X11: minus the X error code of the refused grab, -10 (BadAccess) when another
//               client holds the combination already.
//   -1001       The key is not on the current keyboard layout (X11), or not one the desktop's
//               service has a name for (a damaged setting).
//   -2001       Wayland: no desktop portal with the GlobalShortcuts interface answers (GNOME
//               before 48, sway): this desktop lets no application register a shortcut.
//   -2002       Wayland: the portal (or the user in its dialog) or KDE's kglobalaccel refused
//               or did not bind the shortcut, or its call failed otherwise.
//   -2003       Wayland: the portal did not answer in time.
//   -2004       Wayland: an earlier registration is still waiting for the desktop's answer.
//   -3001       Neither X11 nor Wayland: this session has no way to register a global shortcut.
class HotKeyError : public std::exception {
public:
    static constexpr std::int32_t keyNotOnKeyboard = -1001;
    static constexpr std::int32_t portalUnavailable = -2001;
    static constexpr std::int32_t portalRefused = -2002;
    static constexpr std::int32_t portalTimedOut = -2003;
    static constexpr std::int32_t portalBusy = -2004;
    static constexpr std::int32_t noShortcutService = -3001;

    // desktop chooses the way out offered when the session lets no application register a
    // shortcut: gnome only where Harkwell can add the shortcut to GNOME's own keyboard settings.
    static HotKeyError registrationFailed(std::int32_t status, DesktopKind desktop = DesktopKind::other) {
        return HotKeyError(status, desktop);
    }

    std::int32_t status() const { return status_; }
    // The session lets no application register a shortcut (-2001, -3001): the shortcut can only
    // be bound in the desktop's own settings, to `harkwell --toggle-mode`.
    bool isUnsupported() const { return status_ == portalUnavailable || status_ == noShortcutService; }
    // What went wrong, for the user, in the interface language, with what to do instead where the
    // desktop cannot register shortcuts, ending in the status: "(-10)".
    std::string errorDescription() const;
    const char* what() const noexcept override { return what_.c_str(); }

    bool operator==(const HotKeyError& other) const { return status_ == other.status_; }

private:
    HotKeyError(std::int32_t status, DesktopKind desktop);

    std::int32_t status_;
    DesktopKind desktop_;
    std::string what_;
};

} // namespace harkwell
