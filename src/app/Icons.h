#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

#include <optional>

namespace harkwell {

// The application's own line icons, drawn from the SVG files under :/harkwell/icons in one colour.
// Names: "ear-waveform" (tray and call panel), "ear", "ear-off" and "ear-waveform-dot" (tray),
// "mic", "mic-fill", "power", "plus", "remove", "shield-check", "speaker-off".
namespace icons {

// What the tray icon shows.
enum class TrayState {
    notListening,
    listening,
    // Listening, with the AirPods in Transparency because a call switched them.
    transparencyAfterCall,
};

// The icon in color, with a faded copy for the disabled state, and in checkedColor for a checked
// button when given; empty for an unknown name.
QIcon icon(const QString& name, const QColor& color, const std::optional<QColor>& checkedColor = std::nullopt);
// The icon drawn at size logical pixels for a device pixel ratio.
QPixmap pixmap(const QString& name, const QColor& color, int size, qreal devicePixelRatio = 1.0);
// The tray icon for a state: the line drawing in the colour of text on the current palette's
// window, with a halo of the opposite lightness, so that it reads on a black panel as on a white
// one whatever the palette (a StatusNotifierItem host draws it on a panel of its own).
QIcon trayIcon(TrayState state);

} // namespace icons
} // namespace harkwell
