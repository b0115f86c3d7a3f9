#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace harkwell {

// The entry that has the desktop session start Harkwell at login: a desktop entry named
// io.github.harkwell.Harkwell.desktop in the user's autostart folder, as freedesktop desktops
// look for one at login. It starts the executable it was made with.
//
// The entry is written whole through a new file that replaces the old one, so a crash leaves the
// old or the new entry; it is read afresh at every question, since the user may edit or delete it.
class AutostartEntry {
public:
    static constexpr const char* fileName = "io.github.harkwell.Harkwell.desktop";

    // The user's autostart folder ($XDG_CONFIG_HOME/autostart, ~/.config/autostart without it),
    // starting the running executable.
    AutostartEntry();
    // An autostart folder and an executable (an absolute path) of the caller's choosing.
    AutostartEntry(const QString& directory, const QString& executablePath);

    QString filePath() const;

    // Whether the session starts Harkwell: the entry exists, is a desktop entry, and is neither
    // hidden (Hidden=true) nor switched off (X-GNOME-Autostart-enabled=false).
    bool isEnabled() const;
    // Writes the entry, replacing a file of that name, or removes it; the reason when that fails.
    std::optional<QString> setEnabled(bool enabled);

    // The entry's text.
    QByteArray contents() const;
    // The Exec value that runs the executable: quoted when the path holds a character the
    // desktop entry format reserves, '%' doubled, then escaped as a string value.
    static QString execValue(const QString& executablePath);

private:
    std::optional<QString> write() const;
    std::optional<QString> remove() const;

    QString directory_;
    QString executablePath_;
};

} // namespace harkwell
