#pragma once

#include "airpods/AirPodsControl.h"
#include "core/PermissionService.h"
#include "core/SerialQueue.h"
#include "detection/WakePhraseListener.h"
#include "model/KeyEventMonitor.h"
#include "model/SettingsStore.h"
#include "shortcut/HotKeyController.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace harkwell {

// The application's state and every user-level operation: settings, permission setup,
// listening and mode switching, phrase editing and shortcut recording. Lives on the main
// thread, which alone reads and writes its state; helper commands run one at a time on its
// "Harkwell.command" thread and their outcomes come back through the event loop. Every
// property notifies on each assignment, changed or not.
class AppModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString wakePhraseDraft READ wakePhraseDraft WRITE setWakePhraseDraft NOTIFY wakePhraseDraftChanged)
    Q_PROPERTY(QStringList activeWakePhrases READ activeWakePhrases NOTIFY activeWakePhrasesChanged)
    Q_PROPERTY(bool canAddWakePhrase READ canAddWakePhrase NOTIFY canAddWakePhraseChanged)
    Q_PROPERTY(bool isPermissionSetupComplete READ isPermissionSetupComplete NOTIFY isPermissionSetupCompleteChanged)
    Q_PROPERTY(QString permissionStatusText READ permissionStatusText NOTIFY permissionStatusTextChanged)
    Q_PROPERTY(bool isDetectionEnabled READ isDetectionEnabled NOTIFY isDetectionEnabledChanged)
    Q_PROPERTY(QString selectedMode READ selectedModeRawValue NOTIFY selectedModeChanged)
    Q_PROPERTY(QString hotKeyDisplayName READ hotKeyDisplayName NOTIFY hotKeySettingChanged)
    Q_PROPERTY(bool isRecordingShortcut READ isRecordingShortcut NOTIFY isRecordingShortcutChanged)
    Q_PROPERTY(bool isCommandRunning READ isCommandRunning NOTIFY isCommandRunningChanged)
    Q_PROPERTY(QString errorMessage READ errorMessageText NOTIFY errorMessageChanged)

public:
    // What the model works through; tests hand in fakes, the application the real ones.
    struct Dependencies {
        std::shared_ptr<AirPodsControl> airPods;
        std::unique_ptr<HotKeyController> hotKeyController;
        std::shared_ptr<PermissionService> permissions;
        WakePhraseListenerFactory detectorFactory;
        std::unique_ptr<KeyEventMonitor> keyMonitor;
        std::unique_ptr<SettingsStore> settings;
    };

    // Loads the settings (migrating the legacy single phrase), starts registering the stored
    // shortcut (a refusal, now or once the desktop answers, shows its message) and wires the
    // shortcut to the mode toggle. Listening is off.
    explicit AppModel(Dependencies dependencies, QObject* parent = nullptr);
    // Ends shortcut recording and stops listening; waits for a helper command under way.
    ~AppModel() override;

    const QString& wakePhraseDraft() const { return wakePhraseDraft_; }
    void setWakePhraseDraft(const QString& draft);
    const QStringList& activeWakePhrases() const { return activeWakePhrases_; }
    bool canAddWakePhrase() const;
    bool isPermissionSetupComplete() const { return isPermissionSetupComplete_; }
    const QString& permissionStatusText() const { return permissionStatusText_; }
    bool isDetectionEnabled() const { return isDetectionEnabled_; }
    ListeningMode selectedMode() const { return selectedMode_; }
    QString selectedModeRawValue() const;
    const std::optional<HotKeySetting>& hotKeySetting() const { return hotKeySetting_; }
    // The shortcut's display name, or empty without one.
    QString hotKeyDisplayName() const;
    bool isRecordingShortcut() const { return isRecordingShortcut_; }
    bool isCommandRunning() const { return isCommandRunning_; }
    const std::optional<QString>& errorMessage() const { return errorMessage_; }
    QString errorMessageText() const { return errorMessage_.value_or(QString()); }

    // Called with the call phrase once a detected call has switched the AirPods to Transparency.
    std::function<void(const QString& phrase)> onCallDetected;

    // Speech recognition, then the microphone, then Bluetooth through the helper.
    void preparePermissions();
    void setDetectionEnabled(bool enabled);
    // Switches the AirPods; onSuccess runs on the main thread once they are in that mode.
    void setAirPodsMode(ListeningMode mode, std::function<void()> onSuccess = nullptr);
    void refreshAirPodsMode();
    // What the global shortcut (and `harkwell --toggle-mode`) does: noise cancellation to
    // transparency, anything else to noise cancellation.
    void toggleAirPodsModeFromShortcut();

    void addWakePhraseFromDraft();
    void removeWakePhrase(const QString& phrase);

    void startShortcutRecording();
    void cancelShortcutRecording();
    void clearShortcut();

signals:
    void wakePhraseDraftChanged();
    void activeWakePhrasesChanged();
    void canAddWakePhraseChanged();
    void isPermissionSetupCompleteChanged();
    void permissionStatusTextChanged();
    void isDetectionEnabledChanged();
    void selectedModeChanged();
    void hotKeySettingChanged();
    void isRecordingShortcutChanged();
    void isCommandRunningChanged();
    void errorMessageChanged();

private:
    // Runs work on the main thread later, if this model still exists then. Safe to call from
    // any thread with a pointer taken on the main thread.
    static void onMainThread(const QPointer<AppModel>& model, std::function<void(AppModel&)> work);
    // Runs a helper command on the command thread; the outcome is applied on the main thread.
    void runCommand(std::function<void(AirPodsControl&)> command, std::function<void(AppModel&)> onSuccess);
    void applyCommandFailure(const Error& error);

    // Permission setup.
    bool corePermissionsGranted() const;
    using AskCompletion = std::function<void(bool granted)>;
    // Answers at once from a decided status; otherwise asks, and answers on the main thread.
    void requestPermission(AuthorizationStatus status, const std::function<void(AskCompletion)>& ask,
                           AskCompletion completion);
    void requestSpeechPermission(AskCompletion completion);
    void requestMicrophonePermission(AskCompletion completion);
    void requestBluetoothPermission();
    void finishPermissionSetup(const QString& message);
    void completePermissionSetup();

    // Listening.
    void startDetection();
    void stopDetection();
    void fail(const QString& message);
    void releaseDetector();
    void handleDetection(const QString& targetPhrase);

    // Phrases and shortcut.
    void updateWakePhrases(const QStringList& phrases);
    void captureShortcut(const QKeyEvent& event);
    void registerStoredHotKey(const HotKeySetting& setting);
    void stopShortcutRecording();

    // Settings.
    QStringList loadWakePhrases();
    void saveWakePhrases(const QStringList& phrases);
    std::optional<HotKeySetting> loadHotKeySetting() const;
    void saveHotKeySetting(const HotKeySetting& setting);

    // Assignments of the published state, each followed by its notification.
    void assignActiveWakePhrases(QStringList phrases);
    void assignPermissionSetupComplete(bool complete);
    void assignPermissionStatusText(const QString& text);
    void assignDetectionEnabled(bool enabled);
    void assignSelectedMode(ListeningMode mode);
    void assignHotKeySetting(std::optional<HotKeySetting> setting);
    void assignRecordingShortcut(bool recording);
    void assignCommandRunning(bool running);
    void assignErrorMessage(std::optional<QString> message);

    std::shared_ptr<AirPodsControl> airPods_;
    std::unique_ptr<HotKeyController> hotKeyController_;
    std::shared_ptr<PermissionService> permissions_;
    WakePhraseListenerFactory detectorFactory_;
    std::unique_ptr<KeyEventMonitor> keyMonitor_;
    std::unique_ptr<SettingsStore> settings_;
    SerialQueue commandQueue_{"Harkwell.command"};
    // Gone before the command queue drains at destruction, so that queued commands do nothing.
    std::shared_ptr<const int> alive_ = std::make_shared<const int>(0);

    QString wakePhraseDraft_;
    QStringList activeWakePhrases_;
    bool isPermissionSetupComplete_ = false;
    QString permissionStatusText_;
    bool isDetectionEnabled_ = false;
    ListeningMode selectedMode_ = ListeningMode::anc;
    std::optional<HotKeySetting> hotKeySetting_;
    bool isRecordingShortcut_ = false;
    bool isCommandRunning_ = false;
    std::optional<QString> errorMessage_;
    bool isMonitoringKeys_ = false;
    std::unique_ptr<WakePhraseListener> detector_;
    // Counts listening sessions: a detection or error still on its way from a detector that was
    // stopped belongs to an earlier session and is dropped.
    std::uint64_t detectionSession_ = 0;
    bool isConstructed_ = false;
};

} // namespace harkwell
