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
#include <utility>

namespace harkwell {

// The application's state and every user-level operation: settings, permission setup,
// listening and mode switching, phrase editing and shortcut recording. Lives on the main
// thread, which alone reads and writes its state; helper commands run one at a time on its
// "Harkwell.command" thread and their outcomes come back through the event loop. Every
// published value notifies on each assignment, changed or not.
class AppModel : public QObject {
    Q_OBJECT

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

    // Loads the settings (migrating the legacy single phrase), registers the stored shortcut
    // and wires the shortcut to the mode toggle. Listening is off.
    explicit AppModel(Dependencies dependencies, QObject* parent = nullptr);
    // Ends shortcut recording and stops listening; waits for a helper command under way.
    ~AppModel() override;

    // Limits that keep listening light: the list takes at most this many phrases of at most this
    // many characters each. Stored settings beyond them are kept; listening then uses the first
    // phrases within the limits.
    static constexpr int maximumWakePhraseCount = 50;
    static constexpr int maximumWakePhraseLength = 100;

    const QString& wakePhraseDraft() const { return wakePhraseDraft_; }
    // A change of the draft clears the hint.
    void setWakePhraseDraft(const QString& draft);
    const QStringList& activeWakePhrases() const { return activeWakePhrases_; }
    // Whether the draft holds anything to add; adding then adds it or says why not.
    bool canAddWakePhrase() const;
    // Why the last entry was refused ("“Olivia” is already in the list."), or empty.
    const QString& wakePhraseHint() const { return wakePhraseHint_; }
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
    // Quiet reads of the AirPods' mode, so that the picker and the shortcut start from the real
    // one: once the application has started and each time the control panel opens. They do
    // nothing before permission setup is complete or while a command runs; a read that fails
    // changes nothing, except that AirPods that are not connected say so.
    void applicationDidLaunch();
    void panelDidOpen();
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
    void wakePhraseHintChanged();
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
    using CommandFailure = std::function<void(AppModel&, const Error&)>;
    // Runs a helper command on the command thread with isCommandRunning set; the outcome is
    // applied on the main thread by onSuccess or onFailure, which free the command gate.
    void runCommand(std::function<void(AirPodsControl&)> command, std::function<void(AppModel&)> onSuccess,
                    CommandFailure onFailure = &AppModel::applyCommandFailure);
    // A command that reads the mode: on success the mode is shown, then afterRead runs.
    void runModeRead(std::function<ListeningMode(AirPodsControl&)> read, std::function<void(AppModel&)> afterRead,
                     CommandFailure onFailure);
    void applyCommandFailure(const Error& error);
    void readAirPodsModeQuietly();
    // Frees the command gate after a quiet read and switches for a call heard meanwhile.
    void finishQuietRead();

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
    // Shows the message and turns listening off.
    void failAndStopListening(const QString& message);
    void releaseDetector();
    // The phrases listening uses: the first ones within the limits.
    std::vector<std::string> listenedWakePhrases() const;
    void handleDetection(const QString& targetPhrase);

    // Phrases and shortcut.
    void updateWakePhrases(const QStringList& phrases);
    void captureShortcut(const QKeyEvent& event);
    void stopShortcutRecording();

    // Settings.
    // Tells of a damaged settings file found at load, and of every settings write that fails.
    void reportSettingsProblems();
    QStringList loadWakePhrases();
    void saveWakePhrases(const QStringList& phrases);
    std::optional<HotKeySetting> loadHotKeySetting() const;
    void saveHotKeySetting(const HotKeySetting& setting);

    // Assignments of the published state, each followed by its notification.
    void assignActiveWakePhrases(QStringList phrases);
    void assignWakePhraseHint(const QString& hint);
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
    QString wakePhraseHint_;
    bool isPermissionSetupComplete_ = false;
    QString permissionStatusText_;
    bool isDetectionEnabled_ = false;
    ListeningMode selectedMode_ = ListeningMode::anc;
    std::optional<HotKeySetting> hotKeySetting_;
    bool isRecordingShortcut_ = false;
    bool isCommandRunning_ = false;
    std::optional<QString> errorMessage_;
    // Why the last settings write failed: shown whenever there is no other message, until a
    // write succeeds.
    std::optional<QString> settingsWriteFailure_;
    bool isMonitoringKeys_ = false;
    std::unique_ptr<WakePhraseListener> detector_;
    // Counts listening sessions: a detection or error still on its way from a detector that was
    // stopped belongs to an earlier session and is dropped.
    std::uint64_t detectionSession_ = 0;
    bool isReadingQuietly_ = false;
    // A call heard during a quiet read, with its listening session.
    std::optional<std::pair<std::uint64_t, QString>> callAfterRead_;
};

} // namespace harkwell
