#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

namespace harkwell::style {

// The system font at a size in logical pixels.
QFont systemFont(int pixelSize, QFont::Weight weight = QFont::Normal);
// The system's fixed-width font at a size in logical pixels.
QFont monospacedFont(int pixelSize, QFont::Weight weight = QFont::Normal);

// The text styles the panels use, after the desktop's usual type ramp.
QFont headlineFont(); // section titles: 13 px semibold
QFont calloutFont();  // explanations and messages: 12 px
QFont captionFont();  // counts and hints: 11 px

// Colours, all taken from the palette so that light and dark desktops are followed.
QColor secondaryTextColor(const QPalette& palette);
QColor separatorColor(const QPalette& palette);
QColor accentColor(const QPalette& palette);
// A red that reads on the palette's window, light or dark.
QColor errorColor(const QPalette& palette);
bool isDark(const QPalette& palette);

} // namespace harkwell::style
