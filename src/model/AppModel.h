#pragma once

#include "airpods/AirPodsControl.h"
#include "core/Clock.h"
#include "core/OwnerContext.h"
#include "core/PermissionService.h"
#include "core/SerialQueue.h"
#include "core/Ticker.h"
#include "detection/AudioCapture.h"
#include "detection/DetectionSensitivity.h"
#include "detection/WakePhraseListener.h"
#include "model/AutostartEntry.h"
#include "model/KeyEventMonitor.h"
#include "model/SettingsStore.h"
#include "shortcut/HotKeyController.h"
#include "speech/WhisperModel.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace harkwell {

// The application's state and every user-level operation: settings, permission setup,
// listening and mode switching, phrase editing and shortcut recording. Lives on the main
// thread, which alone reads and writes its state; helper commands run one at a time on its
// "Harkwell.command" thread, reads of the sound server's inputs on its "Harkwell.inputs" thread,
// and their outcomes come back through the event loop. Listening sessions that end are stopped on
// the main thread and left to end their threads on the "Harkwell.retiring" thread. Every
// published value notifies on each assignment, changed or not.
//
// A call heard while a helper command runs (a return after an earlier call, the user's switch, a
// read of the mode) is held and switches the AirPods once the command has finished.
//
// Listening that ends because the sound server or the microphone went away is started again
// quietly, after 1 s, then after twice as long each time up to 30 s by the clock, until audio
// comes (the switch turns on again and the banner says so), another error ends it, or the
// switch is used.
class AppModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString recognizerNotice READ recognizerNotice NOTIFY recognizerNoticeChanged)

public:
    // What the model works through; tests hand in fakes, the application the real ones.
    struct Dependencies {
        std::shared_ptr<AirPodsControl> airPods;
        std::unique_ptr<HotKeyController> hotKeyController;
        std::shared_ptr<PermissionService> permissions;
        WakePhraseListenerFactory detectorFactory;
        std::unique_ptr<KeyEventMonitor> keyMonitor;
        std::unique_ptr<SettingsStore> settings;
        std::unique_ptr<AutostartEntry> autostart;
        // Elapsed times, and the wake-ups that look at them.
        std::shared_ptr<const Clock> clock = std::make_shared<SteadyClock>();
        std::unique_ptr<Ticker> ticker = std::make_unique<TimerTicker>();
        // The sound server's inputs, for the microphone choice; none: only the automatic one.
        std::shared_ptr<AudioInputList> audioInputs;
        // The accurate recogniser's model, the one of the process, which the listeners share; none:
        // no notice about it.
        std::shared_ptr<WhisperModel> whisperModel;
    };

    static constexpr std::chrono::seconds firstResumeDelay{1};
    static constexpr std::chrono::seconds longestResumeDelay{30};

    // Loads the settings (migrating the legacy single phrase), starts registering the stored
    // shortcut (a refusal, now or once the desktop answers, shows its message), wires the
    // shortcut to the mode toggle and starts loading the accurate recogniser's model, so that the
    // first call is heard with it. Listening is off.
    explicit AppModel(Dependencies dependencies, QObject* parent = nullptr);
    // Ends shortcut recording and stops listening; ends a helper command under way
    // (AirPodsControl::shutDown) and waits for it, for a read of the inputs under way, which the
    // sound server answers or gives up within its time-out (5 s), and for the threads of listening
    // sessions to end. What those bring is dropped.
    ~AppModel() override;

    // Limits that keep listening light: the list takes at most this many phrases of at most this
    // many characters each. Stored settings beyond them are kept; listening then uses the first
    // phrases within the limits that are in a script it hears.
    static constexpr int maximumWakePhraseCount = 50;
    static constexpr int maximumWakePhraseLength = 100;
    // The draft holds at most this many UTF-16 code units, so that a pasted text cannot freeze the
    // panel.
    static constexpr int maximumWakePhraseDraftLength = 500;
    // The waits offered before the AirPods go back after a call, in seconds; 0 is off.
    static constexpr std::array<int, 4> returnAfterQuietChoices{0, 10, 30, 60};
    static constexpr int defaultReturnAfterQuietSeconds = 30;

    const QString& wakePhraseDraft() const { return wakePhraseDraft_; }
    // A change of the draft clears the hint.
    void setWakePhraseDraft(const QString& draft);
    // Puts pasted text into the draft in place of `replacedLength` code units at `position`. Text
    // that would make the draft longer than its maximum is cut before a comma, never inside a
    // phrase: the phrases that fit go in, and the hint tells how many did and which did not.
    void pasteIntoWakePhraseDraft(const QString& pasted, int position, int replacedLength = 0);
    const QStringList& activeWakePhrases() const { return activeWakePhrases_; }
    // Whether the draft holds anything to add; adding then adds it or says why not.
    bool canAddWakePhrase() const;
    // Why the last entry was refused ("“Olivia” is already in the list."), what of a paste did not
    // fit, or that a phrase added is in a script listening cannot hear; or empty.
    const QString& wakePhraseHint() const { return wakePhraseHint_; }
    bool isPermissionSetupComplete() const { return isPermissionSetupComplete_; }
    const QString& permissionStatusText() const { return permissionStatusText_; }
    bool isDetectionEnabled() const { return isDetectionEnabled_; }
    // How many call phrases listening uses: the first ones within the limits, in a script it hears.
    int listenedWakePhraseCount() const { return int(listenedWakePhrases().size()); }
    // How many it could use without the limit on their number.
    int hearableWakePhraseCount() const { return int(hearableWakePhrases().size()); }
    // Whether a detected call switched the AirPods to Transparency and they are still in it, with
    // listening on.
    bool isInTransparencyAfterCall() const { return isInTransparencyAfterCall_; }
    // Listening that the sound going away ended is being tried again.
    bool isWaitingToResume() const { return resume_.has_value(); }
    ListeningMode selectedMode() const { return selectedMode_; }
    QString selectedModeRawValue() const;
    const std::optional<HotKeySetting>& hotKeySetting() const { return hotKeySetting_; }
    // The shortcut's display name, or empty without one.
    QString hotKeyDisplayName() const;
    bool isRecordingShortcut() const { return isRecordingShortcut_; }
    bool isCommandRunning() const { return isCommandRunning_; }
    // Whether the session starts Harkwell at login, as the autostart entry says when the model was
    // made or the panel last opened.
    bool isStartAtLogin() const { return isStartAtLogin_; }
    // Whether listening starts with Harkwell (setup complete and phrases there).
    bool isListenAtStart() const;
    // The banner: a message, and whether it tells of a fault or of good news.
    enum class BannerKind { error, information };
    const std::optional<QString>& errorMessage() const { return errorMessage_; }
    QString errorMessageText() const { return errorMessage_.value_or(QString()); }
    BannerKind bannerKind() const { return bannerKind_; }
    DetectionSensitivity detectionSensitivity() const { return detectionSensitivity_; }
    // One of returnAfterQuietChoices.
    int returnAfterQuietSeconds() const { return returnAfterQuietSeconds_; }
    // While the AirPods wait to go back after a call: the whole seconds left, at least 0.
    std::optional<int> secondsUntilReturn() const { return shownSecondsUntilReturn_; }

    // A microphone the user can choose: the sound server's source name and its description.
    struct MicrophoneInput {
        QString id;
        QString description;
        bool isBluetooth = false;
        bool operator==(const MicrophoneInput&) const = default;
    };
    // The inputs to choose from as last read, in the sound server's order with Bluetooth inputs
    // last; monitors of outputs are left out.
    const QList<MicrophoneInput>& microphoneInputs() const { return microphoneInputs_; }
    // The chosen input's source name; empty for the automatic choice (the built-in microphone).
    const QString& microphoneSource() const { return microphoneSource_; }
    // While listening goes on the automatic choice because the chosen input was not there at its
    // start: the description of the input it uses; else empty.
    const QString& fallbackMicrophone() const { return fallbackMicrophone_; }
    // Why listening goes on with the basic recogniser alone: the accurate recogniser's model is not
    // installed or could not be loaded. Empty while it loads, once it is ready, and without one.
    const QString& recognizerNotice() const { return recognizerNotice_; }
    // The peak of the last 100 ms the microphone heard, 0 to 1 of full scale; 0 while not listening.
    double inputLevel() const { return detector_ ? detector_->inputLevel() : 0; }

    // Called with the call phrase once a detected call has switched the AirPods to Transparency.
    std::function<void(const QString& phrase)> onCallDetected;

    // Writes or removes the autostart entry; an entry that already says so, edited by hand or not,
    // stays as it is. A failure shows in the banner.
    void setStartAtLogin(bool enabled);
    void setListenAtStart(bool enabled);

    // Speech recognition, then the microphone, then Bluetooth through the helper.
    void preparePermissions();
    void setDetectionEnabled(bool enabled);
    // Why a switch failed, as the banner says it.
    using SwitchFailure = std::function<void(const QString& reason)>;
    // Switches the AirPods; onSuccess runs on the main thread once they are in that mode, onFailure
    // when they could not be switched (setup not complete, a command running, the helper's error).
    void setAirPodsMode(ListeningMode mode, std::function<void()> onSuccess = nullptr,
                        SwitchFailure onFailure = nullptr);
    void refreshAirPodsMode();
    // Quiet reads of the AirPods' mode, so that the picker and the shortcut start from the real
    // one: once the application has started and each time the control panel opens. They do
    // nothing before permission setup is complete or while a command runs; a read that fails
    // changes nothing, except that AirPods that are not connected say so. At start-up listening
    // starts first when the user asked for it (isListenAtStart) and there are phrases; opening
    // the panel reads the autostart entry again.
    void applicationDidLaunch();
    void panelDidOpen();
    // The panel was closed: the notice of a damaged settings file, which stands until then, has
    // been seen.
    void panelDidClose();
    // What the global shortcut (and `harkwell --toggle-mode`) does: noise cancellation to
    // transparency, anything else to noise cancellation. done, when given, hears how it ended: no
    // failure, or why the AirPods were not switched.
    void toggleAirPodsModeFromShortcut(std::function<void(const std::optional<QString>& failure)> done = nullptr);
    // Stored; while listening, listening goes on at once with the new level's recogniser, without
    // turning off in between.
    void setDetectionSensitivity(DetectionSensitivity sensitivity);
    // Stored as given when it is one of the choices; another positive number counts as the
    // nearest positive choice (ties: the longer). 0 turns the return off and ends a pending one.
    void setReturnAfterQuietSeconds(int seconds);

    // Reads the sound server's inputs again on the inputs thread (a server out of reach lists
    // none); the list arrives later on the main thread, which notifies when it changed. While a
    // read is under way, a refresh does nothing: a server that hangs holds one read, not a queue.
    void refreshMicrophoneInputs();
    // Stored (empty: automatic, the key removed); while listening, listening goes on at once on
    // the new choice. A chosen input not there when listening starts is replaced by the automatic
    // choice when there is one; it never is by a Bluetooth input.
    void setMicrophoneSource(const QString& source);

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
    void isInTransparencyAfterCallChanged();
    void selectedModeChanged();
    void hotKeySettingChanged();
    void isRecordingShortcutChanged();
    void isCommandRunningChanged();
    void errorMessageChanged();
    void isStartAtLoginChanged();
    void isListenAtStartChanged();
    void detectionSensitivityChanged();
    void returnAfterQuietSecondsChanged();
    // A return began or ended, or its seconds left changed.
    void secondsUntilReturnChanged();
    void microphoneInputsChanged();
    // The choice or the input used in its place changed.
    void microphoneSourceChanged();
    void recognizerNoticeChanged();

private:
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
    // Switches for the call held while a command ran, once none runs.
    void applyHeldCall();

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
    enum class Start { byUser, resuming };
    void startDetection(Start start = Start::byUser);
    void stopDetection();
    // Shows the message and turns listening off.
    void failAndStopListening(const QString& message);
    // Listening is over: the AirPods are no longer in Transparency for a call it heard.
    void leaveTransparencyAfterCall();
    // Ends the listening session: its detector is stopped and retired, a launch waiting for the
    // inputs is dropped.
    void releaseDetector();
    // Stops the detector and hands it to the retiring thread, which destroys it.
    void retireDetector();
    // Starts a new listening session for the phrases: with a chosen input, once the inputs have
    // been read on the inputs thread (it may give way to the automatic choice), else at once.
    void launchDetector(const std::vector<std::string>& phrases);
    void makeDetector(std::uint64_t session, const std::vector<std::string>& phrases, const std::string& source,
                      const QString& fallback);
    // The phrases listening uses: the first ones within the limits, in a script it hears.
    std::vector<std::string> listenedWakePhrases() const;
    // Those within the length limit and in a script listening hears, all of them.
    std::vector<std::string> hearableWakePhrases() const;
    void handleDetection(const QString& targetPhrase);
    void handleListeningError(const Error& error);
    void handleListening();
    void scheduleResume(Clock::duration delay);
    void cancelResume();
    void resumeWhenDue();

    // Back to the mode from before a call. A call that switched the AirPods from another mode to
    // Transparency schedules the return; near speech puts it off; once the microphone has heard
    // none for the chosen time, the AirPods go back, unless they are no longer in Transparency.
    // The user's own mode choice, listening turned off, and AirPods that are away end it.
    void scheduleReturn(ListeningMode modeBefore);
    void hearNearSpeech();
    void reviewPendingReturn();
    void returnAfterCall();
    void cancelPendingReturn();
    // Keeps the ticker going while a wait to listen again or a return is pending.
    void updateTicker();
    void switchAirPods(ListeningMode mode, std::function<void()> onSuccess, SwitchFailure onFailure = nullptr);

    // The notice for the accurate recogniser's model as it now stands; a failure's reason goes to
    // the log.
    void updateRecognizerNotice();

    // Takes a list of inputs read on the inputs thread; notifies only when it differs.
    void applyMicrophoneInputs(QList<MicrophoneInput> inputs);

    // Phrases and shortcut.
    void updateWakePhrases(const QStringList& phrases);
    void captureShortcut(const QKeyEvent& event);
    void registerStoredHotKey(const HotKeySetting& setting);
    void stopShortcutRecording();

    // Settings.
    // Tells of a damaged settings file, found at load or before a write, and of every settings
    // write that fails.
    void reportSettingsProblems();
    // Shows the notice of the damaged settings file the store found last, when it is a new one.
    void reportDamagedSettings();
    QStringList loadWakePhrases();
    void saveWakePhrases(const QStringList& phrases);
    std::optional<HotKeySetting> loadHotKeySetting() const;
    void saveHotKeySetting(const HotKeySetting& setting);
    // The choice a stored or requested wait counts as.
    static int returnChoiceFor(std::uint32_t seconds);

    // Assignments of the published state, each followed by its notification.
    void assignActiveWakePhrases(QStringList phrases);
    void assignWakePhraseHint(const QString& hint);
    void assignPermissionSetupComplete(bool complete);
    void assignPermissionStatusText(const QString& text);
    void assignDetectionEnabled(bool enabled);
    void assignTransparencyAfterCall(bool afterCall);
    void assignStartAtLogin(bool enabled);
    void assignSelectedMode(ListeningMode mode);
    void assignHotKeySetting(std::optional<HotKeySetting> setting);
    void assignRecordingShortcut(bool recording);
    void assignCommandRunning(bool running);
    // Nothing shows the standing notices: a failed settings write, then a damaged settings file.
    void assignErrorMessage(std::optional<QString> message, BannerKind kind = BannerKind::error);
    void assignSecondsUntilReturn(std::optional<int> seconds);
    void assignFallbackMicrophone(const QString& name);

    std::shared_ptr<AirPodsControl> airPods_;
    std::unique_ptr<HotKeyController> hotKeyController_;
    std::shared_ptr<PermissionService> permissions_;
    WakePhraseListenerFactory detectorFactory_;
    std::unique_ptr<KeyEventMonitor> keyMonitor_;
    std::unique_ptr<SettingsStore> settings_;
    std::unique_ptr<AutostartEntry> autostart_;
    std::shared_ptr<AudioInputList> audioInputs_;
    std::shared_ptr<WhisperModel> whisperModel_;
    std::shared_ptr<const Clock> clock_;
    // Wakes the model while listening waits to start again or a return waits for quiet.
    std::unique_ptr<Ticker> ticker_;
    bool isTicking_ = false;
    SerialQueue commandQueue_{"Harkwell.command"};
    SerialQueue inputsQueue_{"Harkwell.inputs"};
    SerialQueue retiringQueue_{"Harkwell.retiring"};

    QString wakePhraseDraft_;
    QStringList activeWakePhrases_;
    QString wakePhraseHint_;
    bool isPermissionSetupComplete_ = false;
    QString permissionStatusText_;
    bool isDetectionEnabled_ = false;
    bool isInTransparencyAfterCall_ = false;
    ListeningMode selectedMode_ = ListeningMode::anc;
    std::optional<HotKeySetting> hotKeySetting_;
    bool isRecordingShortcut_ = false;
    bool isCommandRunning_ = false;
    bool isStartAtLogin_ = false;
    std::optional<QString> errorMessage_;
    BannerKind bannerKind_ = BannerKind::error;
    DetectionSensitivity detectionSensitivity_ = DetectionSensitivity::medium;
    int returnAfterQuietSeconds_ = defaultReturnAfterQuietSeconds;
    QList<MicrophoneInput> microphoneInputs_;
    bool isReadingInputs_ = false;
    QString microphoneSource_;
    QString fallbackMicrophone_;
    QString recognizerNotice_;
    // A return waiting for quiet: the mode to go back to, and the last time near speech was heard
    // (or the call, when none was since).
    struct PendingReturn {
        ListeningMode modeBefore;
        Clock::TimePoint quietSince;
    };
    std::optional<PendingReturn> pendingReturn_;
    std::optional<int> shownSecondsUntilReturn_;
    // Why the last settings write failed: shown whenever there is no other message, until a
    // write succeeds.
    std::optional<QString> settingsWriteFailure_;
    // The notice of a damaged settings file: shown whenever there is no other message, until the
    // panel closes; and the copy it names, shown once.
    std::optional<QString> damagedSettingsNotice_;
    std::optional<QString> reportedDamagedCopy_;
    bool isMonitoringKeys_ = false;
    std::unique_ptr<WakePhraseListener> detector_;
    // A session whose detector waits for the read of the inputs.
    bool isAwaitingInputs_ = false;
    // Counts listening sessions: a detection or error still on its way from a detector that was
    // stopped belongs to an earlier session and is dropped.
    std::uint64_t detectionSession_ = 0;
    // A call heard while a command ran, with its listening session.
    std::optional<std::pair<std::uint64_t, QString>> heldCall_;
    // While listening waits to start again: the delay before the next try, and when it is due
    // (none while a try is under way: then detector_ is that try).
    struct Resume {
        Clock::duration delay;
        std::optional<Clock::TimePoint> at;
    };
    std::optional<Resume> resume_;
    // Last, so that it goes first: work handed back by the queues as they drain does nothing.
    OwnerContext owner_;
};

} // namespace harkwell
