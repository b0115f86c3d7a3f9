#include "app/AppDelegate.h"

#include "app/ContentView.h"
#include "app/Icons.h"
#include "app/PopoverPlacement.h"
#include "app/SessionBusServices.h"
#include "locale/AppLocale.h"

#include <QApplication>
#include <QCursor>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

namespace harkwell {

AppDelegate::AppDelegate(AppModel::Dependencies dependencies, CallDetectionHUDController::Environment callPanel,
                         QObject* parent)
    : QObject(parent), model_(std::make_unique<AppModel>(std::move(dependencies))),
      popover_(std::make_unique<QWidget>(nullptr, Qt::Popup | Qt::FramelessWindowHint)),
      callDetectionHUD_(std::make_unique<CallDetectionHUDController>(std::move(callPanel))) {}

AppDelegate::~AppDelegate() {
    qApp->removeEventFilter(this);
    model_->onCallDetected = nullptr;
}

bool AppDelegate::isPreviewRequested(const QProcessEnvironment& environment) {
    return environment.contains(previewVariable) && environment.value(previewVariable) == QLatin1String("1");
}

void AppDelegate::applicationDidFinishLaunching(const QProcessEnvironment& environment) {
    model_->onCallDetected = [delegate = QPointer<AppDelegate>(this)](const QString& phrase) {
        if (delegate) {
            delegate->callDetectionHUD_->show(phrase);
        }
    };
    configurePopover();

    if (isPreviewRequested(environment)) {
        QTimer::singleShot(previewDelayMs, this, [this] { callDetectionHUD_->show(previewPhrase); });
        return;
    }

    configureStatusItem();
    if (!model_->isPermissionSetupComplete()) {
        QTimer::singleShot(0, this, [this] {
            showPopover();
            model_->preparePermissions();
        });
    } else {
        model_->applicationDidLaunch();
    }
}

void AppDelegate::configurePopover() {
    popover_->setAttribute(Qt::WA_NoMouseReplay); // a click on the icon closes the panel, nothing more
    popover_->setFixedSize(popoverSize);
    popover_->setWindowTitle(QStringLiteral("Harkwell"));

    // The panel is taller than the pop-up; the wheel and the keyboard focus scroll it, without a
    // scroll bar of its own beside the main controls' one.
    auto* scroll = new QScrollArea(popover_.get());
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    contentView_ = new ContentView(*model_);
    scroll->setWidget(contentView_);
    auto* layout = new QVBoxLayout(popover_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    connect(contentView_, &ContentView::quitRequested, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void AppDelegate::configureStatusItem() {
    statusItem_ = std::make_unique<QSystemTrayIcon>();
    statusItem_->setIcon(icons::trayIcon());
    connect(statusItem_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context ||
            reason == QSystemTrayIcon::DoubleClick) {
            togglePopover();
        }
    });
    connect(model_.get(), &AppModel::isDetectionEnabledChanged, this, &AppDelegate::updateStatusItem);
    qApp->installEventFilter(this);
    updateStatusItem();
    statusItem_->show();
}

void AppDelegate::updateStatusItem() {
    if (!statusItem_) {
        return;
    }
    const QString state = model_->isDetectionEnabled() ? uiText("호출 감지 켜짐", "Listening")
                                                       : uiText("호출 감지 꺼짐", "Not listening");
    statusItem_->setToolTip(QStringLiteral("Harkwell: ") + state);
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    // The icon is drawn in the text colour of the panel, light or dark, and follows theme changes.
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange && statusItem_) {
        statusItem_->setIcon(icons::trayIcon());
    }
    return QObject::eventFilter(watched, event);
}

std::optional<QString> AppDelegate::exportOn(QDBusConnection bus) {
    controlPanelService_ = std::make_unique<ControlPanelService>([this] { showPopover(); });
    if (!controlPanelService_->exportOn(bus)) {
        controlPanelService_.reset();
        return QStringLiteral("Cannot export the control panel on the session bus.");
    }
    toggleModeService_ = std::make_unique<ToggleModeService>([this] { model_->toggleAirPodsModeFromShortcut(); });
    if (auto failure = toggleModeService_->exportOn(bus)) {
        bus.unregisterObject(controlPanelBus::path);
        toggleModeService_.reset();
        controlPanelService_.reset();
        return failure;
    }
    return std::nullopt;
}

void AppDelegate::showPopover() {
    // StatusNotifier trays report no geometry, and an XEmbed icon that the tray has not taken in
    // yet sits unplaced at the origin; the pointer is the better guide then.
    std::optional<QRect> icon;
    if (statusItem_) {
        const QRect geometry = statusItem_->geometry();
        if (geometry.isValid() && !geometry.isEmpty() && geometry.topLeft() != QPoint(0, 0)) {
            icon = geometry;
        }
    }
    const QPoint pointer = QCursor::pos();
    QScreen* screen = QGuiApplication::screenAt(icon ? icon->center() : pointer);
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    const QRect available = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), popoverSize);
    popover_->move(popoverOrigin(popoverSize, icon, pointer, available));
    // Nothing is focused at first (a stray Space must not press Quit); later openings keep the
    // focus where it was.
    if (!popover_->focusWidget()) {
        contentView_->setFocus(Qt::PopupFocusReason);
    }
    popover_->show();
    popover_->raise();
    popover_->activateWindow();
    model_->panelDidOpen();
}

void AppDelegate::closePopover() { popover_->close(); }

void AppDelegate::togglePopover() {
    if (isPopoverShown()) {
        closePopover();
    } else {
        showPopover();
    }
}

bool AppDelegate::isPopoverShown() const { return popover_->isVisible(); }

} // namespace harkwell
