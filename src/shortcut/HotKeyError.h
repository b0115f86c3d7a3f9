#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace harkwell {

// A refused shortcut registration. The status says who refused and why; every status is
// negative:
//   -1 .. -255  X11: minus the X error code of the refused grab, -10 (BadAccess) when another
//               client holds the combination already.
//   -1001       X11: the key is not on the current keyboard layout.
//   -2001       Wayland: no desktop portal with the GlobalShortcuts interface answers.
//   -2002       Wayland: the portal (or the user in its dialog) refused or did not bind the shortcut.
//   -2003       Wayland: the portal did not answer in time.
//   -3001       Neither X11 nor Wayland: this session has no way to register a global shortcut.
class HotKeyError : public std::exception {
public:
    static constexpr std::int32_t keyNotOnKeyboard = -1001;
    static constexpr std::int32_t portalUnavailable = -2001;
    static constexpr std::int32_t portalRefused = -2002;
    static constexpr std::int32_t portalTimedOut = -2003;
    static constexpr std::int32_t noShortcutService = -3001;

    static HotKeyError registrationFailed(std::int32_t status) { return HotKeyError(status); }

    std::int32_t status() const { return status_; }
    // The message for the user, in the interface language, ending in the status: "(-10)".
    std::string errorDescription() const;
    const char* what() const noexcept override { return what_.c_str(); }

    bool operator==(const HotKeyError& other) const { return status_ == other.status_; }

private:
    explicit HotKeyError(std::int32_t status);

    std::int32_t status_;
    std::string what_;
};

} // namespace harkwell
