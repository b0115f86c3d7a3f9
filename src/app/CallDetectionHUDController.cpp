#include "app/CallDetectionHUDController.h"

#include "app/CallDetectionHUDView.h"

#include <QCursor>
#include <QEasingCurve>
#include <QGuiApplication>
#include <QParallelAnimationGroup>
#include <QPauseAnimation>
#include <QPropertyAnimation>
#include <QScreen>
#include <QThread>

namespace harkwell {
namespace {

// The platform's standard ease-out and ease-in timing curves.
QEasingCurve cubicBezier(QPointF first, QPointF second) {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(first, second, QPointF(1, 1));
    return curve;
}

// Opacity and position moving together over the fade time.
QAnimationGroup* fade(QWidget* window, qreal fromOpacity, qreal toOpacity, QPoint fromPosition, QPoint toPosition,
                      const QEasingCurve& curve) {
    auto* group = new QParallelAnimationGroup;
    auto* opacity = new QPropertyAnimation(window, "windowOpacity", group);
    opacity->setStartValue(fromOpacity);
    opacity->setEndValue(toOpacity);
    auto* position = new QPropertyAnimation(window, "pos", group);
    position->setStartValue(fromPosition);
    position->setEndValue(toPosition);
    for (auto* animation : {opacity, position}) {
        animation->setDuration(CallDetectionHUDController::fadeDurationMs);
        animation->setEasingCurve(curve);
    }
    return group;
}

} // namespace

CallDetectionHUDController::Environment CallDetectionHUDController::systemEnvironment() {
    return {
        [] { return QCursor::pos(); },
        [] {
            QList<HUDScreen> screens;
            for (const QScreen* screen : QGuiApplication::screens()) {
                screens.append({screen->geometry(), screen->availableGeometry()});
            }
            return screens;
        },
    };
}

CallDetectionHUDController::CallDetectionHUDController(Environment environment, QObject* parent)
    : QObject(parent), environment_(std::move(environment)), panel_(std::make_unique<CallDetectionHUDView>()) {
    panel_->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus |
                           Qt::X11BypassWindowManagerHint | Qt::NoDropShadowWindowHint);
    // Unmanaged by the window manager on X11, so it shows on every virtual desktop; the type tells
    // compositors what it is.
    panel_->setAttribute(Qt::WA_X11NetWmWindowTypeNotification);
    panel_->setAttribute(Qt::WA_ShowWithoutActivating);
    panel_->setAttribute(Qt::WA_TranslucentBackground);
    panel_->setFocusPolicy(Qt::NoFocus);
    panel_->setWindowTitle(QStringLiteral("Harkwell call"));
    connect(&timeline_, &QAbstractAnimation::finished, panel_.get(), &QWidget::hide);
}

CallDetectionHUDController::~CallDetectionHUDController() {
    timeline_.stop();
    timeline_.clear();
}

std::optional<HUDScreen> CallDetectionHUDController::activeScreen(QPoint pointer, const QList<HUDScreen>& screens) {
    for (const HUDScreen& screen : screens) {
        if (screen.frame.contains(pointer)) {
            return screen;
        }
    }
    if (!screens.isEmpty()) {
        return screens.first();
    }
    return std::nullopt;
}

QPoint CallDetectionHUDController::targetOrigin(const std::optional<HUDScreen>& screen) {
    if (!screen) {
        return {0, 0};
    }
    const QRect& area = screen->available;
    return {area.x() + area.width() / 2 - panelSize.width() / 2, area.y() + topInset};
}

void CallDetectionHUDController::show(const QString& targetPhrase) {
    if (QThread::currentThread() != thread()) {
        qFatal("CallDetectionHUDController::show must be called on the main thread");
    }
    timeline_.stop();
    timeline_.clear();

    panel_->setTargetPhrase(targetPhrase);
    const QPoint origin = targetOrigin(activeScreen(environment_.pointerPosition(), environment_.screens()));

    int holdMs = visibleDurationMs;
    if (panel_->isVisible()) {
        // Still on screen, perhaps fading: jump to the new place, fully opaque, no slide-in.
        panel_->move(origin);
        panel_->setWindowOpacity(1.0);
    } else {
        const QPoint above = origin - QPoint(0, slideInDistance);
        panel_->setWindowOpacity(0.0);
        panel_->move(above);
        panel_->show();
        panel_->raise();
        timeline_.addAnimation(fade(panel_.get(), 0.0, 1.0, above, origin, cubicBezier({0, 0}, {0.58, 1})));
        holdMs -= fadeDurationMs;
    }
    timeline_.addPause(holdMs);
    timeline_.addAnimation(
        fade(panel_.get(), 1.0, 0.0, origin, origin - QPoint(0, riseDistance), cubicBezier({0.42, 0}, {1, 1})));
    timeline_.start();
}

} // namespace harkwell
