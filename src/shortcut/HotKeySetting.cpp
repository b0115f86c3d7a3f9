#include "shortcut/HotKeySetting.h"

#include "shortcut/VirtualKeyCode.h"

#include <QKeyEvent>
#include <QString>

namespace harkwell {
namespace {

std::uint32_t carbonFlags(Qt::KeyboardModifiers modifiers) {
    std::uint32_t mask = 0;
    if (modifiers & Qt::MetaModifier) {
        mask |= carbon::command;
    }
    if (modifiers & Qt::AltModifier) {
        mask |= carbon::option;
    }
    if (modifiers & Qt::ControlModifier) {
        mask |= carbon::control;
    }
    if (modifiers & Qt::ShiftModifier) {
        mask |= carbon::shift;
    }
    return mask;
}

// The modifiers as Linux desktops name them, in their order: "Super+Ctrl+Alt+Shift+".
std::string modifierLabels(std::uint32_t mask) {
    std::string labels;
    if (mask & carbon::command) {
        labels += "Super+";
    }
    if (mask & carbon::control) {
        labels += "Ctrl+";
    }
    if (mask & carbon::option) {
        labels += "Alt+";
    }
    if (mask & carbon::shift) {
        labels += "Shift+";
    }
    return labels;
}

// The label a Linux desktop shows for a key that is no character, by its virtual key code; the
// stored label (which keeps the original symbols, such as "←") is shown for the others.
std::optional<std::string_view> linuxKeyLabel(std::uint32_t keyCode) {
    switch (keyCode) {
    case 51:
        return "Backspace";
    case 53:
        return "Escape";
    case 117:
        return "Delete";
    case 123:
        return "Left";
    case 124:
        return "Right";
    case 125:
        return "Down";
    case 126:
        return "Up";
    default:
        return std::nullopt;
    }
}

// The character a keysym stands for, if it is one: Latin-1 keysyms are their code point, and
// keysyms 0x01000000 + U stand for the code point U.
QString keysymCharacters(std::uint32_t keysym) {
    char32_t codePoint = 0;
    if ((keysym >= 0x20 && keysym <= 0x7e) || (keysym >= 0xa0 && keysym <= 0xff)) {
        codePoint = keysym;
    } else if (keysym >= 0x01000100 && keysym <= 0x0110ffff) {
        codePoint = keysym - 0x01000000;
    } else {
        return {};
    }
    return QString::fromUcs4(&codePoint, 1);
}

// The label of a key: a name for the keys that have one, else the key's character ignoring
// every modifier but Shift (the keysym the layout gives), upper-cased and trimmed, else a name
// made from the keysym's (function keys, the keypad).
std::string displayKey(std::uint32_t keyCode, std::uint32_t keysym) {
    switch (keyCode) {
    case 36:
        return "Return";
    case 48:
        return "Tab";
    case 49:
        return "Space";
    case 51:
        return "Delete";
    case 53:
        return "Esc";
    case 123:
        return "←";
    case 124:
        return "→";
    case 125:
        return "↓";
    case 126:
        return "↑";
    case 114:
        return "Insert";
    case 115:
        return "Home";
    case 116:
        return "Page Up";
    case 117:
        return "⌦";
    case 119:
        return "End";
    case 121:
        return "Page Down";
    default:
        break;
    }
    const QString characters = keysymCharacters(keysym).toUpper().trimmed();
    if (!characters.isEmpty()) {
        return characters.toStdString();
    }
    if (!keysymCharacters(keysym).isEmpty()) {
        return {}; // a white-space character
    }
    const auto key = virtualKeyFromCode(keyCode);
    if (!key) {
        return {};
    }
    if (key->keysymName.starts_with("KP_")) {
        return "Keypad " + std::string(key->keysymName.substr(3));
    }
    return std::string(key->keysymName); // F1 to F20
}

} // namespace

std::string HotKeySetting::displayName() const {
    const auto label = linuxKeyLabel(keyCode);
    return modifierLabels(modifiers) + (label ? std::string(*label) : key);
}

std::optional<std::uint32_t> HotKeySetting::virtualKeyCode(const QKeyEvent& event) {
    return virtualKeyCodeFromKeysym(event.nativeVirtualKey());
}

bool HotKeySetting::isModifierKey(const QKeyEvent& event) {
    switch (event.key()) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
        return true;
    default:
        return false;
    }
}

std::optional<HotKeySetting> HotKeySetting::from(const QKeyEvent& event) {
    const std::uint32_t mask = carbonFlags(event.modifiers());
    if (mask == 0) {
        return std::nullopt;
    }
    const auto keyCode = virtualKeyCode(event);
    if (!keyCode) {
        return std::nullopt;
    }
    std::string key = displayKey(*keyCode, event.nativeVirtualKey());
    if (key.empty()) {
        return std::nullopt;
    }
    return HotKeySetting{*keyCode, mask, std::move(key)};
}

} // namespace harkwell
