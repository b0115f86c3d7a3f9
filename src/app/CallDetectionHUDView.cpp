#include "app/CallDetectionHUDView.h"

#include "app/ElidedLabel.h"
#include "app/Icons.h"
#include "app/Style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace harkwell {
namespace {

constexpr QSize viewSize{340, 72};
constexpr int surfaceInset = 4; // the capsule is 332 x 64, centred
constexpr int horizontalPadding = 14;
constexpr int badgeSize = 40;
constexpr int badgeGlyphSize = 22; // the ear drawn to match a 19 px semibold symbol
constexpr double shadowOpacity = 0.22;
constexpr int shadowRadius = 12;
constexpr int shadowOffsetY = 5;

QPainterPath capsule(const QRectF& rect) {
    QPainterPath path;
    const qreal radius = rect.height() / 2;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

// The badge: the ear in the accent colour over a circle of the accent colour at 15%.
QPixmap badgePixmap(const QPalette& palette, qreal devicePixelRatio) {
    const QColor accent = style::accentColor(palette);
    QPixmap pixmap(qRound(badgeSize * devicePixelRatio), qRound(badgeSize * devicePixelRatio));
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor circle = accent;
    circle.setAlphaF(0.15f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(circle);
    painter.drawEllipse(QRectF(0, 0, badgeSize, badgeSize));
    const int offset = (badgeSize - badgeGlyphSize) / 2;
    painter.drawPixmap(offset, offset, icons::pixmap("ear-waveform", accent, badgeGlyphSize, devicePixelRatio));
    return pixmap;
}

} // namespace

CallDetectionHUDView::CallDetectionHUDView(QWidget* parent)
    : QWidget(parent), badge_(new QLabel(this)), title_(new ElidedLabel(this)), subtitle_(new QLabel(this)) {
    setFixedSize(viewSize);
    setAttribute(Qt::WA_TranslucentBackground);

    badge_->setFixedSize(badgeSize, badgeSize);
    badge_->setPixmap(badgePixmap(palette(), devicePixelRatioF()));

    title_->setFont(style::systemFont(15, QFont::DemiBold));
    subtitle_->setFont(style::systemFont(12, QFont::Medium));
    subtitle_->setText(subtitleText());
    QPalette secondary = subtitle_->palette();
    secondary.setColor(QPalette::WindowText, style::secondaryTextColor(palette()));
    subtitle_->setPalette(secondary);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->setContentsMargins(0, 0, 0, 0);
    texts->addStretch();
    texts->addWidget(title_);
    texts->addWidget(subtitle_);
    texts->addStretch();

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(surfaceInset + horizontalPadding, surfaceInset, surfaceInset + horizontalPadding,
                            surfaceInset);
    row->setSpacing(12);
    row->addWidget(badge_, 0, Qt::AlignVCenter);
    row->addLayout(texts, 1);

    setTargetPhrase(QString());
}

QString CallDetectionHUDView::titleText(const QString& phrase) {
    return QStringLiteral("Someone called you, %1!").arg(phrase);
}

QString CallDetectionHUDView::subtitleText() { return QStringLiteral("Transparency turned on"); }

QString CallDetectionHUDView::accessibleText(const QString& phrase) {
    return QStringLiteral("Someone called you, %1. Transparency turned on.").arg(phrase);
}

void CallDetectionHUDView::setTargetPhrase(const QString& phrase) {
    targetPhrase_ = phrase;
    title_->setText(titleText(phrase));
    setAccessibleName(accessibleText(phrase));
}

void CallDetectionHUDView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF surface = QRectF(rect()).adjusted(surfaceInset, surfaceInset, -surfaceInset, -surfaceInset);

    // A soft shadow below the capsule: layers that widen while they fade.
    painter.setPen(Qt::NoPen);
    for (int step = shadowRadius; step >= 1; step -= 2) {
        QColor shade(0, 0, 0);
        shade.setAlphaF(float(shadowOpacity * 2.0 / shadowRadius * (1.0 - double(step) / (shadowRadius + 1))));
        const qreal spread = step / 2.0;
        painter.setBrush(shade);
        painter.drawPath(capsule(surface.translated(0, shadowOffsetY).adjusted(-spread, -spread, spread, spread)));
    }

    // The translucent surface and its faint white outline.
    QColor fill = palette().color(QPalette::Window);
    fill.setAlphaF(0.88f);
    painter.setBrush(fill);
    painter.drawPath(capsule(surface));
    QColor outline(255, 255, 255);
    outline.setAlphaF(0.16f);
    painter.setPen(QPen(outline, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(capsule(surface.adjusted(0.5, 0.5, -0.5, -0.5)));
}

} // namespace harkwell
