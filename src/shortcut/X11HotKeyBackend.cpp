#include "shortcut/X11HotKeyBackend.h"

#include "shortcut/HotKeyError.h"
#include "shortcut/VirtualKeyCode.h"

#include <QByteArray>
#include <QCoreApplication>

#include <algorithm>
#include <cstdlib>
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

std::int32_t X11HotKeyBackend::registerHotKey(const HotKeySetting& setting, HotKeyId id) {
    unregisterHotKey();
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
    std::vector<std::uint16_t> variants;
    for (const std::uint16_t locks : {std::uint16_t{0}, numLock, std::uint16_t{XCB_MOD_MASK_LOCK},
                                      static_cast<std::uint16_t>(numLock | XCB_MOD_MASK_LOCK)}) {
        const auto variant = static_cast<std::uint16_t>(modifiers | locks);
        if (std::ranges::find(variants, variant) == variants.end()) {
            variants.push_back(variant);
        }
    }

    std::vector<xcb_void_cookie_t> cookies;
    for (const xcb_keycode_t keycode : keycodes) {
        for (const std::uint16_t variant : variants) {
            cookies.push_back(xcb_grab_key_checked(connection_, 0, root_, variant, keycode, XCB_GRAB_MODE_ASYNC,
                                                   XCB_GRAB_MODE_ASYNC));
        }
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
        ungrab(keycodes, variants);
        return status;
    }
    keycodes_ = keycodes;
    modifierVariants_ = variants;
    modifiers_ = modifiers;
    ignoredModifiers_ = static_cast<std::uint16_t>(numLock | XCB_MOD_MASK_LOCK);
    id_ = id;
    isHeld_ = false;
    return 0;
}

void X11HotKeyBackend::unregisterHotKey() {
    if (keycodes_.empty()) {
        return;
    }
    ungrab(keycodes_, modifierVariants_);
    keycodes_.clear();
    modifierVariants_.clear();
    isHeld_ = false;
}

void X11HotKeyBackend::ungrab(const std::vector<xcb_keycode_t>& keycodes,
                              const std::vector<std::uint16_t>& modifierVariants) {
    for (const xcb_keycode_t keycode : keycodes) {
        for (const std::uint16_t variant : modifierVariants) {
            xcb_ungrab_key(connection_, keycode, root_, variant);
        }
    }
    xcb_flush(connection_);
}

bool X11HotKeyBackend::isGrabbedKey(xcb_keycode_t keycode) const {
    return std::ranges::find(keycodes_, keycode) != keycodes_.end();
}

bool X11HotKeyBackend::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (keycodes_.empty() || eventType != "xcb_generic_event_t") {
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
        isHeld_ = false;
        return true;
    }
    if ((keyEvent->state & shortcutModifierMask & ~ignoredModifiers_) != modifiers_) {
        return false;
    }
    if (!isHeld_) {
        isHeld_ = true;
        reportPress(id_);
    }
    return true;
}

} // namespace harkwell
