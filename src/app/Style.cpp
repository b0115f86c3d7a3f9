#include "app/Style.h"

#include <QFontDatabase>

namespace harkwell::style {

QFont systemFont(int pixelSize, QFont::Weight weight) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QFont monospacedFont(int pixelSize, QFont::Weight weight) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QFont headlineFont() { return systemFont(13, QFont::DemiBold); }
QFont calloutFont() { return systemFont(12); }
QFont captionFont() { return systemFont(11); }

QColor secondaryTextColor(const QPalette& palette) {
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.6f);
    return color;
}

QColor separatorColor(const QPalette& palette) {
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.18f);
    return color;
}

QColor accentColor(const QPalette& palette) { return palette.color(QPalette::Active, QPalette::Highlight); }

bool isDark(const QPalette& palette) { return palette.color(QPalette::Window).lightness() < 128; }

QColor errorColor(const QPalette& palette) {
    return isDark(palette) ? QColor(0xff, 0x45, 0x3a) : QColor(0xd7, 0x00, 0x15);
}

} // namespace harkwell::style
