#include "shortcut/KeyNotation.h"

#include "shortcut/VirtualKeyCode.h"

#include <QKeyCombination>

#include <array>
#include <utility>

namespace harkwell {
namespace {

// The portal lists LOGO last, as its examples do; GTK and sway put Super first, as desktops show it.
constexpr std::array<std::uint32_t, 4> portalOrder{carbon::control, carbon::option, carbon::shift, carbon::command};
constexpr std::array<std::uint32_t, 4> desktopOrder{carbon::command, carbon::control, carbon::option, carbon::shift};

// Each modifier's name in the portal's, GTK's and sway's notation, in KeyNotation's order.
QLatin1String modifierName(std::uint32_t modifier, KeyNotation notation) {
    static constexpr std::array<std::pair<std::uint32_t, std::array<const char*, 3>>, 4> names{{
        {carbon::control, {"CTRL+", "<Control>", "Ctrl+"}},
        {carbon::option, {"ALT+", "<Alt>", "Mod1+"}},
        {carbon::shift, {"SHIFT+", "<Shift>", "Shift+"}},
        {carbon::command, {"LOGO+", "<Super>", "Mod4+"}},
    }};
    for (const auto& [mask, written] : names) {
        if (mask == modifier) {
            return QLatin1String(written.at(static_cast<std::size_t>(notation)));
        }
    }
    return {};
}

// The Qt key of a keysym in the table: characters are their Latin-1 code (letters as capitals),
// the keypad's keys their main keys with the keypad modifier.
QKeyCombination qtKey(std::uint32_t keysym) {
    constexpr std::uint32_t xkF1 = 0xffbe, xkF20 = 0xffd1, xkKp0 = 0xffb0, xkKp9 = 0xffb9;
    if (keysym >= 'a' && keysym <= 'z') {
        return Qt::Key(Qt::Key_A + (keysym - 'a'));
    }
    if (keysym >= 0x20 && keysym < 0x7f) {
        return Qt::Key(keysym);
    }
    if (keysym >= xkF1 && keysym <= xkF20) {
        return Qt::Key(Qt::Key_F1 + (keysym - xkF1));
    }
    if (keysym >= xkKp0 && keysym <= xkKp9) {
        return Qt::KeypadModifier | Qt::Key(Qt::Key_0 + (keysym - xkKp0));
    }
    static constexpr std::array<std::pair<std::uint32_t, QKeyCombination>, 21> others{{
        {0xff0d, Qt::Key_Return},
        {0xff09, Qt::Key_Tab},
        {0xff08, Qt::Key_Backspace},
        {0xff1b, Qt::Key_Escape},
        {0xffff, Qt::Key_Delete},
        {0xff63, Qt::Key_Insert},
        {0xff50, Qt::Key_Home},
        {0xff57, Qt::Key_End},
        {0xff55, Qt::Key_PageUp},
        {0xff56, Qt::Key_PageDown},
        {0xff51, Qt::Key_Left},
        {0xff52, Qt::Key_Up},
        {0xff53, Qt::Key_Right},
        {0xff54, Qt::Key_Down},
        {0xffae, Qt::KeypadModifier | Qt::Key_Period},
        {0xffaa, Qt::KeypadModifier | Qt::Key_Asterisk},
        {0xffab, Qt::KeypadModifier | Qt::Key_Plus},
        {0xffaf, Qt::KeypadModifier | Qt::Key_Slash},
        {0xff8d, Qt::KeypadModifier | Qt::Key_Enter},
        {0xffad, Qt::KeypadModifier | Qt::Key_Minus},
        {0xffbd, Qt::KeypadModifier | Qt::Key_Equal},
    }};
    for (const auto& [each, key] : others) {
        if (each == keysym) {
            return key;
        }
    }
    return {};
}

} // namespace

QString keyNotation(const HotKeySetting& setting, KeyNotation notation) {
    const auto key = virtualKeyFromCode(setting.keyCode);
    if (!key) {
        return {};
    }
    QString written;
    for (const std::uint32_t modifier : notation == KeyNotation::portal ? portalOrder : desktopOrder) {
        if (setting.modifiers & modifier) {
            written += modifierName(modifier, notation);
        }
    }
    const QString name = QString::fromLatin1(key->keysymName.data(), static_cast<qsizetype>(key->keysymName.size()));
    // The portal spells a letter as its capital; GTK and sway take the keysym's own name.
    return written + (notation == KeyNotation::portal && name.size() == 1 ? name.toUpper() : name);
}

int qtKeyCombination(const HotKeySetting& setting) {
    const auto key = virtualKeyFromCode(setting.keyCode);
    if (!key) {
        return 0;
    }
    const QKeyCombination combination = qtKey(key->keysym);
    Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
    modifiers.setFlag(Qt::MetaModifier, setting.modifiers & carbon::command);
    modifiers.setFlag(Qt::AltModifier, setting.modifiers & carbon::option);
    modifiers.setFlag(Qt::ControlModifier, setting.modifiers & carbon::control);
    modifiers.setFlag(Qt::ShiftModifier, setting.modifiers & carbon::shift);
    return QKeyCombination(modifiers, combination.key()).toCombined();
}

QString swayBindingLine(const HotKeySetting& setting, const QString& command) {
    const QString keys = keyNotation(setting, KeyNotation::sway);
    return keys.isEmpty() ? QString() : QStringLiteral("bindsym %1 exec %2").arg(keys, command);
}

} // namespace harkwell
