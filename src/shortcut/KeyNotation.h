#pragma once

#include "shortcut/HotKeySetting.h"

#include <QString>

namespace harkwell {

// The ways the desktops' own shortcut services write a key combination.
enum class KeyNotation {
    // The GlobalShortcuts portal's preferred trigger: "CTRL+ALT+K", "SHIFT+LOGO+Up".
    portal,
    // A GTK accelerator, as GNOME's custom keybindings store it: "<Control><Alt>k", "<Super><Shift>Up".
    gtk,
    // A sway bindsym: "Ctrl+Mod1+k", "Mod4+Shift+Up".
    sway,
};

// setting's combination in notation, the key by its X keysym name; empty for a key outside the
// table of virtual key codes (a damaged setting).
QString keyNotation(const HotKeySetting& setting, KeyNotation notation);

// The combination as a Qt key code with its modifiers (Qt::META | Qt::SHIFT | Qt::Key_Up), as
// KDE's kglobalaccel takes it; 0 for a key outside the table.
int qtKeyCombination(const HotKeySetting& setting);

// The line of sway's config that runs command at setting: "bindsym Mod4+Shift+h exec harkwell
// --toggle-mode"; empty for a key outside the table.
QString swayBindingLine(const HotKeySetting& setting, const QString& command);

} // namespace harkwell
