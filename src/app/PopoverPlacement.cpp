#include "app/PopoverPlacement.h"

#include <algorithm>

namespace harkwell {
namespace {

constexpr int pointerGap = 8;

int clampInto(int position, int length, int areaStart, int areaLength) {
    return std::max(areaStart, std::min(position, areaStart + areaLength - length));
}

} // namespace

QPoint popoverOrigin(QSize popoverSize, const std::optional<QRect>& trayIcon, QPoint pointer, const QRect& available) {
    const QRect anchor = trayIcon && trayIcon->isValid()
                             ? *trayIcon
                             : QRect(pointer - QPoint(pointerGap, pointerGap), QSize(2 * pointerGap, 2 * pointerGap));
    int x = anchor.center().x() - popoverSize.width() / 2;
    int y = anchor.bottom() + 1;
    if (y + popoverSize.height() > available.bottom() + 1) {
        const int above = anchor.top() - popoverSize.height();
        // Above only when it fits better there.
        if (above >= available.top() || anchor.top() - available.top() > available.bottom() - anchor.bottom()) {
            y = above;
        }
    }
    x = clampInto(x, popoverSize.width(), available.left(), available.width());
    y = clampInto(y, popoverSize.height(), available.top(), available.height());
    return {x, y};
}

} // namespace harkwell
