#include "shortcut/X11HotKeyBackend.h"
#include "shortcut/HotKeyController.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

namespace harkwell {
namespace {

constexpr xcb_keysym_t controlL = 0xffe3, altL = 0xffe9, shiftL = 0xffe1, superL = 0xffeb, up = 0xff52,
                       numLock = 0xff7f, capsLock = 0xffe5;
constexpr std::uint16_t controlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1, locks = XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK;

// Another X client on the same server: types through XTEST and grabs keys of its own.
class OtherClient {
public:
    OtherClient() : connection_(xcb_connect(nullptr, nullptr)), symbols_(xcb_key_symbols_alloc(connection_)) {}
    ~OtherClient() {
        xcb_key_symbols_free(symbols_);
        xcb_disconnect(connection_);
    }

    // The keyboard's modifier and lock state.
    std::uint16_t state() const {
        auto* reply = xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root()), nullptr);
        const std::uint16_t mask = reply ? reply->mask : 0xffff;
        std::free(reply);
        return mask;
    }

    // Presses the keys in order and releases them in reverse order.
    void type(const std::vector<xcb_keysym_t>& keys) {
        for (const auto key : keys) {
            xcb_test_fake_input(connection_, XCB_KEY_PRESS, keycode(key), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        }
        for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
            xcb_test_fake_input(connection_, XCB_KEY_RELEASE, keycode(*key), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        }
        sync();
    }

    // 0, or the X error code of the refused grab.
    int grab(xcb_keysym_t key, std::uint16_t modifiers) {
        xcb_generic_error_t* error =
            xcb_request_check(connection_, xcb_grab_key_checked(connection_, 0, root(), modifiers, keycode(key),
                                                                XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        const int code = error ? error->error_code : 0;
        std::free(error);
        return code;
    }
    void ungrab(xcb_keysym_t key, std::uint16_t modifiers) {
        xcb_ungrab_key(connection_, keycode(key), root(), modifiers);
        sync();
    }

private:
    xcb_window_t root() const { return xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root; }
    xcb_keycode_t keycode(xcb_keysym_t keysym) const {
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols_, keysym);
        const xcb_keycode_t code = codes ? codes[0] : 0;
        std::free(codes);
        return code;
    }
    // Waits until the server has handled everything sent so far.
    void sync() { std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr)); }

    xcb_connection_t* connection_;
    xcb_key_symbols_t* symbols_;
};

TEST(X11HotKeyTest, HeldCombinationIsRefusedAndAGrabFiresWhateverTheLockKeys) {
    OtherClient other;
    int presses = 0;
    HotKeyController controller; // the session's backend: X11 under this test's main()
    controller.onPressed = [&] { ++presses; };

    // The other client holds only the Caps Lock variant, so some of ours succeed before the refusal.
    ASSERT_EQ(other.grab('k', controlAlt | XCB_MOD_MASK_LOCK), 0);
    try {
        controller.registerHotKey({40, 0x1800, "K"});
        FAIL() << "registration was not refused";
    } catch (const HotKeyError& error) {
        EXPECT_EQ(error.status(), -10);
    }
    EXPECT_FALSE(controller.isRegistered());
    EXPECT_EQ(other.grab('k', controlAlt), 0) << "the refused registration left a grab behind";
    other.ungrab('k', controlAlt);
    other.ungrab('k', controlAlt | XCB_MOD_MASK_LOCK);

    controller.registerHotKey({40, 0x1800, "K"});
    controller.registerHotKey({126, 0x300, "↑"});
    // Events arrive in order: a press that should not count would be counted before the last.
    other.type({controlL, altL, 'k'});          // the replaced shortcut
    other.type({controlL, superL, shiftL, up}); // one modifier too many
    for (const auto& [lockKeys, mask] : {std::pair<std::vector<xcb_keysym_t>, std::uint16_t>{{numLock}, XCB_MOD_MASK_2},
                                         {{numLock, capsLock}, locks}}) {
        other.type(lockKeys); // on
        ASSERT_EQ(other.state() & locks, mask) << "the lock keys did not lock";
        other.type({superL, shiftL, up});
        other.type(lockKeys); // off again
    }
    const QDeadlineTimer deadline(10000);
    while (presses < 2 && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    EXPECT_EQ(presses, 2);

    controller.unregisterHotKey();
    controller.unregisterHotKey(); // twice is harmless
    for (const auto& [key, modifiers] :
         {std::pair<xcb_keysym_t, std::uint16_t>{'k', controlAlt}, {up, XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_4}}) {
        EXPECT_EQ(other.grab(key, modifiers), 0) << "a grab outlived replacing or unregistering: " << key;
    }
}

} // namespace
} // namespace harkwell
