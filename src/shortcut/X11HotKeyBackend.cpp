#include "shortcut/X11HotKeyBackend.h"

#include "shortcut/HotKeyError.h"
#include "shortcut/VirtualKeyCode.h"

#include <QByteArray>
#include <QCoreApplication>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <xcb/xcb_keysyms.h>

namespace harkwell {
namespace {

constexpr xcb_keysym_t numLockKeysym = 0xff7f;
constexpr std::uint16_t shortcutModifierMask =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

struct KeySymbolsDeleter {
    void operator()(xcb_key_symbols_t* symbols) const { xcb_key_symbols_free(symbols); }
};
using KeySymbols = std::unique_ptr<xcb_key_symbols_t, KeySymbolsDeleter>;

std::vector<xcb_keycode_t> keycodesOf(xcb_key_symbols_t* symbols, xcb_keysym_t keysym) {
    std::vector<xcb_keycode_t> keycodes;
    xcb_keycode_t* list = xcb_key_symbols_get_keycode(symbols, keysym);
    for (const xcb_keycode_t* code = list; code && *code != XCB_NO_SYMBOL; ++code) {
        keycodes.push_back(*code);
    }
    std::free(list);
    return keycodes;
}

// The modifier bit the keyboard map gives Num Lock (usually Mod2); 0 when it has none.
std::uint16_t numLockMask(xcb_connection_t* connection, xcb_key_symbols_t* symbols) {
    const auto numLockKeycodes = keycodesOf(symbols, numLockKeysym);
    std::unique_ptr<xcb_get_modifier_mapping_reply_t, decltype(&std::free)> mapping(
        xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr), &std::free);
    if (!mapping || numLockKeycodes.empty()) {
        return 0;
    }
    const xcb_keycode_t* keycodes = xcb_get_modifier_mapping_keycodes(mapping.get());
    const int perModifier = mapping->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int i = 0; i < perModifier; ++i) {
            const xcb_keycode_t keycode = keycodes[modifier * perModifier + i];
            if (keycode != 0 && std::ranges::find(numLockKeycodes, keycode) != numLockKeycodes.end()) {
                return static_cast<std::uint16_t>(1u << modifier);
            }
        }
    }
    return 0;
}

std::uint16_t x11Modifiers(std::uint32_t carbonMask) {
    std::uint16_t modifiers = 0;
    if (carbonMask & carbon::command) {
        modifiers |= XCB_MOD_MASK_4; // Super
    }
    if (carbonMask & carbon::option) {
        modifiers |= XCB_MOD_MASK_1; // Alt
    }
    if (carbonMask & carbon::control) {
        modifiers |= XCB_MOD_MASK_CONTROL;
    }
    if (carbonMask & carbon::shift) {
        modifiers |= XCB_MOD_MASK_SHIFT;
    }
    return modifiers;
}

} // namespace

X11HotKeyBackend::X11HotKeyBackend(xcb_connection_t* connection, xcb_window_t root)
    : connection_(connection), root_(root) {
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11HotKeyBackend::~X11HotKeyBackend() {
    unregisterHotKey();
    if (auto* application = QCoreApplication::instance()) {
        application->removeNativeEventFilter(this);
    }
}

std::optional<std::int32_t> X11HotKeyBackend::registerHotKey(const HotKeySetting& setting, HotKeyId id) {
    const auto key = virtualKeyFromCode(setting.keyCode);
    if (!key) {
        return HotKeyError::keyNotOnKeyboard;
    }
    const KeySymbols symbols(xcb_key_symbols_alloc(connection_));
    if (!symbols) {
        return HotKeyError::keyNotOnKeyboard;
    }
    const auto keycodes = keycodesOf(symbols.get(), key->keysym);
    if (keycodes.empty()) {
        return HotKeyError::keyNotOnKeyboard;
    }
    const std::uint16_t numLock = numLockMask(connection_, symbols.get());
    const std::uint16_t modifiers = x11Modifiers(setting.modifiers);
    std::vector<Grab> grabs;
    for (const xcb_keycode_t keycode : keycodes) {
        for (const std::uint16_t locks : {std::uint16_t{0}, numLock, std::uint16_t{XCB_MOD_MASK_LOCK},
                                          static_cast<std::uint16_t>(numLock | XCB_MOD_MASK_LOCK)}) {
            const Grab grab{keycode, static_cast<std::uint16_t>(modifiers | locks)};
            if (std::ranges::find(grabs, grab) == grabs.end()) {
                grabs.push_back(grab);
            }
        }
    }

    // The new grabs are made before the current ones go, so that a refusal leaves the current
    // shortcut as it was. Grabs both shortcuts share are this client's already.
    const auto added = without(grabs, grabs_);
    std::vector<xcb_void_cookie_t> cookies;
    cookies.reserve(added.size());
    for (const auto& [keycode, variant] : added) {
        cookies.push_back(
            xcb_grab_key_checked(connection_, 0, root_, variant, keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    std::int32_t status = 0;
    for (const auto cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(connection_, cookie)) {
            if (status == 0) {
                status = -static_cast<std::int32_t>(error->error_code);
            }
            std::free(error);
        }
    }
    if (status != 0) {
        // Ungrabbing releases only this client's grabs, so the refused ones are left alone.
        ungrab(added);
        return status;
    }
    ungrab(without(grabs_, grabs));
    grabs_ = std::move(grabs);
    modifiers_ = modifiers;
    ignoredModifiers_ = static_cast<std::uint16_t>(numLock | XCB_MOD_MASK_LOCK);
    id_ = id;
    repeats_.reset();
    return 0;
}

void X11HotKeyBackend::unregisterHotKey() {
    if (grabs_.empty()) {
        return;
    }
    ungrab(grabs_);
    grabs_.clear();
    repeats_.reset();
}

std::vector<X11HotKeyBackend::Grab> X11HotKeyBackend::without(const std::vector<Grab>& grabs,
                                                              const std::vector<Grab>& removed) {
    std::vector<Grab> kept;
    std::ranges::copy_if(grabs, std::back_inserter(kept),
                         [&removed](const Grab& grab) { return std::ranges::find(removed, grab) == removed.end(); });
    return kept;
}

void X11HotKeyBackend::ungrab(const std::vector<Grab>& grabs) {
    for (const auto& [keycode, variant] : grabs) {
        xcb_ungrab_key(connection_, keycode, root_, variant);
    }
    // A round trip: once it returns the server has released the grabs, so the combination is
    // free for other clients at once.
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

bool X11HotKeyBackend::isGrabbedKey(xcb_keycode_t keycode) const {
    return std::ranges::any_of(grabs_, [keycode](const Grab& grab) { return grab.first == keycode; });
}

bool X11HotKeyBackend::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (grabs_.empty() || eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const auto type = event->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) {
        return false;
    }
    const auto* keyEvent = static_cast<const xcb_key_press_event_t*>(message);
    if (keyEvent->event != root_ || !isGrabbedKey(keyEvent->detail)) {
        return false;
    }
    if (type == XCB_KEY_RELEASE) {
        repeats_.release(keyEvent->detail, keyEvent->time);
        return true;
    }
    if (repeats_.isRepeat(keyEvent->detail, keyEvent->time)) {
        return true;
    }
    if ((keyEvent->state & shortcutModifierMask & ~ignoredModifiers_) != modifiers_) {
        return false;
    }
    repeats_.hold();
    reportPress(id_);
    return true;
}

} // namespace harkwell
