#include "model/AppModel.h"

#include "core/HandOff.h"
#include "core/Log.h"

#include <QPointer>

#include <chrono>
#include <cstdint>
#include <utility>

namespace harkwell {

namespace {

const QString wakePhrasesKey = "wakePhrases";
const QString wakePhraseKey = "wakePhrase";
const QString selectedModeKey = "selectedMode";
const QString listenAtStartKey = "listenAtStart";
const QString detectionSensitivityKey = "detectionSensitivity";
const QString returnAfterQuietSecondsKey = "returnAfterQuietSeconds";
const QString microphoneSourceKey = "microphoneSource";
const QString mediaOnCallKey = "mediaOnCall";

QString setupFirstText() { return AppModel::tr("Complete permission setup first."); }

// A read of the mode takes a moment; one that takes longer than this says what it waits for.
constexpr std::chrono::seconds airPodsWaitNoticeDelay{2};

} // namespace

AppModel::AppModel(Dependencies dependencies, QObject* parent)
    : QObject(parent), settings_(std::move(dependencies.settings)), autostart_(std::move(dependencies.autostart)),
      microphones_(std::move(dependencies.audioInputs)),
      listening_(std::move(dependencies.detectorFactory), microphones_, dependencies.clock, dependencies.makeTicker(),
                 std::move(dependencies.whisperModel)),
      returnAfterCall_(dependencies.clock, dependencies.makeTicker()),
      media_(std::move(dependencies.mediaPlayers), std::move(dependencies.soundStreams)),
      switcher_(std::move(dependencies.airPods)),
      permissionSetup_(std::move(dependencies.permissions), switcher_, *settings_),
      shortcut_(std::move(dependencies.hotKeyController), std::move(dependencies.keyMonitor), *settings_),
      airPodsWait_(dependencies.makeTicker()) {
    connectParts();
    reportSettingsProblems();
    isStartAtLogin_ = autostart_->isEnabled();
    phrases_.setKoreanHeard(listening_.isKoreanHeard());
    phrases_.setPhrases(loadWakePhrases());
    if (const auto stored = settings_->string(selectedModeKey)) {
        switcher_.restoreMode(ListeningMode::fromRawValue(stored->toStdString()).value_or(ListeningMode::anc));
    }
    if (const auto stored = settings_->string(detectionSensitivityKey)) {
        listening_.setSensitivity(DetectionSensitivity::fromRawValue(stored->toStdString()));
    }
    if (const auto stored = settings_->unsignedNumber(returnAfterQuietSecondsKey)) {
        returnAfterCall_.setWaitSeconds(ReturnAfterCall::waitChoiceFor(*stored));
    }
    microphones_.setSource(settings_->string(microphoneSourceKey).value_or(QString()));
    // An unknown value reads as the default and stays stored until the user chooses.
    if (const auto stored = settings_->string(mediaOnCallKey)) {
        mediaOnCall_ = MediaOnCall::fromRawValue(stored->toStdString());
    }
    shortcut_.registerStored();
}

AppModel::~AppModel() {
    shortcut_.stop();
    listening_.stop();
    shortcut_.onPressed = nullptr;
}

void AppModel::connectParts() {
    listening_.onDetected = [this](const QString& phrase, const QString& heard) {
        recentCalls_.prepend({QDateTime::currentDateTime(), phrase, heard.trimmed()});
        if (recentCalls_.size() > recentCallLimit) {
            recentCalls_.removeLast();
        }
        emit recentCallsChanged();
        handleDetection(phrase);
    };
    listening_.onFailed = [this](const Error& error) {
        failAndStopListening(QString::fromStdString(error.description()));
    };
    listening_.onNearSpeech = [this] { returnAfterCall_.hearNearSpeech(); };
    listening_.onResumed = [this] {
        assignDetectionEnabled(true);
        assignErrorMessage(tr("Listening resumed: the sound server is back."), BannerKind::information);
    };
    listening_.onResumeDue = [this] { startDetection(Start::resuming); };
    connect(&listening_, &ListeningSession::sensitivityChanged, this, &AppModel::detectionSensitivityChanged);
    connect(&listening_, &ListeningSession::fallbackMicrophoneChanged, this, &AppModel::microphoneSourceChanged);
    connect(&listening_, &ListeningSession::recognizerNoticeChanged, this, &AppModel::recognizerNoticeChanged);
    returnAfterCall_.isAirPodsBusy = [this] { return switcher_.isBusy(); };
    connect(&switcher_, &AirPodsModeSwitcher::isCommandRunningChanged, this, &AppModel::isCommandRunningChanged);
    connect(&switcher_, &AirPodsModeSwitcher::selectedModeChanged, this, [this] {
        settings_->setString(selectedModeKey, selectedModeRawValue());
        emit selectedModeChanged();
        returnAfterCall_.modeChanged(switcher_.selectedMode());
        if (switcher_.selectedMode() != ListeningMode::transparency) {
            media_.giveBack();
        }
    });
    returnAfterCall_.onDue = [this](ListeningMode modeBefore) { returnToModeBefore(modeBefore); };
    connect(&microphones_, &MicrophoneInputs::inputsChanged, this, &AppModel::microphoneInputsChanged);
    connect(&microphones_, &MicrophoneInputs::sourceChanged, this, &AppModel::microphoneSourceChanged);
    connect(&phrases_, &PhraseBook::phrasesChanged, this, [this] {
        listening_.setPhraseLanguages(phrases_.languages());
        emit activeWakePhrasesChanged();
    });
    connect(&listening_, &ListeningSession::isKoreanHeardChanged, this, [this] {
        phrases_.setKoreanHeard(listening_.isKoreanHeard());
        // Listening that began over Korean phrases alone while the model loaded ends once they
        // turn out not to be heard, and says why.
        if (isDetectionEnabled_ && phrases_.listened().empty()) {
            failAndStopListening(*phrases_.whyNotHeard(phrases_.phrases().first()));
        }
    });
    connect(&phrases_, &PhraseBook::draftChanged, this, &AppModel::wakePhraseDraftChanged);
    connect(&phrases_, &PhraseBook::hintChanged, this, &AppModel::wakePhraseHintChanged);
    connect(&phrases_, &PhraseBook::canAddChanged, this, &AppModel::canAddWakePhraseChanged);
    connect(&returnAfterCall_, &ReturnAfterCall::waitSecondsChanged, this, &AppModel::returnAfterQuietSecondsChanged);
    connect(&returnAfterCall_, &ReturnAfterCall::secondsLeftChanged, this, &AppModel::secondsUntilReturnChanged);
    connect(&returnAfterCall_, &ReturnAfterCall::isInTransparencyAfterCallChanged, this,
            &AppModel::isInTransparencyAfterCallChanged);
    permissionSetup_.onMessage = [this](const std::optional<QString>& message) { assignErrorMessage(message); };
    connect(&permissionSetup_, &PermissionSetup::isCompleteChanged, this, &AppModel::isPermissionSetupCompleteChanged);
    connect(&permissionSetup_, &PermissionSetup::statusTextChanged, this, &AppModel::permissionStatusTextChanged);
    shortcut_.onMessage = [this](const std::optional<QString>& message) { assignErrorMessage(message); };
    shortcut_.onPressed = [this] { toggleAirPodsModeFromShortcut(); };
    connect(&shortcut_, &ShortcutRecorder::settingChanged, this, &AppModel::hotKeySettingChanged);
    connect(&shortcut_, &ShortcutRecorder::isRecordingChanged, this, &AppModel::isRecordingShortcutChanged);
}

// --- Published state ---------------------------------------------------------------------

QString AppModel::selectedModeRawValue() const { return QString::fromUtf8(switcher_.selectedMode().rawValue()); }

void AppModel::assignDetectionEnabled(bool enabled) {
    isDetectionEnabled_ = enabled;
    emit isDetectionEnabledChanged();
}

void AppModel::assignStartAtLogin(bool enabled) {
    isStartAtLogin_ = enabled;
    emit isStartAtLoginChanged();
}

void AppModel::assignErrorMessage(std::optional<QString> message, BannerKind kind) {
    if (!message) {
        message = settingsWriteFailure_ ? settingsWriteFailure_ : damagedSettingsNotice_;
        kind = BannerKind::error;
    }
    errorMessage_ = std::move(message);
    bannerKind_ = kind;
    emit errorMessageChanged();
}

// --- Settings ----------------------------------------------------------------------------

void AppModel::reportSettingsProblems() {
    reportDamagedSettings();
    // Not a listening failure: listening goes on with the settings in memory.
    settings_->onWriteFinished =
        owner_.guard<const std::optional<QString>&>([this](const std::optional<QString>& failureReason) {
            reportDamagedSettings();
            const bool wasShown = settingsWriteFailure_ && errorMessage_ == settingsWriteFailure_;
            if (failureReason) {
                const QString failure = tr("Settings could not be saved: %1").arg(*failureReason);
                if (failure != toldSettingsWriteFailure_) { // told once, not at every change
                    toldSettingsWriteFailure_ = settingsWriteFailure_ = failure;
                    assignErrorMessage(settingsWriteFailure_);
                }
            } else {
                settingsWriteFailure_.reset();
                toldSettingsWriteFailure_.reset();
                if (wasShown) {
                    assignErrorMessage(std::nullopt);
                }
            }
        });
}

void AppModel::reportDamagedSettings() {
    const auto& copy = settings_->damagedFileCopy();
    if (!copy || copy == reportedDamagedCopy_) {
        return;
    }
    reportedDamagedCopy_ = copy;
    damagedSettingsNotice_ = settings_->isDamagedFileUnread()
                                 ? tr("The settings file could not be read (not a file, or larger than 1 MiB); it "
                                      "was moved aside unread to %1.")
                                       .arg(*copy)
                                 : tr("The settings file was damaged; what could be read was kept. A copy of the "
                                      "damaged file is at %1.")
                                       .arg(*copy);
    assignErrorMessage(damagedSettingsNotice_);
}

QStringList AppModel::loadWakePhrases() {
    if (const auto stored = settings_->stringList(wakePhrasesKey)) {
        return PhraseBook::normalized(*stored);
    }
    if (const auto legacy = settings_->string(wakePhraseKey)) {
        QStringList phrases = PhraseBook::normalized({*legacy});
        saveWakePhrases(phrases);
        return phrases;
    }
    return {};
}

void AppModel::saveWakePhrases(const QStringList& phrases) {
    settings_->setStringList(wakePhrasesKey, phrases);
    if (phrases.isEmpty()) {
        settings_->remove(wakePhraseKey);
    } else {
        settings_->setString(wakePhraseKey, phrases.first());
    }
}

// --- Start-up ----------------------------------------------------------------------------

void AppModel::setStartAtLogin(bool enabled) {
    if (autostart_->isEnabled() != enabled) {
        if (const auto failure = autostart_->setEnabled(enabled)) {
            assignErrorMessage((enabled ? tr("Start at login could not be turned on: %1")
                                        : tr("Start at login could not be turned off: %1"))
                                   .arg(*failure));
        } else {
            assignErrorMessage(std::nullopt);
        }
    }
    assignStartAtLogin(autostart_->isEnabled());
}

bool AppModel::isListenAtStart() const { return settings_->boolean(listenAtStartKey); }

void AppModel::setListenAtStart(bool enabled) {
    settings_->setBoolean(listenAtStartKey, enabled);
    emit isListenAtStartChanged();
}

// --- Helper commands ---------------------------------------------------------------------

void AppModel::applyCommandFailure(const Error& error) {
    qCInfo(logModel) << "AirPods command failed:" << error.description().c_str();
    if (error.is(AppError::Kind::airPodsNotConnected)) {
        // Listening goes on, so that a later call can switch the AirPods once they are back.
        returnAfterCall_.cancel();
        assignErrorMessage(QString::fromStdString(error.description()));
    } else {
        failAndStopListening(QString::fromStdString(error.description()));
    }
}

void AppModel::setAirPodsMode(ListeningMode mode, std::function<void()> onSuccess, SwitchFailure onFailure) {
    // The user's choice wins over a return after a call.
    returnAfterCall_.cancel();
    switchAirPods(mode, std::move(onSuccess), std::move(onFailure));
}

void AppModel::switchAirPods(ListeningMode mode, std::function<void()> onSuccess, SwitchFailure onFailure) {
    if (!permissionSetup_.isComplete()) {
        failAndStopListening(setupFirstText());
        if (onFailure) {
            onFailure(setupFirstText());
        }
        return;
    }
    if (switcher_.isCommandRunning()) {
        qCDebug(logModel) << "AirPods mode" << logged(mode.rawValue()) << "dropped: a command is running";
        if (onFailure) {
            onFailure(tr("Another AirPods command is running."));
        }
        return;
    }
    assignErrorMessage(std::nullopt);
    switcher_.switchTo(mode, std::move(onSuccess), [this, onFailure = std::move(onFailure)](const Error& error) {
        applyCommandFailure(error);
        if (onFailure) {
            onFailure(QString::fromStdString(error.description()));
        }
    });
}

void AppModel::refreshAirPodsMode() {
    if (switcher_.isCommandRunning()) {
        return;
    }
    assignErrorMessage(std::nullopt);
    switcher_.readMode(nullptr, [this](const Error& error) { applyCommandFailure(error); });
}

void AppModel::applicationDidLaunch() {
    if (isListenAtStart() && permissionSetup_.isComplete() && !phrases_.phrases().isEmpty()) {
        qCInfo(logModel) << "listening at start, as asked";
        startDetection();
    }
    readAirPodsModeQuietly();
}

void AppModel::panelDidOpen() {
    // The user may have deleted or edited the entry since.
    assignStartAtLogin(autostart_->isEnabled());
    readAirPodsModeQuietly();
}

void AppModel::panelDidClose() {
    if (!damagedSettingsNotice_ && !settingsWriteFailure_) {
        return;
    }
    const bool isShown =
        errorMessage_ && (errorMessage_ == damagedSettingsNotice_ || errorMessage_ == settingsWriteFailure_);
    damagedSettingsNotice_.reset();
    settingsWriteFailure_.reset();
    if (isShown) {
        assignErrorMessage(std::nullopt);
    }
}

void AppModel::readAirPodsModeQuietly() {
    if (!permissionSetup_.isComplete() || switcher_.isCommandRunning()) {
        return;
    }
    const QString notConnected = QString::fromStdString(AppError::airPodsNotConnected().errorDescription());
    airPodsWait_->start(airPodsWaitNoticeDelay, [this] {
        airPodsWait_->stop();
        if (!errorMessage_) {
            airPodsWaitNotice_ = tr("Waiting for the AirPods to answer…");
            assignErrorMessage(airPodsWaitNotice_, BannerKind::information);
        }
    });
    switcher_.readMode(
        [this, notConnected] {
            endAirPodsWait();
            // The AirPods are back: the message that they were away no longer holds.
            if (errorMessage_ == notConnected) {
                assignErrorMessage(std::nullopt);
            }
        },
        [this, notConnected](const Error& error) {
            qCDebug(logModel) << "AirPods mode not read:" << error.description().c_str();
            const bool wasWaiting = endAirPodsWait();
            if (error.is(AppError::Kind::airPodsNotConnected)) {
                returnAfterCall_.cancel();
                assignErrorMessage(notConnected);
            } else if (error.is(AppError::Kind::helperTimedOut) && (wasWaiting || !errorMessage_)) {
                assignErrorMessage(tr("The AirPods did not answer in time, so their mode could not be read."));
            }
        });
}

bool AppModel::endAirPodsWait() {
    airPodsWait_->stop();
    const bool wasShown = airPodsWaitNotice_ && errorMessage_ == airPodsWaitNotice_;
    airPodsWaitNotice_.reset();
    if (wasShown) {
        assignErrorMessage(std::nullopt);
    }
    return wasShown;
}

void AppModel::toggleAirPodsModeFromShortcut(const std::function<void(const std::optional<QString>& failure)>& done) {
    const auto mode = switcher_.selectedMode() == ListeningMode::anc ? ListeningMode::transparency : ListeningMode::anc;
    if (!done) {
        setAirPodsMode(mode);
        return;
    }
    setAirPodsMode(
        mode, [done] { done(std::nullopt); }, [done](const QString& reason) { done(reason); });
}

// --- Listening ---------------------------------------------------------------------------

void AppModel::setDetectionEnabled(bool enabled) {
    if (listening_.isWaitingToResume()) {
        // The user decides now; a try under way gives way.
        listening_.cancelResume();
        listening_.stop();
    }
    if (enabled) {
        startDetection();
    } else {
        stopDetection();
    }
}

void AppModel::startDetection(Start start) {
    if (!permissionSetup_.isComplete()) {
        failAndStopListening(setupFirstText());
        return;
    }
    if (phrases_.phrases().isEmpty()) {
        failAndStopListening(tr("Add a call phrase first."));
        return;
    }
    const auto phrases = phrases_.listened();
    if (phrases.empty()) {
        // Only phrases that cannot be heard: longer than the limit (from settings written
        // elsewhere), in a script no recogniser knows, or Korean without a model that hears it.
        failAndStopListening(*phrases_.whyNotHeard(phrases_.phrases().first()));
        return;
    }
    if (listening_.isRunning()) {
        return;
    }
    if (start == Start::byUser) {
        assignDetectionEnabled(true);
        // Phrases in a language listening does not hear were named when they were added.
        if (phrases.size() < static_cast<size_t>(phrases_.inHeardLanguageCount())) {
            assignErrorMessage(tr("Listening for %1 of %2 call phrases: up to 50, of at most 100 characters each.")
                                   .arg(phrases.size())
                                   .arg(phrases_.phrases().size()),
                               BannerKind::information);
        } else {
            assignErrorMessage(std::nullopt);
        }
    }
    listening_.start(phrases);
}

void AppModel::stopDetection() {
    returnAfterCall_.cancel();
    assignDetectionEnabled(false);
    listening_.end();
    returnAfterCall_.leaveTransparencyAfterCall();
}

void AppModel::failAndStopListening(const QString& message) {
    listening_.cancelResume();
    returnAfterCall_.cancel();
    assignErrorMessage(message);
    assignDetectionEnabled(false);
    listening_.end();
    returnAfterCall_.leaveTransparencyAfterCall();
}

void AppModel::handleDetection(const QString& targetPhrase) {
    if (switcher_.isCommandRunning()) {
        // No command may cost a call, nor let the AirPods go back while someone speaks to the user:
        // the call waits for the command under way (the latest call when several come). A call of
        // a session that has ended, or from before a permission setup that failed, is dropped.
        switcher_.whenIdle([this, session = listening_.id(), targetPhrase] {
            if (session == listening_.id() && permissionSetup_.isComplete()) {
                handleDetection(targetPhrase);
            }
        });
        return;
    }
    // Calls heard one after the other go back to the mode from before the first.
    const ListeningMode modeBefore = returnAfterCall_.pendingMode().value_or(switcher_.selectedMode());
    switchAirPods(ListeningMode::transparency, [model = QPointer<AppModel>(this), targetPhrase, modeBefore] {
        if (!model) {
            return;
        }
        model->returnAfterCall_.callSwitched(modeBefore, model->isDetectionEnabled_);
        // The AirPods first; the players and the sound server may be slow to answer.
        model->media_.makeWay(model->mediaOnCall_);
        if (model->onCallDetected) {
            model->onCallDetected(targetPhrase);
        }
    });
}

// --- Sensitivity, and back to the mode from before a call --------------------------------

void AppModel::setDetectionSensitivity(DetectionSensitivity sensitivity) {
    settings_->setString(detectionSensitivityKey, QString::fromUtf8(sensitivity.rawValue()));
    // A new session over the same phrases: the switch and the banner stay as they are.
    listening_.setSensitivity(sensitivity);
}

// --- The microphone ------------------------------------------------------------------------

void AppModel::setMicrophoneSource(const QString& source) {
    if (source.isEmpty()) {
        settings_->remove(microphoneSourceKey);
    } else {
        settings_->setString(microphoneSourceKey, source);
    }
    if (microphones_.setSource(source)) {
        // A new session over the same phrases, as for a new sensitivity.
        listening_.restartListener();
    }
}

void AppModel::setMediaOnCall(MediaOnCall action) {
    mediaOnCall_ = action;
    settings_->setString(mediaOnCallKey, QString::fromUtf8(action.rawValue()));
    emit mediaOnCallChanged();
}

void AppModel::setReturnAfterQuietSeconds(int seconds) {
    returnAfterCall_.setWaitSeconds(seconds);
    settings_->setUnsignedNumber(returnAfterQuietSecondsKey,
                                 static_cast<std::uint32_t>(returnAfterCall_.waitSeconds()));
}

void AppModel::returnToModeBefore(ListeningMode modeBefore) {
    assignErrorMessage(std::nullopt);
    switcher_.returnTo(modeBefore, [this](const Error& error) { applyCommandFailure(error); });
}

// --- Phrases -----------------------------------------------------------------------------

void AppModel::addWakePhraseFromDraft() {
    if (!phrases_.canAdd()) {
        failAndStopListening(tr("Enter a call phrase first."));
        return;
    }
    const auto [added, hint] = phrases_.additionFromDraft();
    if (!added.isEmpty()) {
        qCDebug(logModel) << "adding" << added.size() << "call phrases";
        updateWakePhrases(phrases_.phrases() + added);
        phrases_.setDraft(QString());
    }
    if (!hint.isEmpty()) {
        qCDebug(logModel) << "call phrase hint:" << hint;
        phrases_.setHint(hint);
    }
}

void AppModel::removeWakePhrase(const QString& phrase) { updateWakePhrases(phrases_.without(phrase)); }

void AppModel::updateWakePhrases(const QStringList& phrases) {
    const bool wasListening = isDetectionEnabled_;
    listening_.stopForNewPhrases();
    assignDetectionEnabled(false);
    phrases_.setPhrases(phrases);
    saveWakePhrases(phrases_.phrases());
    assignErrorMessage(std::nullopt);
    phrases_.clearHint(); // it may speak of a phrase that is gone
    if (wasListening && !phrases_.phrases().isEmpty()) {
        startDetection();
    } else {
        returnAfterCall_.cancel();
    }
    if (!isDetectionEnabled_) {
        returnAfterCall_.leaveTransparencyAfterCall();
    }
}

} // namespace harkwell
