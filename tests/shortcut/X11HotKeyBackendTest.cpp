#include "shortcut/X11HotKeyBackend.h"
#include "EventLoop.h"
#include "OtherXClient.h"
#include "shortcut/HotKeyController.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>

// The header names a member `explicit`.
#define explicit xkbExplicit
#include <xcb/xkb.h>
#undef explicit

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace harkwell {
namespace {

constexpr xcb_keysym_t controlL = 0xffe3, altL = 0xffe9, shiftL = 0xffe1, superL = 0xffeb, up = 0xff52,
                       numLock = 0xff7f, capsLock = 0xffe5;
constexpr std::uint16_t controlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1, locks = XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK;

// The status the X server answers a registration with at once: 0 when it is in effect.
std::int32_t registrationStatus(HotKeyController& controller, const HotKeySetting& setting) {
    std::optional<std::int32_t> status;
    controller.registerHotKey(
        setting, [&status](const std::optional<HotKeyError>& refusal) { status = refusal ? refusal->status() : 0; });
    EXPECT_TRUE(status) << "X11 answers at once";
    return status.value_or(1);
}

TEST(X11HotKeyTest, HeldCombinationIsRefusedAndAGrabFiresWhateverTheLockKeys) {
    testing::OtherXClient other;
    int presses = 0;
    HotKeyController controller; // the session's backend: X11 under this test's main()
    controller.onPressed = [&] { ++presses; };

    // The other client holds only the Caps Lock variant, so some of ours succeed before the refusal.
    ASSERT_EQ(other.grab('k', controlAlt | XCB_MOD_MASK_LOCK), 0);
    EXPECT_EQ(registrationStatus(controller, {40, 0x1800, "K"}), -10);
    EXPECT_FALSE(controller.isRegistered());
    EXPECT_EQ(other.grab('k', controlAlt), 0) << "the refused registration left a grab behind";
    other.ungrab('k', controlAlt);
    other.ungrab('k', controlAlt | XCB_MOD_MASK_LOCK);

    ASSERT_EQ(registrationStatus(controller, {40, 0x1800, "K"}), 0);
    // A refused replacement leaves the shortcut in effect; the grabs it made first are undone.
    ASSERT_EQ(other.grab(up, XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_4 | XCB_MOD_MASK_LOCK), 0);
    EXPECT_EQ(registrationStatus(controller, {126, 0x300, "↑"}), -10);
    EXPECT_EQ(other.grab('k', controlAlt), 10) << "the refusal released the shortcut in effect";
    EXPECT_EQ(other.grab(up, XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_4), 0) << "the refusal left a grab behind";
    other.ungrab(up, XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_4);
    other.ungrab(up, XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_4 | XCB_MOD_MASK_LOCK);

    ASSERT_EQ(registrationStatus(controller, {40, 0x1800, "K"}), 0) << "registering the same again";
    ASSERT_EQ(registrationStatus(controller, {126, 0x300, "↑"}), 0);
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

// Counts the presses and releases of one key that reach the application, ahead of its other
// native event filters.
class KeyEventCounter : public QAbstractNativeEventFilter {
public:
    explicit KeyEventCounter(xcb_keycode_t keycode) : keycode_(keycode) {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~KeyEventCounter() override { QCoreApplication::instance()->removeNativeEventFilter(this); }

    int presses = 0;
    int releases = 0;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        const auto* event = static_cast<const xcb_key_press_event_t*>(message);
        if (eventType == "xcb_generic_event_t" && event->detail == keycode_) {
            presses += (event->response_type & 0x7f) == XCB_KEY_PRESS;
            releases += (event->response_type & 0x7f) == XCB_KEY_RELEASE;
        }
        return false;
    }

private:
    xcb_keycode_t keycode_;
};

// Has XKB repeat a held key to this application as presses alone (detectable auto-repeat, which
// toolkits turn on), or as release-press pairs as the core protocol does.
bool useDetectableAutoRepeat(bool detectable) {
    xcb_connection_t* connection = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    free(xcb_xkb_use_extension_reply(connection, xcb_xkb_use_extension(connection, 1, 0), nullptr));
    const std::uint32_t flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT, value = detectable ? flag : 0;
    const auto cookie = xcb_xkb_per_client_flags(connection, XCB_XKB_ID_USE_CORE_KBD, flag, value, 0, 0, 0);
    const std::unique_ptr<xcb_xkb_per_client_flags_reply_t, decltype(&free)> reply(
        xcb_xkb_per_client_flags_reply(connection, cookie, nullptr), &free);
    return reply && (reply->value & flag) == value;
}

// The X server repeats a key held down as a release and a press at the same time, again and
// again, or with detectable auto-repeat as presses alone: the shortcut fires once all the same.
TEST(X11HotKeyTest, ACombinationHeldDownFiresOnce) {
    testing::OtherXClient other;
    other.enableKeyRepeat();
    for (const bool detectable : {false, true}) {
        SCOPED_TRACE(detectable ? "presses alone" : "release-press pairs");
        ASSERT_TRUE(useDetectableAutoRepeat(detectable));
        int presses = 0;
        HotKeyController controller;
        controller.onPressed = [&] { ++presses; };
        ASSERT_EQ(registrationStatus(controller, {40, 0x1800, "K"}), 0);

        const KeyEventCounter k(other.keycode('k'));
        other.press({controlL, altL, 'k'});
        ASSERT_TRUE(testing::eventually([&] { return k.presses >= 4; })) << "the server did not repeat the held key";
        other.release({controlL, altL, 'k'});
        // Pairs: the counts are even only after the last release; presses alone: one release.
        ASSERT_TRUE(testing::eventually([&] { return detectable ? k.releases == 1 : k.releases == k.presses; }));
        EXPECT_EQ(presses, 1) << k.presses - 1 << " repeats";
    }
}

// Under Xwayland an X11 grab fires only while an X11 window has the focus: the session counts as a
// Wayland session, and no grab is made or claimed.
TEST(X11HotKeyTest, UnderXwaylandNoKeyIsGrabbed) {
    testing::OtherXClient other;
    // The Wayland way is asked on a session bus that is not there (rather than one Qt would
    // autolaunch): it refuses, and no X11 grab stands in for it.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/harkwell-bus");
    HotKeyController controller(DesktopSession{.isWayland = true, .isXwayland = true});
    std::optional<std::int32_t> status;
    controller.registerHotKey({40, 0x1800, "K"}, [&status](const std::optional<HotKeyError>& refusal) {
        status = refusal ? refusal->status() : 0;
    });
    EXPECT_NE(status, 0) << "claimed at once, as only an X11 grab is";
    EXPECT_EQ(other.grab('k', controlAlt), 0) << "Harkwell grabbed the combination";
}

} // namespace
} // namespace harkwell
