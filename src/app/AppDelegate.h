#pragma once

#include "app/CallDetectionHUDController.h"
#include "app/Icons.h"
#include "desktop/DesktopSession.h"
#include "model/AppModel.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QProcessEnvironment>
#include <QSize>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QLabel;
class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace harkwell {

class ContentView;
class ControlPanelService;
class ToggleModeService;

// The tray application: owns the model, the control panel, the call panel and the tray icon for
// the life of the process. A click on the icon opens or closes the control panel; its menu (right
// click, or any click on GNOME) opens the panel, turns listening on or off and quits.
//
// On X11 with a tray, the control panel is a pop-up below the icon that closes on a click outside.
// Elsewhere (Wayland, where windows cannot be placed, Xwayland inside it, or no tray) it is a
// normal window placed by the desktop that closes on Escape and when another application takes
// the focus. Without a tray it opens at every start and says how to get an icon.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    // The pop-up's size; the control panel inside it is taller and scrolls.
    static constexpr QSize popoverSize{420, 600};
    static constexpr int previewDelayMs = 500;
    static constexpr const char* previewVariable = "HARKWELL_PREVIEW_CALL_HUD";
    static constexpr const char* previewPhrase = "James";
    // How long the first launch's panel waits for the tray to place the icon before it opens by
    // the pointer instead.
    static constexpr int trayPlacementTimeoutMs = 3000;

    // The desktop the application runs on: which session, and whether it shows tray icons now.
    struct Desktop {
        DesktopSession session;
        std::function<bool()> isTrayAvailable;
        static Desktop current();
    };

    explicit AppDelegate(
        AppModel::Dependencies dependencies,
        CallDetectionHUDController::Environment callPanel = CallDetectionHUDController::systemEnvironment(),
        Desktop desktop = Desktop::current(), QObject* parent = nullptr);
    ~AppDelegate() override;

    // Whether the environment asks only for a sample call panel: the variable is exactly "1".
    static bool isPreviewRequested(const QProcessEnvironment& environment);

    // Start-up: connects detections to the call panel; then either schedules the sample panel
    // (preview: no tray icon, no permission setup; quitRequested once it has faded out), or puts up
    // the tray icon and, while the permission setup is not complete, opens the control panel and
    // starts the setup. That first panel hangs below the icon like every later one: when the tray
    // is still taking the icon in, it opens once the icon has its place (by the pointer when that
    // takes longer than trayPlacementTimeoutMs). Once the setup is complete, it reads the AirPods'
    // mode. Without a tray the panel opens at every start.
    void applicationDidFinishLaunching(const QProcessEnvironment& environment);

    // Offers `harkwell --toggle-mode` and the second launch's "open the panel" on bus, and takes
    // Harkwell's bus name. Returns the reason when that fails (another instance has the name).
    std::optional<QString> exportOn(QDBusConnection bus);

    // Opening the panel reads the AirPods' mode again.
    void showPopover();
    void closePopover();
    void togglePopover();
    bool isPopoverShown() const;

    AppModel& model() const { return *model_; }
    // The control panel's window, object name (and X11 window role) "controlPanel".
    QWidget& popover() const { return *popover_; }
    // Whether the control panel is a pop-up below the icon rather than a window of its own.
    bool isPopoverAPopup() const { return popoverIsPopup_; }
    // The line at the top of the panel that says the desktop shows no tray icon; hidden otherwise.
    QLabel& trayHint() const { return *trayHint_; }
    // The tray icon's menu: open the panel, Call Detection, Quit.
    QMenu* statusMenu() const { return statusMenu_.get(); }
    ContentView& contentView() const { return *contentView_; }
    CallDetectionHUDController& callDetectionHUD() const { return *callDetectionHUD_; }
    // None in preview mode.
    QSystemTrayIcon* statusItem() const { return statusItem_.get(); }

signals:
    // The application should end: the Quit button was pressed, or the preview is over.
    void quitRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void configurePopover(bool asPopup);
    void configureStatusItem();
    void configureStatusMenu();
    // The desktop shows no tray icon: the panel says so, and the icon comes when a tray does.
    void showWithoutTray();
    // Shows in the tray icon and its tooltip whether Harkwell listens, for how many phrases, and
    // whether a call has the AirPods in Transparency.
    void updateStatusItem();
    // Where the tray icon is on the screen, when the tray tells it.
    std::optional<QRect> trayIconGeometry() const;
    // Whether the icon waits for the tray to take it in (an XEmbed icon that is not docked yet).
    bool isTrayIconBeingPlaced() const;
    void openFirstLaunchPanel();
    // Whether object is a window, or a window's widget, other than the pop-up.
    bool isOtherWindow(const QObject* object) const;
    // Moves the pop-up below the tray icon, or by the pointer.
    void placePopover();

    std::unique_ptr<AppModel> model_;
    Desktop desktop_;
    std::unique_ptr<QWidget> popover_;
    bool popoverIsPopup_ = true;
    QLabel* trayHint_ = nullptr;
    std::unique_ptr<QMenu> statusMenu_;
    QAction* detectionAction_ = nullptr;
    // Waits for a StatusNotifierItem host to come after start (a panel started later).
    std::unique_ptr<QDBusServiceWatcher> trayHostWatcher_;
    ContentView* contentView_ = nullptr;
    std::unique_ptr<CallDetectionHUDController> callDetectionHUD_;
    std::unique_ptr<QSystemTrayIcon> statusItem_;
    icons::TrayState trayState_ = icons::TrayState::notListening;
    std::unique_ptr<ToggleModeService> toggleModeService_;
    std::unique_ptr<ControlPanelService> controlPanelService_;
    // Runs while the first launch's panel waits for the tray icon's place.
    QTimer firstPanelDeadline_;
    // The icon's place the pop-up was put below; none when it went by the pointer.
    std::optional<QRect> popoverAnchor_;
};

} // namespace harkwell
