#pragma once

#include <cstdint>
#include <optional>
#include <string>

class QKeyEvent;

namespace harkwell {

// The user's global shortcut as it is stored and shown: the key's macOS virtual key code, the
// modifiers as a Carbon mask (command 0x100, shift 0x200, option 0x800, control 0x1000) and
// the key's display label.
struct HotKeySetting {
    std::uint32_t keyCode = 0;
    std::uint32_t modifiers = 0;
    std::string key;

    // As Linux desktops show a shortcut: the modifiers in the order Super, Ctrl, Alt, Shift, then
    // the key's label, joined by "+": "Ctrl+Alt+K", "Super+Shift+F5", "Ctrl+Left".
    std::string displayName() const;

    // The shortcut a key press records: nothing when none of Super (command), Alt (option),
    // Control and Shift is held, or when the key is not one a shortcut can use. Caps Lock,
    // Num Lock and the keypad flag do not count.
    static std::optional<HotKeySetting> from(const QKeyEvent& event);

    // The virtual key code of the pressed key, modifiers or not (the model's Escape check).
    static std::optional<std::uint32_t> virtualKeyCode(const QKeyEvent& event);

    // True for a press of a modifier or lock key alone (Shift, Control, Alt, Super, Caps Lock...):
    // such a press is part of typing a combination, not a combination.
    static bool isModifierKey(const QKeyEvent& event);

    bool operator==(const HotKeySetting&) const = default;
};

} // namespace harkwell
