#include "app/SwitchButton.h"

#include "app/Style.h"

#include <QPainter>

namespace harkwell {

namespace {
constexpr QSize trackSize{38, 22};
constexpr int knobMargin = 2;
} // namespace

SwitchButton::SwitchButton(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize SwitchButton::sizeHint() const { return trackSize; }

bool SwitchButton::hitButton(const QPoint& position) const { return rect().contains(position); }

void SwitchButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) {
        painter.setOpacity(0.45);
    }
    const QRectF track = QRectF(QPointF(0, 0), QSizeF(trackSize)).translated(0, (height() - trackSize.height()) / 2.0);
    const qreal radius = track.height() / 2;

    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? style::accentColor(palette()) : style::separatorColor(palette()));
    painter.drawRoundedRect(track, radius, radius);

    const qreal knob = track.height() - 2 * knobMargin;
    const qreal x = isChecked() ? track.right() - knobMargin - knob : track.left() + knobMargin;
    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawEllipse(QRectF(x, track.top() + knobMargin + 0.75, knob, knob));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, track.top() + knobMargin, knob, knob));

    if (hasFocus()) {
        QColor ring = style::accentColor(palette());
        ring.setAlphaF(0.5f);
        painter.setPen(QPen(ring, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    }
}

} // namespace harkwell
