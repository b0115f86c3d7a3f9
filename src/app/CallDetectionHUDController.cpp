#include "app/CallDetectionHUDController.h"

#include "app/CallDetectionHUDView.h"
#include "core/Log.h"
#include "desktop/DesktopSession.h"

#include <QCursor>
#include <QDBusConnection>
#include <QEasingCurve>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>

#include <algorithm>

namespace harkwell {
namespace {

// The platform's standard ease-out and ease-in timing curves.
QEasingCurve cubicBezier(QPointF first, QPointF second) {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(first, second, QPointF(1, 1));
    return curve;
}

const QEasingCurve easeOut = cubicBezier({0, 0}, {0.58, 1});
const QEasingCurve easeIn = cubicBezier({0.42, 0}, {1, 1});

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
        std::make_shared<SystemAnimationClock>(),
        currentDesktopSession().isWayland ? std::make_shared<DesktopNotifications>(QDBusConnection::sessionBus())
                                          : nullptr,
    };
}

CallDetectionHUDController::Frame CallDetectionHUDController::frameAt(qint64 elapsedMs, bool slidesIn) {
    const qint64 fadeOutStart = visibleDurationMs;
    if (slidesIn && elapsedMs < fadeDurationMs) {
        const qreal progress = easeOut.valueForProgress(qreal(std::max<qint64>(elapsedMs, 0)) / fadeDurationMs);
        return {progress, qRound(slideInDistance * (1 - progress)), true};
    }
    if (elapsedMs < fadeOutStart) {
        return {1, 0, true};
    }
    if (elapsedMs < fadeOutStart + fadeDurationMs) {
        const qreal progress = easeIn.valueForProgress(qreal(elapsedMs - fadeOutStart) / fadeDurationMs);
        return {1 - progress, qRound(riseDistance * progress), true};
    }
    return {0, riseDistance, false};
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
    panel_->setObjectName(QStringLiteral("callPanel"));
    panel_->setWindowRole(panel_->objectName());
}

CallDetectionHUDController::~CallDetectionHUDController() { environment_.clock->cancel(); }

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
    if (environment_.notices) {
        notify(targetPhrase);
        return;
    }
    panel_->setTargetPhrase(targetPhrase);
    origin_ = targetOrigin(activeScreen(environment_.pointerPosition(), environment_.screens()));
    shownAt_ = environment_.clock->now();
    // Still on screen, perhaps fading: it jumps to the new place, fully opaque, without a slide-in.
    slidesIn_ = !panel_->isVisible();
    updateFrame();
}

void CallDetectionHUDController::notify(const QString& targetPhrase) {
    qCDebug(logApp) << "Call notice for" << targetPhrase;
    environment_.notices->show(
        {CallDetectionHUDView::titleText(targetPhrase), CallDetectionHUDView::subtitleText(), visibleDurationMs});
    // Some servers keep a notice longer than asked (GNOME Shell: 4 s); it goes when the panel would.
    environment_.clock->callAfter(visibleDurationMs + fadeDurationMs, [this] {
        environment_.notices->close();
        if (onHidden) {
            onHidden();
        }
    });
}

void CallDetectionHUDController::updateFrame() {
    const qint64 elapsed = environment_.clock->now() - shownAt_;
    const Frame frame = frameAt(elapsed, slidesIn_);
    panel_->setWindowOpacity(frame.opacity);
    panel_->move(origin_ - QPoint(0, frame.offsetAbove));
    if (!frame.isVisible) {
        panel_->hide();
        environment_.clock->cancel();
        if (onHidden) {
            onHidden();
        }
        return;
    }
    if (!panel_->isVisible()) {
        panel_->show();
        panel_->raise();
    }
    // Every frame while it moves; one wake-up for the fade-out while it holds still. Frames land
    // exactly on the phase boundaries.
    const qint64 fadeInEnd = slidesIn_ ? fadeDurationMs : 0;
    const qint64 fadeOutStart = visibleDurationMs;
    qint64 delay = 0;
    if (elapsed < fadeInEnd) {
        delay = std::min<qint64>(frameIntervalMs, fadeInEnd - elapsed);
    } else if (elapsed < fadeOutStart) {
        delay = fadeOutStart - elapsed;
    } else {
        delay = std::min<qint64>(frameIntervalMs, fadeOutStart + fadeDurationMs - elapsed);
    }
    environment_.clock->callAfter(int(delay), [this] { updateFrame(); });
}

} // namespace harkwell
