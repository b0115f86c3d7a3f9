#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace harkwell {

// The stored form of a shortcut names its key by the macOS virtual key code (the key's
// position on an ANSI keyboard), so that a stored shortcut means the same key everywhere.
// These are the translations between those codes and X11 keysyms.

// One key of the table: its virtual key code, the keysym it produces without Shift (the one
// grabbed and bound), and the keysym's name as the desktop portal's trigger strings spell it.
struct VirtualKey {
    std::uint32_t code;
    std::uint32_t keysym;
    std::string_view keysymName;
};

// The virtual key code of Escape, which cancels shortcut recording.
inline constexpr std::uint32_t escapeVirtualKeyCode = 53;

// Every key a shortcut can use, one entry a virtual key code.
std::span<const VirtualKey> virtualKeys();

// The virtual key code of the key that produced keysym; shifted and Caps Lock forms (K, !, ISO
// Left Tab) and the keypad's forms with Num Lock off (KP_End) count as their key. Nothing for a
// key outside the table.
std::optional<std::uint32_t> virtualKeyCodeFromKeysym(std::uint32_t keysym);

// The table's entry of a virtual key code; nothing for a code outside the table.
std::optional<VirtualKey> virtualKeyFromCode(std::uint32_t code);

// Carbon modifier mask bits, as stored.
namespace carbon {
inline constexpr std::uint32_t command = 0x100;
inline constexpr std::uint32_t shift = 0x200;
inline constexpr std::uint32_t option = 0x800;
inline constexpr std::uint32_t control = 0x1000;
} // namespace carbon

} // namespace harkwell
