#pragma once

// Another X client on the test's X server: types through XTEST and grabs keys of its own.

#include <cstdint>
#include <cstdlib>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

namespace harkwell::testing {

class OtherXClient {
public:
    OtherXClient() : connection_(xcb_connect(nullptr, nullptr)), symbols_(xcb_key_symbols_alloc(connection_)) {
        // A window of its own, only to read the server's clock from its property changes.
        clockWindow_ = xcb_generate_id(connection_);
        const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, clockWindow_, root(), 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    }
    ~OtherXClient() {
        xcb_key_symbols_free(symbols_);
        xcb_disconnect(connection_);
    }
    OtherXClient(const OtherXClient&) = delete;
    OtherXClient& operator=(const OtherXClient&) = delete;

    // The keyboard's modifier and lock state.
    std::uint16_t state() const {
        auto* reply = xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root()), nullptr);
        const std::uint16_t mask = reply ? reply->mask : 0xffff;
        std::free(reply);
        return mask;
    }

    // Presses the keys in order and releases them in reverse order. The server's clock has moved
    // on when it returns: the X server repeats a held key as a release and a press at the same
    // time stamp, so a new press at the time of the last release would pass for a repeat.
    void type(const std::vector<xcb_keysym_t>& keys) {
        press(keys);
        release(keys);
        const xcb_timestamp_t released = serverTime();
        while (serverTime() == released) {
        }
    }
    // Presses the keys in order and holds them.
    void press(const std::vector<xcb_keysym_t>& keys) {
        for (const auto key : keys) {
            xcb_test_fake_input(connection_, XCB_KEY_PRESS, keycode(key), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        }
        sync();
    }
    // Releases the keys in reverse order.
    void release(const std::vector<xcb_keysym_t>& keys) {
        for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
            xcb_test_fake_input(connection_, XCB_KEY_RELEASE, keycode(*key), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        }
        sync();
    }
    // Makes the server repeat a held key.
    void enableKeyRepeat() {
        const std::uint32_t on = XCB_AUTO_REPEAT_MODE_ON;
        xcb_change_keyboard_control(connection_, XCB_KB_AUTO_REPEAT_MODE, &on);
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

    xcb_keycode_t keycode(xcb_keysym_t keysym) const {
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols_, keysym);
        const xcb_keycode_t code = codes ? codes[0] : 0;
        std::free(codes);
        return code;
    }

private:
    xcb_window_t root() const { return xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root; }
    // Waits until the server has handled everything sent so far.
    void sync() { std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr)); }
    // The server's time now, from the notification of an empty change of a property.
    xcb_timestamp_t serverTime() {
        xcb_change_property(connection_, XCB_PROP_MODE_APPEND, clockWindow_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0,
                            nullptr);
        xcb_flush(connection_);
        while (xcb_generic_event_t* event = xcb_wait_for_event(connection_)) {
            const bool isChange = (event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY;
            const xcb_timestamp_t time = isChange ? reinterpret_cast<xcb_property_notify_event_t*>(event)->time : 0;
            std::free(event);
            if (isChange) {
                return time;
            }
        }
        return 0; // the connection broke
    }

    xcb_connection_t* connection_;
    xcb_key_symbols_t* symbols_;
    xcb_window_t clockWindow_;
};

} // namespace harkwell::testing
