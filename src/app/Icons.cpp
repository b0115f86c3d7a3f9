#include "app/Icons.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QSvgRenderer>

#include <algorithm>

namespace harkwell::icons {
namespace {

// The SVG text with every "currentColor" replaced by color; empty when there is no such icon.
QByteArray coloredSvg(const QString& name, const QColor& color) {
    QFile file(":/harkwell/icons/" + name + ".svg");
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QByteArray svg = file.readAll();
    svg.replace("currentColor", color.name(QColor::HexRgb).toLatin1());
    if (color.alpha() != 255) {
        // Opacity on the root group keeps overlapping strokes from darkening each other.
        svg.replace("<svg ", "<svg opacity=\"" + QByteArray::number(color.alphaF(), 'f', 3) + "\" ");
    }
    return svg;
}

QColor faded(QColor color) {
    color.setAlphaF(color.alphaF() * 0.35f);
    return color;
}

} // namespace

QPixmap pixmap(const QString& name, const QColor& color, int size, qreal devicePixelRatio) {
    QSvgRenderer renderer(coloredSvg(name, color));
    if (!renderer.isValid()) {
        return {};
    }
    const int pixels = qRound(size * devicePixelRatio);
    QPixmap result(pixels, pixels);
    result.fill(Qt::transparent);
    {
        QPainter painter(&result);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
    }
    result.setDevicePixelRatio(devicePixelRatio);
    return result;
}

QIcon icon(const QString& name, const QColor& color, const std::optional<QColor>& checkedColor) {
    QIcon result;
    for (const int size : {12, 14, 16, 19, 22, 24, 32, 48, 64}) {
        const QPixmap normal = pixmap(name, color, size);
        if (normal.isNull()) {
            return {};
        }
        result.addPixmap(normal, QIcon::Normal);
        result.addPixmap(pixmap(name, faded(color), size), QIcon::Disabled);
        if (checkedColor) {
            result.addPixmap(pixmap(name, *checkedColor, size), QIcon::Normal, QIcon::On);
            result.addPixmap(pixmap(name, faded(*checkedColor), size), QIcon::Disabled, QIcon::On);
        }
    }
    return result;
}

QIcon trayIcon(TrayState state) {
    const char* name = state == TrayState::notListening ? "ear-off"
                       : state == TrayState::listening  ? "ear-waveform"
                                                        : "ear-waveform-dot";
    // The panel behind the icon is not ours to know: a StatusNotifierItem host draws it on its own
    // bar, black on GNOME and sway, light on others. The glyph in the text colour gets a halo of
    // the opposite lightness, so that one of the two stands out on any panel.
    const QColor glyph = QGuiApplication::palette().color(QPalette::Active, QPalette::WindowText);
    const QColor halo = glyph.lightnessF() < 0.5f ? QColor(Qt::white) : QColor(0x1c, 0x1c, 0x1c);
    QIcon result;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        const QPixmap ink = pixmap(name, glyph, size);
        const QPixmap outline = pixmap(name, halo, size);
        QPixmap haloed(ink.size());
        haloed.fill(Qt::transparent);
        QPainter painter(&haloed);
        const int radius = std::max(1, size / 16);
        for (int dx = -radius; dx <= radius; ++dx) {
            for (int dy = -radius; dy <= radius; ++dy) {
                if (dx * dx + dy * dy <= radius * radius + radius) {
                    painter.drawPixmap(dx, dy, outline);
                }
            }
        }
        painter.drawPixmap(0, 0, ink);
        painter.end();
        result.addPixmap(haloed);
    }
    return result;
}

} // namespace harkwell::icons
