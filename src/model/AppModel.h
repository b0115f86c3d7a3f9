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
#include "media/CallMedia.h"
#include "media/MediaControl.h"
#include "media/MediaOnCall.h"
#include "model/AirPodsModeSwitcher.h"
#include "model/AutostartEntry.h"
#include "model/KeyEventMonitor.h"
#include "model/ListeningSession.h"
#include "model/MicrophoneInputs.h"
#include "model/PermissionSetup.h"
#include "model/PhraseBook.h"
#include "model/ReturnAfterCall.h"
#include "model/SettingsStore.h"
#include "model/ShortcutRecorder.h"
#include "shortcut/HotKeyController.h"
#include "speech/WhisperModel.h"

#include <QDateTime>
#include <QList>
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

// The application's state and every user-level operation, the front the panels talk to. It keeps
// the banner (which message wins), the settings keys, the listening switch and start at login,
// and puts together the parts that keep the rest: PhraseBook (the phrases and the draft),
// MicrophoneInputs ("Harkwell.inputs"), ListeningSession (the listener, trying again after the
// sound went away, "Harkwell.retiring"), ReturnAfterCall, AirPodsModeSwitcher ("Harkwell.command"),
// PermissionSetup, ShortcutRecorder (the global shortcut and its recording) and CallMedia (what a call
// does to the media, "Harkwell.media"). Lives on the main thread, which alone
// reads and writes the state; every published value notifies on each assignment, changed or not.
//
// A call heard while a helper command runs (a return after an earlier call, the user's switch, a
// read of the mode) is held and switches the AirPods once the command has finished. Listening
// that audio coming back resumes turns the switch on again, and the banner says so.
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
        // Elapsed times, and the wake-ups that look at them (one ticker for each part that waits).
        std::shared_ptr<const Clock> clock = std::make_shared<SteadyClock>();
        std::function<std::unique_ptr<Ticker>()> makeTicker = [] { return std::make_unique<TimerTicker>(); };
        // The sound server's inputs, for the microphone choice; none: only the automatic one.
        std::shared_ptr<AudioInputList> audioInputs;
        // The accurate recogniser's model, the one of the process, which the listeners share; none:
        // no notice about it.
        std::shared_ptr<WhisperModel> whisperModel;
        // The session's media players and the sound server's playing streams, which a call pauses
        // or lowers; none: nothing is paused or lowered through it.
        std::shared_ptr<MediaPlayers> mediaPlayers;
        std::shared_ptr<SoundStreams> soundStreams;
    };

    static constexpr std::chrono::seconds firstResumeDelay = ListeningSession::firstResumeDelay;
    static constexpr std::chrono::seconds longestResumeDelay = ListeningSession::longestResumeDelay;

    // Loads the settings (migrating the legacy single phrase), starts registering the stored
    // shortcut (a refusal, now or once the desktop answers, shows its message), wires the
    // shortcut to the mode toggle and starts loading the accurate recogniser's model, so that the
    // first call is heard with it. Listening is off.
    explicit AppModel(Dependencies dependencies, QObject* parent = nullptr);
    // Ends shortcut recording and stops listening; ends a helper command under way
    // (AirPodsControl::shutDown) and waits for it, for a read of the inputs under way, which the
    // sound server answers or gives up within its time-out (5 s), for the threads of listening
    // sessions to end, and for the media's work, which gives lowered volumes back (CallMedia, within
    // its time-outs). What those bring is dropped.
    ~AppModel() override;

    // The limits of the phrase list and of the draft (PhraseBook).
    static constexpr int maximumWakePhraseCount = PhraseBook::maximumCount;
    static constexpr int maximumWakePhraseLength = PhraseBook::maximumLength;
    static constexpr int maximumWakePhraseDraftLength = PhraseBook::maximumDraftLength;
    // The waits offered before the AirPods go back after a call, in seconds; 0 is off.
    static constexpr auto returnAfterQuietChoices = ReturnAfterCall::waitChoices;
    static constexpr int defaultReturnAfterQuietSeconds = ReturnAfterCall::defaultWaitSeconds;

    // The draft, the phrase list and the hint, as PhraseBook keeps them.
    const QString& wakePhraseDraft() const { return phrases_.draft(); }
    void setWakePhraseDraft(const QString& draft) { phrases_.setDraft(draft); }
    void pasteIntoWakePhraseDraft(const QString& pasted, int position, int replacedLength = 0) {
        phrases_.paste(pasted, position, replacedLength);
    }
    const QStringList& activeWakePhrases() const { return phrases_.phrases(); }
    // Whether the draft holds anything to add; adding then adds it or says why not.
    bool canAddWakePhrase() const { return phrases_.canAdd(); }
    // Why the last entry was refused ("“Olivia” is already in the list."), what of a paste did not
    // fit, or that a phrase added cannot be heard (PhraseBook::whyNotHeard); or empty.
    const QString& wakePhraseHint() const { return phrases_.hint(); }
    bool isPermissionSetupComplete() const { return permissionSetup_.isComplete(); }
    const QString& permissionStatusText() const { return permissionSetup_.statusText(); }
    bool isDetectionEnabled() const { return isDetectionEnabled_; }
    // How many call phrases listening uses: the first ones within the limits, in a language it hears.
    int listenedWakePhraseCount() const { return int(phrases_.listened().size()); }
    // How many it could use without the limit on their number.
    int hearableWakePhraseCount() const { return int(phrases_.hearable().size()); }
    // Why listening cannot hear a phrase of the list (PhraseBook::whyNotHeard); nothing when it can.
    std::optional<QString> whyWakePhraseNotHeard(const QString& phrase) const { return phrases_.whyNotHeard(phrase); }
    // Whether a detected call switched the AirPods to Transparency and they are still in it, with
    // listening on.
    bool isInTransparencyAfterCall() const { return returnAfterCall_.isInTransparencyAfterCall(); }
    // Listening that the sound going away ended is being tried again.
    bool isWaitingToResume() const { return listening_.isWaitingToResume(); }
    ListeningMode selectedMode() const { return switcher_.selectedMode(); }
    QString selectedModeRawValue() const;
    const std::optional<HotKeySetting>& hotKeySetting() const { return shortcut_.setting(); }
    // The shortcut's display name, or empty without one.
    QString hotKeyDisplayName() const { return shortcut_.displayName(); }
    bool isRecordingShortcut() const { return shortcut_.isRecording(); }
    // Where the desktop lets no application register the shortcut, what to do instead (ShortcutRecorder):
    // the note under it, GNOME's button and sway's config line. They change with hotKeySettingChanged.
    const QString& shortcutDesktopNote() const { return shortcut_.desktopNote(); }
    bool canBindShortcutInDesktopSettings() const { return shortcut_.canBindInDesktopSettings(); }
    QString shortcutConfigLine() const { return shortcut_.desktopConfigLine(); }
    bool isCommandRunning() const { return switcher_.isCommandRunning(); }
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
    DetectionSensitivity detectionSensitivity() const { return listening_.sensitivity(); }
    // One of returnAfterQuietChoices.
    int returnAfterQuietSeconds() const { return returnAfterCall_.waitSeconds(); }
    // While the AirPods wait to go back after a call: the whole seconds left, at least 0.
    std::optional<int> secondsUntilReturn() const { return returnAfterCall_.secondsLeft(); }

    // The inputs to choose from and the chosen one, as MicrophoneInputs keeps them.
    using MicrophoneInput = harkwell::MicrophoneInput;
    const QList<MicrophoneInput>& microphoneInputs() const { return microphones_.inputs(); }
    const QString& microphoneSource() const { return microphones_.source(); }
    // While listening goes on the automatic choice because the chosen input was not there at its
    // start: the description of the input it uses; else empty.
    const QString& fallbackMicrophone() const { return listening_.fallbackMicrophone(); }
    // What the accurate recogniser's model leaves unheard, for the phrases' languages
    // (ListeningSession::recognizerNotice); empty when everything can be heard.
    const QString& recognizerNotice() const { return listening_.recognizerNotice(); }
    // The peak of the last 100 ms the microphone heard, 0 to 1 of full scale; 0 while not listening.
    double inputLevel() const { return listening_.inputLevel(); }

    // What a call does to the media playing ("When someone calls"); stored. A call that switched
    // the AirPods to Transparency pauses or lowers them (CallMedia), after the switch and off the
    // main thread; they come back once the AirPods leave Transparency (the return after the quiet
    // wait, or the user's own choice). The user's own switch to Transparency changes no media.
    MediaOnCall mediaOnCall() const { return mediaOnCall_; }
    void setMediaOnCall(MediaOnCall action);

    // A call heard: when, its phrase, and the words heard around it as the recogniser gave them.
    struct HeardCall {
        QDateTime at;
        QString phrase;
        QString heard;
    };
    static constexpr int recentCallLimit = 5;
    // The last calls of this run, the latest first; kept in memory only, never written (they are
    // people's speech).
    const QList<HeardCall>& recentCalls() const { return recentCalls_; }

    // Called with the call phrase once a detected call has switched the AirPods to Transparency.
    std::function<void(const QString& phrase)> onCallDetected;

    // Writes or removes the autostart entry; an entry that already says so, edited by hand or not,
    // stays as it is. A failure shows in the banner.
    void setStartAtLogin(bool enabled);
    void setListenAtStart(bool enabled);

    // Speech recognition, then the microphone, then Bluetooth through the helper (PermissionSetup).
    void preparePermissions() { permissionSetup_.prepare(); }
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
    // The panel was closed: the notice of a damaged settings file and the failure to save the
    // settings, which stand until then, have been seen.
    void panelDidClose();
    // What the global shortcut (and `harkwell --toggle-mode`) does: noise cancellation to
    // transparency, anything else to noise cancellation. done, when given, hears how it ended: no
    // failure, or why the AirPods were not switched.
    void
    toggleAirPodsModeFromShortcut(const std::function<void(const std::optional<QString>& failure)>& done = nullptr);
    // Stored; while listening, listening goes on at once with the new level's recogniser, without
    // turning off in between.
    void setDetectionSensitivity(DetectionSensitivity sensitivity);
    // Stored as given when it is one of the choices; another positive number counts as the
    // nearest positive choice (ties: the longer). 0 turns the return off and ends a pending one.
    void setReturnAfterQuietSeconds(int seconds);

    // Reads the sound server's inputs again (MicrophoneInputs::refresh).
    void refreshMicrophoneInputs() { microphones_.refresh(); }
    // Stored (empty: automatic, the key removed); while listening, listening goes on at once on
    // the new choice. A chosen input not there when listening starts is replaced by the automatic
    // choice when there is one; it never is by a Bluetooth input.
    void setMicrophoneSource(const QString& source);

    void addWakePhraseFromDraft();
    void removeWakePhrase(const QString& phrase);

    // Recording and clearing the global shortcut (ShortcutRecorder).
    void startShortcutRecording() { shortcut_.start(); }
    void cancelShortcutRecording() { shortcut_.cancel(); }
    void clearShortcut() { shortcut_.clear(); }
    void bindShortcutInDesktopSettings() { shortcut_.bindInDesktopSettings(); }

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
    void mediaOnCallChanged();
    void recentCallsChanged();

private:
    // A helper command failed: AirPods that are away end a pending return and say so; any other
    // failure ends listening.
    void applyCommandFailure(const Error& error);
    void readAirPodsModeQuietly();
    // The read has ended: its notice goes. Whether it was shown.
    bool endAirPodsWait();

    // Listening.
    enum class Start { byUser, resuming };
    void startDetection(Start start = Start::byUser);
    void stopDetection();
    // Shows the message and turns listening off.
    void failAndStopListening(const QString& message);
    // A call: the AirPods switch to Transparency, or once the command under way has finished.
    void handleDetection(const QString& targetPhrase);

    // The return after a call is due: back to modeBefore, unless the AirPods have left Transparency.
    void returnToModeBefore(ListeningMode modeBefore);
    void switchAirPods(ListeningMode mode, std::function<void()> onSuccess, SwitchFailure onFailure = nullptr);

    // Hooks the parts' callbacks and forwards their notifications.
    void connectParts();

    // The list edited: stored, and listening goes on over it when it was on.
    void updateWakePhrases(const QStringList& phrases);

    // Settings.
    // Tells of a damaged settings file, found at load or before a write, and of every settings
    // write that fails.
    void reportSettingsProblems();
    // Shows the notice of the damaged settings file the store found last, when it is a new one.
    void reportDamagedSettings();
    QStringList loadWakePhrases();
    void saveWakePhrases(const QStringList& phrases);

    // Assignments of the published state, each followed by its notification.
    void assignDetectionEnabled(bool enabled);
    void assignStartAtLogin(bool enabled);
    // Nothing shows the standing notices: a failed settings write, then a damaged settings file.
    void assignErrorMessage(std::optional<QString> message, BannerKind kind = BannerKind::error);

    std::unique_ptr<SettingsStore> settings_;
    std::unique_ptr<AutostartEntry> autostart_;
    MicrophoneInputs microphones_;
    // After microphones_, which it asks where to listen.
    ListeningSession listening_;
    ReturnAfterCall returnAfterCall_;
    PhraseBook phrases_;
    MediaOnCall mediaOnCall_ = MediaOnCall::pause;
    QList<HeardCall> recentCalls_;
    bool isDetectionEnabled_ = false;
    bool isStartAtLogin_ = false;
    std::optional<QString> errorMessage_;
    BannerKind bannerKind_ = BannerKind::error;
    // Why the last settings write failed: shown whenever there is no other message, until a
    // write succeeds or the panel closes; and the failure told, which later writes that fail the
    // same way do not tell again.
    std::optional<QString> settingsWriteFailure_;
    std::optional<QString> toldSettingsWriteFailure_;
    // The notice of a damaged settings file: shown whenever there is no other message, until the
    // panel closes; and the copy it names, shown once.
    std::optional<QString> damagedSettingsNotice_;
    std::optional<QString> reportedDamagedCopy_;
    // Gives lowered volumes back as the model goes.
    CallMedia media_;
    // Goes before the other parts: a helper command under way ends before the model waits for them.
    AirPodsModeSwitcher switcher_;
    // After switcher_, whose command gate it holds, and settings_, where it stores its outcome.
    PermissionSetup permissionSetup_;
    // After settings_, where it stores the shortcut.
    ShortcutRecorder shortcut_;
    // Wakes the model while an automatic read of the mode takes long (AirPods that do not answer
    // keep the helper, and the greyed panel, waiting until its time-out), to say what it waits for.
    std::unique_ptr<Ticker> airPodsWait_;
    std::optional<QString> airPodsWaitNotice_;
    // Last, so that it goes first: work handed back by the queues as they drain does nothing.
    OwnerContext owner_;
};

} // namespace harkwell
