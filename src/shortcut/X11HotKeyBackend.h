#pragma once

#include "shortcut/HotKeyBackend.h"
#include "shortcut/KeyRepeatFilter.h"

#include <QAbstractNativeEventFilter>

#include <optional>
#include <utility>
#include <vector>
#include <xcb/xcb.h>

namespace harkwell {

// System-wide shortcuts on X11: passive key grabs on the root window. The grab is made for every
// keycode that produces the key, each with the plain modifiers and with Num Lock and Caps Lock
// on, so that the lock keys do not matter. Presses reach a native event filter of the
// application, so the connection must be the one Qt reads its events from (the application's
// own, QNativeInterface::QX11Application::connection()), and the filter runs on the main thread.
class X11HotKeyBackend : public HotKeyBackend, private QAbstractNativeEventFilter {
public:
    // connection is not owned and must outlive the backend.
    X11HotKeyBackend(xcb_connection_t* connection, xcb_window_t root);
    ~X11HotKeyBackend() override;
    X11HotKeyBackend(const X11HotKeyBackend&) = delete;
    X11HotKeyBackend& operator=(const X11HotKeyBackend&) = delete;

    // Answers at once. A combination another client has grabbed already fails with -10 (BadAccess).
    std::optional<std::int32_t> registerHotKey(const HotKeySetting& setting, HotKeyId id) override;
    void unregisterHotKey() override;

private:
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    // One passive grab: a keycode with one modifier state.
    using Grab = std::pair<xcb_keycode_t, std::uint16_t>;
    static std::vector<Grab> without(const std::vector<Grab>& grabs, const std::vector<Grab>& removed);
    bool isGrabbedKey(xcb_keycode_t keycode) const;
    void ungrab(const std::vector<Grab>& grabs);

    xcb_connection_t* connection_;
    xcb_window_t root_;
    std::vector<Grab> grabs_;            // empty when nothing is registered
    std::uint16_t modifiers_ = 0;        // the shortcut's own modifiers
    std::uint16_t ignoredModifiers_ = 0; // Caps Lock and Num Lock
    HotKeyId id_;
    KeyRepeatFilter repeats_; // key repeat is not a new press
};

} // namespace harkwell
