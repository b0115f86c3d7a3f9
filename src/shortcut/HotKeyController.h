#pragma once

#include "desktop/CustomKeybindings.h"
#include "desktop/DesktopSession.h"
#include "shortcut/HotKeyBackend.h"
#include "shortcut/HotKeyError.h"
#include "shortcut/HotKeySetting.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include <QString>

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

    // Called with the outcome of a registration: nothing when the shortcut is in effect, else the
    // refusal.
    using Completion = std::function<void(const std::optional<HotKeyError>& refusal)>;

    // What a shortcut bound in the desktop's own settings runs: "harkwell --toggle-mode", with the
    // running executable's full path when it is named harkwell and no harkwell is on the PATH (a
    // build run from its folder).
    static QString toggleCommand();

    // Uses the running session's ways: its backend (makeHotKeyBackend) and, on GNOME, GNOME's
    // custom keybindings.
    HotKeyController();
    explicit HotKeyController(const DesktopSession& session);
    // desktop: the desktop whose way out a refusal offers; keybindings: its own keyboard settings
    // where Harkwell can bind toggleCommand, or none.
    explicit HotKeyController(std::unique_ptr<HotKeyBackend> backend, DesktopKind desktop = DesktopKind::other,
                              std::unique_ptr<CustomKeybindings> keybindings = nullptr);
    // Unregisters, abandons a registration under way and stops press delivery.
    ~HotKeyController();
    HotKeyController(const HotKeyController&) = delete;
    HotKeyController& operator=(const HotKeyController&) = delete;

    // Starts making setting the shortcut in place of the current one and returns at once.
    // completion runs once with the outcome: before this returns when the backend knows it at
    // once (X11), else when the desktop answers (the portal may ask the user first). The current
    // shortcut stays in effect until the new one is; a refusal leaves it in effect.
    void registerHotKey(const HotKeySetting& setting, Completion completion);
    // Removes the current shortcut and abandons a registration under way, whose completion then
    // never runs; nothing happens when there is neither.
    void unregisterHotKey();
    // A shortcut is in effect.
    bool isRegistered() const { return isRegistered_; }
    // A registration waits for the desktop's answer.
    bool isRegistrationPending() const { return pending_.has_value(); }

    DesktopKind desktop() const { return desktop_; }
    // The desktop's own keyboard settings can run toggleCommand at a combination (GNOME's).
    bool canBindInDesktopSettings() const { return keybindings_ != nullptr; }
    // Makes setting run toggleCommand in the desktop's own keyboard settings, in place of what
    // this bound there before. Returns why not, for the user, or nothing.
    std::optional<QString> bindInDesktopSettings(const HotKeySetting& setting);
    // Removes what bindInDesktopSettings bound there. Returns why not, for the user, or nothing.
    std::optional<QString> unbindInDesktopSettings();

    // Called on the main thread at each press of the registered shortcut.
    std::function<void()> onPressed;

private:
    struct Pending {
        HotKeySetting setting;
        Completion completion;
    };
    void finish(const HotKeySetting& setting, std::int32_t status, const Completion& completion);

    std::unique_ptr<HotKeyBackend> backend_;
    DesktopKind desktop_;
    std::unique_ptr<CustomKeybindings> keybindings_;
    bool isRegistered_ = false;
    std::optional<Pending> pending_;
};

} // namespace harkwell
