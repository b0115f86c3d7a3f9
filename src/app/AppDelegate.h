#pragma once

#include "app/CallDetectionHUDController.h"
#include "model/AppModel.h"

#include <QDBusConnection>
#include <QObject>
#include <QProcessEnvironment>
#include <QSize>

#include <memory>
#include <optional>

class QSystemTrayIcon;
class QWidget;

namespace harkwell {

class ContentView;
class ControlPanelService;
class ToggleModeService;

// The tray application: owns the model, the control panel's pop-up, the call panel and the tray
// icon for the life of the process. A click on the icon, left or right, opens or closes the
// control panel; there is no menu, no main window and no taskbar entry.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    // The pop-up's size; the control panel inside it is taller and scrolls.
    static constexpr QSize popoverSize{420, 560};
    static constexpr int previewDelayMs = 500;
    static constexpr const char* previewVariable = "HARKWELL_PREVIEW_CALL_HUD";
    static constexpr const char* previewPhrase = "James";

    explicit AppDelegate(
        AppModel::Dependencies dependencies,
        CallDetectionHUDController::Environment callPanel = CallDetectionHUDController::systemEnvironment(),
        QObject* parent = nullptr);
    ~AppDelegate() override;

    // Whether the environment asks only for a sample call panel: the variable is exactly "1".
    static bool isPreviewRequested(const QProcessEnvironment& environment);

    // Start-up: connects detections to the call panel; then either schedules the sample panel
    // (preview: no tray icon, no permission setup), or puts up the tray icon and, while the
    // permission setup is not complete, opens the control panel and starts the setup; once it is
    // complete, reads the AirPods' mode.
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
    QWidget& popover() const { return *popover_; }
    ContentView& contentView() const { return *contentView_; }
    CallDetectionHUDController& callDetectionHUD() const { return *callDetectionHUD_; }
    // None in preview mode.
    QSystemTrayIcon* statusItem() const { return statusItem_.get(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void configurePopover();
    void configureStatusItem();
    void updateStatusItem();

    std::unique_ptr<AppModel> model_;
    std::unique_ptr<QWidget> popover_;
    ContentView* contentView_ = nullptr;
    std::unique_ptr<CallDetectionHUDController> callDetectionHUD_;
    std::unique_ptr<QSystemTrayIcon> statusItem_;
    std::unique_ptr<ToggleModeService> toggleModeService_;
    std::unique_ptr<ControlPanelService> controlPanelService_;
};

} // namespace harkwell
