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

const HotKeySetting controlOptionK{40, 0x1800, "K"};
const HotKeySetting shiftCommandUp{126, 0x300, "↑"};
const std::vector<xcb_keysym_t> controlAltK{controlL, altL, 'k'};

// Another X client on the same server: types through XTEST and grabs keys of its own.
class OtherClient {
public:
    OtherClient() : connection_(xcb_connect(nullptr, nullptr)) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        symbols_ = xcb_key_symbols_alloc(connection_);
    }
    ~OtherClient() {
        xcb_key_symbols_free(symbols_);
        xcb_disconnect(connection_);
    }

    bool isConnected() const { return xcb_connection_has_error(connection_) == 0; }

    // The keyboard's modifier and lock state.
    std::uint16_t state() const {
        auto* reply = xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root_), nullptr);
        const std::uint16_t mask = reply ? reply->mask : 0xffff;
        std::free(reply);
        return mask;
    }

    xcb_keycode_t keycode(xcb_keysym_t keysym) const {
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols_, keysym);
        const xcb_keycode_t code = codes ? codes[0] : 0;
        std::free(codes);
        return code;
    }

    // Presses the keys in order and releases them in reverse order.
    void type(const std::vector<xcb_keysym_t>& keys) {
        for (const auto key : keys) {
            xcb_test_fake_input(connection_, XCB_KEY_PRESS, keycode(key), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        }
        for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
            xcb_test_fake_input(connection_, XCB_KEY_RELEASE, keycode(*key), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        }
        xcb_aux_sync();
    }

    // 0, or the X error code of the refused grab.
    int grab(xcb_keysym_t key, std::uint16_t modifiers) {
        xcb_generic_error_t* error =
            xcb_request_check(connection_, xcb_grab_key_checked(connection_, 0, root_, modifiers, keycode(key),
                                                                XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        const int code = error ? error->error_code : 0;
        std::free(error);
        return code;
    }
    void ungrab(xcb_keysym_t key, std::uint16_t modifiers) {
        xcb_ungrab_key(connection_, keycode(key), root_, modifiers);
        xcb_aux_sync();
    }

private:
    // Waits until the server has handled everything sent so far.
    void xcb_aux_sync() {
        std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    }

    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
    xcb_key_symbols_t* symbols_ = nullptr;
};

class X11HotKeyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(other.isConnected()) << "cannot connect to the test's X server";
        controller.onPressed = [this] { ++presses; };
    }

    // Runs the event loop until presses reaches count, for at most 10 s.
    void waitForPresses(int count) {
        const QDeadlineTimer deadline(10000);
        while (presses < count && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        }
        ASSERT_EQ(presses, count);
    }

    OtherClient other;
    HotKeyController controller; // the session's backend: X11 under this test's main()
    int presses = 0;
};

TEST_F(X11HotKeyTest, PressFiresWhateverTheLockKeys) {
    controller.registerHotKey(controlOptionK);
    const std::uint16_t numLockMask = XCB_MOD_MASK_2, capsLockMask = XCB_MOD_MASK_LOCK;
    const std::pair<std::vector<xcb_keysym_t>, std::uint16_t> lockSets[] = {
        {{}, 0},
        {{numLock}, numLockMask},
        {{capsLock}, capsLockMask},
        {{numLock, capsLock}, numLockMask | capsLockMask}};
    for (const auto& [locks, mask] : lockSets) {
        other.type(locks); // on
        ASSERT_EQ(other.state() & (numLockMask | capsLockMask), mask) << "the lock keys did not lock";
        other.type(controlAltK);
        other.type(locks); // off again
    }
    waitForPresses(4);
}

TEST_F(X11HotKeyTest, ReplacedShortcutIsReleasedAndModifiersMustMatchExactly) {
    controller.registerHotKey(controlOptionK);
    controller.registerHotKey(shiftCommandUp);
    // Events arrive in order: a press that should not count would be counted before the last.
    other.type(controlAltK);                    // the replaced shortcut
    other.type({shiftL, up});                   // Super missing
    other.type({superL, shiftL, up});           // the shortcut
    other.type({controlL, superL, shiftL, up}); // one modifier too many
    other.type({superL, shiftL, up});
    waitForPresses(2);

    controller.unregisterHotKey();
    controller.unregisterHotKey();
    for (const auto& [key, modifiers] :
         {std::pair<xcb_keysym_t, std::uint16_t>{'k', XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1},
          {up, XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_4}}) {
        EXPECT_EQ(other.grab(key, modifiers), 0) << "a grab outlived replacing or unregistering: " << key;
        other.ungrab(key, modifiers);
    }
}

TEST_F(X11HotKeyTest, CombinationHeldByAnotherClientIsRefusedAndLeavesNothing) {
    // The other client holds only the Caps Lock variant, so some of ours succeed before the refusal.
    const std::uint16_t controlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
    ASSERT_EQ(other.grab('k', controlAlt | XCB_MOD_MASK_LOCK), 0);
    try {
        controller.registerHotKey(controlOptionK);
        FAIL() << "registration was not refused";
    } catch (const HotKeyError& error) {
        EXPECT_EQ(error.status(), -10);
    }
    EXPECT_FALSE(controller.isRegistered());
    // Nothing of ours is left: the other client can take every variant.
    for (const int locks : {0, int{XCB_MOD_MASK_2}, XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK}) {
        EXPECT_EQ(other.grab('k', controlAlt | locks), 0) << "variant " << locks;
        other.ungrab('k', controlAlt | locks);
    }
    // Once the other client lets go, the same shortcut registers and fires.
    other.ungrab('k', controlAlt | XCB_MOD_MASK_LOCK);
    controller.registerHotKey(controlOptionK);
    other.type(controlAltK);
    waitForPresses(1);
}

} // namespace
} // namespace harkwell
