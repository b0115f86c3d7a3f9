#include "shortcut/KeyNotation.h"

#include "shortcut/VirtualKeyCode.h"

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

QString swayBindingLine(const HotKeySetting& setting, const QString& command) {
    const QString keys = keyNotation(setting, KeyNotation::sway);
    return keys.isEmpty() ? QString() : QStringLiteral("bindsym %1 exec %2").arg(keys, command);
}

} // namespace harkwell
