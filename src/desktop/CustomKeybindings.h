#pragma once

#include <QString>

#include <memory>
#include <optional>

namespace harkwell {

// A keyboard shortcut of the desktop's own that runs a command: its name as the desktop's
// settings list it, the command line, and the combination as a GTK accelerator ("<Super><Shift>h").
struct CustomKeybinding {
    QString name;
    QString command;
    QString binding;
    bool operator==(const CustomKeybinding&) const = default;
};

// The desktop's own list of custom keyboard shortcuts, where Harkwell keeps one entry.
class CustomKeybindings {
public:
    virtual ~CustomKeybindings() = default;
    // Makes keybinding Harkwell's entry: adds it, or replaces the one added before; the other
    // entries stay as they are. Returns why it could not, for the user, or nothing.
    virtual std::optional<QString> write(const CustomKeybinding& keybinding) = 0;
    // Removes Harkwell's entry, if there is one; the others stay. Returns why it could not, or nothing.
    virtual std::optional<QString> remove() = 0;
};

// GNOME's custom keybindings through GSettings (org.gnome.settings-daemon.plugins.media-keys
// custom-keybindings, each entry a ...media-keys.custom-keybinding at its own path; Harkwell's at
// .../custom-keybindings/harkwell/), in the default settings backend (dconf on GNOME). Nothing
// when GNOME's settings schemas are not installed.
std::unique_ptr<CustomKeybindings> makeGnomeCustomKeybindings();

} // namespace harkwell
