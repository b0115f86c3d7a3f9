#include "app/ElidedLabel.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace harkwell {

ElidedLabel::ElidedLabel(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ElidedLabel::setText(const QString& text) {
    if (text == text_) {
        return;
    }
    text_ = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

QString ElidedLabel::displayedText() const { return fontMetrics().elidedText(text_, Qt::ElideRight, width()); }

QSize ElidedLabel::sizeHint() const {
    // Whole pixels and one more, so that the text at this width is never cut.
    const QFontMetricsF metrics(font());
    return {int(std::ceil(metrics.horizontalAdvance(text_))) + 1, fontMetrics().height()};
}

QSize ElidedLabel::minimumSizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    return {qMin(metrics.horizontalAdvance(QStringLiteral("…")), sizeHint().width()), metrics.height()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, displayedText());
}

} // namespace harkwell
