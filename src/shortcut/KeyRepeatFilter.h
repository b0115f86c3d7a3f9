#pragma once

#include <cstdint>
#include <optional>
#include <utility>

namespace harkwell {

// Tells a new press of a grabbed key from the X server's repeat of a key held down. The server
// repeats a held key as a release and a press with the same time stamp, or, for a client that
// asked XKB for detectable auto-repeat, as presses alone: neither is a new press. Keycodes and
// times are the X server's.
class KeyRepeatFilter {
public:
    // A press of a grabbed key: true when it repeats a key held down, which stays held.
    bool isRepeat(std::uint8_t keycode, std::uint32_t time);
    // A new press fired the shortcut: later presses are repeats until a release.
    void hold() { isHeld_ = true; }
    void release(std::uint8_t keycode, std::uint32_t time);
    // Forgets the key held, for a new shortcut or none.
    void reset();

private:
    bool isHeld_ = false;
    // The keycode and time of the last release, until the next press: a press of the same key at
    // the same time is a repeat.
    std::optional<std::pair<std::uint8_t, std::uint32_t>> lastRelease_;
};

} // namespace harkwell
