#include "shortcut/KeyRepeatFilter.h"

#include <gtest/gtest.h>

#include <vector>

namespace harkwell {
namespace {

// What reaches the shortcut's grab: presses and releases of its keys, with the server's times.
struct KeyEvent {
    enum { press, release, newShortcut } kind;
    std::uint8_t keycode = 0;
    std::uint32_t time = 0;
};

// How often the shortcut fires for the events, as the X11 backend fires it.
int firings(const std::vector<KeyEvent>& events) {
    KeyRepeatFilter repeats;
    int fired = 0;
    for (const auto& [kind, keycode, time] : events) {
        if (kind == KeyEvent::release) {
            repeats.release(keycode, time);
        } else if (kind == KeyEvent::newShortcut) {
            repeats.reset();
        } else if (!repeats.isRepeat(keycode, time)) {
            repeats.hold();
            ++fired;
        }
    }
    return fired;
}

TEST(KeyRepeatFilterTest, AKeyHeldDownFiresOnceHoweverTheServerRepeatsIt) {
    constexpr auto press = KeyEvent::press, release = KeyEvent::release;
    const struct {
        const char* name;
        std::vector<KeyEvent> events;
        int expected;
    } cases[] = {
        {"a press and its release", {{press, 40, 100}, {release, 40, 180}}, 1},
        {"repeats as release and press at one time",
         {{press, 40, 100},
          {release, 40, 600},
          {press, 40, 600},
          {release, 40, 633},
          {press, 40, 633},
          {release, 40, 700}},
         1},
        {"repeats as presses alone (detectable auto-repeat)",
         {{press, 40, 100}, {press, 40, 600}, {press, 40, 633}, {press, 40, 666}, {release, 40, 700}},
         1},
        {"pressed again after its release", {{press, 40, 100}, {release, 40, 180}, {press, 40, 400}}, 2},
        {"another key of the grab pressed at the release's time",
         {{press, 40, 100}, {release, 40, 180}, {press, 41, 180}},
         2},
        {"a new shortcut while the key is held", {{press, 40, 100}, {KeyEvent::newShortcut}, {press, 40, 600}}, 2},
    };
    for (const auto& [name, events, expected] : cases) {
        EXPECT_EQ(firings(events), expected) << name;
    }
}

} // namespace
} // namespace harkwell
