#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

namespace harkwell {

// Where the control panel's top-left corner goes. Below the tray icon, centred on it, or above it
// when there is no room below (a panel at the bottom of the screen); without an icon position (the
// StatusNotifier trays do not tell it), next to the pointer, below or above it in the same way. The
// panel is kept entirely inside the screen's available area whenever it fits.
QPoint popoverOrigin(QSize popoverSize, const std::optional<QRect>& trayIcon, QPoint pointer, const QRect& available);

} // namespace harkwell
