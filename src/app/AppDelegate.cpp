#include "app/AppDelegate.h"

#include "app/ContentView.h"
#include "app/Icons.h"
#include "app/PanelTexts.h"
#include "app/PopoverPlacement.h"
#include "app/SessionBusServices.h"
#include "core/Log.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

namespace harkwell {

AppDelegate::Desktop AppDelegate::Desktop::current() {
    return {currentDesktopSession(), [] { return QSystemTrayIcon::isSystemTrayAvailable(); }};
}

AppDelegate::AppDelegate(AppModel::Dependencies dependencies, CallDetectionHUDController::Environment callPanel,
                         Desktop desktop, QObject* parent)
    : QObject(parent), model_(std::make_unique<AppModel>(std::move(dependencies))), desktop_(std::move(desktop)),
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
    const bool preview = isPreviewRequested(environment);
    const bool hasTray = !preview && desktop_.isTrayAvailable();
    qCDebug(logApp) << "Session:" << (desktop_.session.isWayland ? "Wayland" : "X11")
                    << (desktop_.session.isXwayland ? "(Qt on Xwayland)" : "") << "tray:" << hasTray;
    // A pop-up needs its place below the icon, which only X11 gives.
    configurePopover(hasTray && desktop_.session.isX11());

    if (preview) {
        qCDebug(logApp) << "Preview: the call panel in" << previewDelayMs << "ms, then the end";
        callDetectionHUD_->onHidden = [this] {
            qCDebug(logApp) << "Preview over";
            emit quitRequested();
        };
        QTimer::singleShot(previewDelayMs, this, [this] { callDetectionHUD_->show(previewPhrase); });
        return;
    }

    // On X11, Qt docks the icon whenever a tray comes; a StatusNotifierItem host is waited for.
    if (hasTray || desktop_.session.isX11()) {
        configureStatusItem();
    }
    if (!hasTray) {
        showWithoutTray();
    }
    if (model_->isPermissionSetupComplete()) {
        model_->applicationDidLaunch();
        if (!hasTray) {
            qCDebug(logApp) << "No tray: the panel opens at start";
            showPopover();
        } else {
            qCDebug(logApp) << "Permission setup complete: the panel opens from the tray icon";
        }
        return;
    }
    if (!hasTray) {
        openFirstLaunchPanel();
        return;
    }
    firstPanelDeadline_.setSingleShot(true);
    firstPanelDeadline_.setInterval(trayPlacementTimeoutMs);
    connect(&firstPanelDeadline_, &QTimer::timeout, this, [this] {
        qCDebug(logApp) << "The tray did not place the icon within" << trayPlacementTimeoutMs << "ms";
        openFirstLaunchPanel();
    });
    // Once start-up has returned; the event filter opens it as soon as the tray has placed the icon.
    QTimer::singleShot(0, this, [this] {
        if (isTrayIconBeingPlaced()) {
            qCDebug(logApp) << "Permission setup not complete: the panel opens once the tray has placed the icon";
            firstPanelDeadline_.start();
        } else {
            openFirstLaunchPanel();
        }
    });
}

void AppDelegate::openFirstLaunchPanel() {
    firstPanelDeadline_.stop();
    qCDebug(logApp) << "First launch: the permission setup starts";
    showPopover();
    model_->preparePermissions();
}

void AppDelegate::configurePopover(bool asPopup) {
    popoverIsPopup_ = asPopup;
    if (asPopup) {
        popover_->setAttribute(Qt::WA_NoMouseReplay); // a click on the icon closes the panel, nothing more
    } else {
        // Placed by the desktop, with a title bar, and the keyboard's from the start.
        popover_->setWindowFlags(Qt::Window);
        popover_->installEventFilter(this);
        connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            // Another application took the focus: the panel goes, as a pop-up would; starting
            // Harkwell again or the icon brings it back.
            if (state != Qt::ApplicationActive && isPopoverShown()) {
                qCDebug(logApp) << "Another application took the focus: the control panel closes";
                closePopover();
            }
        });
    }
    popover_->setFixedSize(popoverSize);
    popover_->setWindowTitle(QStringLiteral("Harkwell"));
    // The role tells other programs (window rules, the desktop tests) which window this is.
    popover_->setObjectName(QStringLiteral("controlPanel"));
    popover_->setWindowRole(popover_->objectName());

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
    layout->setSpacing(0);
    trayHint_ = new QLabel(popover_.get());
    trayHint_->setObjectName(QStringLiteral("trayHint"));
    trayHint_->setWordWrap(true);
    trayHint_->setContentsMargins(18, 12, 18, 0);
    trayHint_->hide();
    layout->addWidget(trayHint_);
    layout->addWidget(scroll);
    connect(contentView_, &ContentView::quitRequested, this, &AppDelegate::quitRequested);
}

void AppDelegate::configureStatusItem() {
    qCDebug(logApp) << "System tray available:" << QSystemTrayIcon::isSystemTrayAvailable();
    statusItem_ = std::make_unique<QSystemTrayIcon>();
    connect(statusItem_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        qCDebug(logApp) << "Tray icon activated:" << reason;
        // On X11 the right button opens the menu; a StatusNotifierItem host that hands the right
        // click to the application (swaybar) gets the panel, as it draws no menu of its own. A
        // double click opens the panel and never closes it: its first click opened it already,
        // unless that click was the one that closed the pop-up.
        if (reason == QSystemTrayIcon::Trigger || (reason == QSystemTrayIcon::Context && !desktop_.session.isX11())) {
            togglePopover();
        } else if (reason == QSystemTrayIcon::DoubleClick && !isPopoverShown()) {
            showPopover();
        }
    });
    configureStatusMenu();
    for (auto signal : {&AppModel::isDetectionEnabledChanged, &AppModel::activeWakePhrasesChanged,
                        &AppModel::isInTransparencyAfterCallChanged}) {
        connect(model_.get(), signal, this, &AppDelegate::updateStatusItem);
    }
    qApp->installEventFilter(this);
    updateStatusItem();
    statusItem_->show();
}

void AppDelegate::configureStatusMenu() {
    statusMenu_ = std::make_unique<QMenu>();
    statusMenu_->addAction(panelTexts::openHarkwell.text(), this, &AppDelegate::showPopover);
    detectionAction_ = statusMenu_->addAction(panelTexts::detection.text());
    detectionAction_->setCheckable(true);
    connect(detectionAction_, &QAction::triggered, this, [this](bool checked) {
        model_->setDetectionEnabled(checked);
        updateStatusItem(); // a refusal (no phrase yet) unchecks it again
    });
    statusMenu_->addSeparator();
    statusMenu_->addAction(panelTexts::quit.text(), this, &AppDelegate::quitRequested);
    statusItem_->setContextMenu(statusMenu_.get());
}

void AppDelegate::showWithoutTray() {
    trayHint_->setText(
        (desktop_.session.desktop == DesktopKind::gnome ? panelTexts::noTrayOnGnome : panelTexts::noTray).text());
    trayHint_->show();
    if (desktop_.session.isX11()) {
        return;
    }
    // A StatusNotifierItem host that comes later (the extension turned on, a bar started after
    // Harkwell at login) gets the icon; the panel then opens from it like any other.
    trayHostWatcher_ =
        std::make_unique<QDBusServiceWatcher>(QStringLiteral("org.kde.StatusNotifierWatcher"),
                                              QDBusConnection::sessionBus(), QDBusServiceWatcher::WatchForRegistration);
    connect(trayHostWatcher_.get(), &QDBusServiceWatcher::serviceRegistered, this, [this] {
        qCDebug(logApp) << "A tray came: the icon goes in";
        trayHostWatcher_.release()->deleteLater();
        trayHint_->hide();
        if (!statusItem_) {
            configureStatusItem();
        }
    });
}

void AppDelegate::updateStatusItem() {
    if (!statusItem_) {
        return;
    }
    QString state = panelTexts::notListening.text();
    trayState_ = icons::TrayState::notListening;
    if (model_->isDetectionEnabled()) {
        const int count = model_->listenedWakePhraseCount();
        state = (count == 1 ? panelTexts::listeningForOne : panelTexts::listeningForMany).text().arg(count);
        trayState_ = icons::TrayState::listening;
        if (model_->isInTransparencyAfterCall()) {
            state += panelTexts::transparencyAfterCall.text();
            trayState_ = icons::TrayState::transparencyAfterCall;
        }
    }
    statusItem_->setIcon(icons::trayIcon(trayState_));
    statusItem_->setToolTip(QStringLiteral("Harkwell: ") + state);
    if (detectionAction_) {
        const QSignalBlocker quiet(detectionAction_);
        detectionAction_->setChecked(model_->isDetectionEnabled());
    }
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    // A key no control took reaches the panel's window: Escape closes it, as it closes a pop-up.
    if (watched == popover_.get() && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && static_cast<QKeyEvent*>(event)->modifiers() == 0) {
        closePopover();
        return true;
    }
    // The icon is drawn in the text colour of the panel, light or dark, and follows theme changes.
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange && statusItem_) {
        statusItem_->setIcon(icons::trayIcon(trayState_));
    }
    // The tray taking the icon in, or laying its icons out again, moves and sizes the icon's window:
    // the first launch's panel opens, and a shown panel follows the icon.
    const QEvent::Type type = event->type();
    if ((type == QEvent::Move || type == QEvent::Resize || type == QEvent::Show) &&
        (firstPanelDeadline_.isActive() || (isPopoverShown() && popoverAnchor_)) && isOtherWindow(watched)) {
        if (firstPanelDeadline_.isActive()) {
            if (!isTrayIconBeingPlaced()) {
                qCDebug(logApp) << "The tray placed the icon";
                openFirstLaunchPanel();
            }
        } else if (const auto icon = trayIconGeometry(); icon && *icon != *popoverAnchor_) {
            placePopover();
        }
    }
    return QObject::eventFilter(watched, event);
}

bool AppDelegate::isOtherWindow(const QObject* object) const {
    const bool isWindow =
        object->isWindowType() || (object->isWidgetType() && static_cast<const QWidget*>(object)->isWindow());
    return isWindow && object != popover_.get() && object != popover_->windowHandle();
}

std::optional<QString> AppDelegate::exportOn(QDBusConnection bus) {
    controlPanelService_ = std::make_unique<ControlPanelService>([this] { showPopover(); });
    if (!controlPanelService_->exportOn(bus)) {
        controlPanelService_.reset();
        return QStringLiteral("Cannot export the control panel on the session bus.");
    }
    toggleModeService_ = std::make_unique<ToggleModeService>(
        [this](const ToggleModeService::Completion& done) { model_->toggleAirPodsModeFromShortcut(done); });
    if (auto failure = toggleModeService_->exportOn(bus)) {
        bus.unregisterObject(controlPanelBus::path);
        toggleModeService_.reset();
        controlPanelService_.reset();
        return failure;
    }
    return std::nullopt;
}

std::optional<QRect> AppDelegate::trayIconGeometry() const {
    // StatusNotifier trays report no geometry, and an XEmbed icon that the tray has not taken in
    // yet sits unplaced at the origin.
    if (!statusItem_) {
        return std::nullopt;
    }
    const QRect geometry = statusItem_->geometry();
    if (!geometry.isValid() || geometry.isEmpty() || geometry.topLeft() == QPoint(0, 0)) {
        return std::nullopt;
    }
    return geometry;
}

bool AppDelegate::isTrayIconBeingPlaced() const {
    if (!statusItem_) {
        return false;
    }
    const QRect geometry = statusItem_->geometry();
    return geometry.isValid() && !geometry.isEmpty() && geometry.topLeft() == QPoint(0, 0);
}

void AppDelegate::placePopover() {
    // Without the icon's place, the pointer is the better guide.
    const std::optional<QRect> icon = trayIconGeometry();
    const QPoint pointer = QCursor::pos();
    QScreen* screen = QGuiApplication::screenAt(icon ? icon->center() : pointer);
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    const QRect available = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), popoverSize);
    const QPoint origin = popoverOrigin(popoverSize, icon, pointer, available);
    if (icon) {
        qCDebug(logApp) << "Control panel at" << origin << "below the tray icon at" << *icon;
    } else {
        qCDebug(logApp) << "Control panel at" << origin << "by the pointer at" << pointer
                        << "(the tray does not tell the icon's place)";
    }
    popover_->move(origin);
    popoverAnchor_ = icon;
}

void AppDelegate::showPopover() {
    // A window of its own goes where the desktop puts it.
    if (popoverIsPopup_) {
        placePopover();
    }
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
