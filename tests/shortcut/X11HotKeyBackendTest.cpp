#include "shortcut/X11HotKeyBackend.h"
#include "shortcut/HotKeyController.h"

#include <QAbstractNativeEventFilter>
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
    const std::vector<std::vector<xcb_keysym_t>> lockSets{{}, {numLock}, {capsLock}, {numLock, capsLock}};
    for (const auto& locks : lockSets) {
        for (const auto lock : locks) {
            other.type({lock}); // on
        }
        other.type(controlAltK);
        for (const auto lock : locks) {
            other.type({lock}); // off again
        }
    }
    waitForPresses(4);
}

TEST_F(X11HotKeyTest, SuperAndShiftAreCommandAndShift) {
    controller.registerHotKey(shiftCommandUp);
    other.type({shiftL, up});                   // Super missing
    other.type({superL, shiftL, up});           // the shortcut
    other.type({controlL, superL, shiftL, up}); // one modifier too many
    other.type({superL, shiftL, up});
    waitForPresses(2);
}

TEST_F(X11HotKeyTest, RegisteringAnotherShortcutReplacesTheFirst) {
    controller.registerHotKey(controlOptionK);
    controller.registerHotKey(shiftCommandUp);
    other.type(controlAltK);
    other.type({superL, shiftL, up});
    // Events arrive in order: a press of the first shortcut would have been counted before this one.
    waitForPresses(1);
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
        EXPECT_TRUE(std::string(error.errorDescription()).ends_with("(-10)"));
    }
    EXPECT_FALSE(controller.isRegistered());
    // Nothing of ours is left: the other client can take every variant.
    for (const int locks : {0, int{XCB_MOD_MASK_2}, XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK}) {
        EXPECT_EQ(other.grab('k', controlAlt | locks), 0) << "variant " << locks;
        other.ungrab('k', controlAlt | locks);
    }
    other.ungrab('k', controlAlt | XCB_MOD_MASK_LOCK);
    controller.registerHotKey(controlOptionK);
    other.type(controlAltK);
    waitForPresses(1);
}

TEST_F(X11HotKeyTest, UnregisterTwiceThenRegisterAgain) {
    controller.registerHotKey(controlOptionK);
    controller.unregisterHotKey();
    controller.unregisterHotKey();
    EXPECT_EQ(other.grab('k', XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1), 0) << "the grab outlived unregistering";
    other.ungrab('k', XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1);
    controller.registerHotKey(controlOptionK);
    other.type(controlAltK);
    waitForPresses(1);
}

// Counts the key presses the application receives; installed after the backend, it sees each
// event just before the backend's filter does, in the same dispatch.
class KeyPressCounter : public QAbstractNativeEventFilter {
public:
    KeyPressCounter() { QCoreApplication::instance()->installNativeEventFilter(this); }
    ~KeyPressCounter() override { QCoreApplication::instance()->removeNativeEventFilter(this); }
    bool nativeEventFilter(const QByteArray&, void* message, qintptr*) override {
        if ((static_cast<xcb_generic_event_t*>(message)->response_type & 0x7f) == XCB_KEY_PRESS) {
            ++count;
        }
        return false;
    }
    int count = 0;
};

TEST_F(X11HotKeyTest, PressWithoutHandlerIsConsumed) {
    controller.registerHotKey(controlOptionK);
    controller.onPressed = nullptr;
    KeyPressCounter counter;
    other.type(controlAltK);
    const QDeadlineTimer deadline(10000);
    while (counter.count == 0 && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    ASSERT_EQ(counter.count, 1) << "the press did not reach the application";
    controller.onPressed = [this] { ++presses; };
    other.type(controlAltK);
    waitForPresses(1);
}

} // namespace
} // namespace harkwell
