#include "model/AppModel.h"

#include "core/HandOff.h"
#include "core/Log.h"
#include "locale/AppText.h"
#include "matching/UnicodeText.h"
#include "matching/WakePhraseMatching.h"
#include "shortcut/VirtualKeyCode.h"

#include <QCoreApplication>
#include <QHash>
#include <QKeyEvent>
#include <QPointer>
#include <QSet>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace harkwell {

namespace {

const QString wakePhrasesKey = "wakePhrases";
const QString wakePhraseKey = "wakePhrase";
const QString selectedModeKey = "selectedMode";
const QString permissionSetupKey = "permissionSetupComplete";
const QString hotKeyKeyCodeKey = "hotKeyKeyCode";
const QString hotKeyModifiersKey = "hotKeyModifiers";
const QString hotKeyDisplayKey = "hotKeyDisplayKey";
const QString listenAtStartKey = "listenAtStart";
const QString detectionSensitivityKey = "detectionSensitivity";
const QString returnAfterQuietSecondsKey = "returnAfterQuietSeconds";
const QString microphoneSourceKey = "microphoneSource";

// How often a pending return or a wait to listen again looks at the clock.
constexpr std::chrono::milliseconds tickInterval{250};

std::vector<std::string> toStrings(const QStringList& list) {
    std::vector<std::string> strings;
    strings.reserve(static_cast<size_t>(list.size()));
    for (const auto& item : list) {
        strings.push_back(item.toStdString());
    }
    return strings;
}

QStringList toStringList(const std::vector<std::string>& strings) {
    QStringList list;
    for (const auto& item : strings) {
        list.append(QString::fromStdString(item));
    }
    return list;
}

QStringList normalized(const QStringList& phrases) { return toStringList(normalizedWakePhrases(toStrings(phrases))); }

QString normalizedText(const QString& text) { return QString::fromStdString(normalizedWakeText(text.toStdString())); }

QString trimmed(const QString& text) { return QString::fromStdString(unicode::trimmed(text.toStdString())); }

QString permissionsRequiredText() { return uiText("권한 준비 필요", "Permissions required"); }
QString permissionsReadyText() { return uiText("권한 준비 완료", "Permissions ready"); }
QString setupFirstText() { return uiText("먼저 권한 준비를 완료해 주세요.", "Complete permission setup first."); }
QString tooManyPhrasesText() {
    return uiText("호출 문구는 50개까지 추가할 수 있습니다.", "You can add up to 50 call phrases.");
}
QString phraseTooLongText() {
    return uiText("호출 문구는 100자 이하여야 합니다.", "A call phrase can be at most 100 characters long.");
}
QString noLettersText() {
    return uiText("호출 문구에는 글자나 숫자가 하나 이상 있어야 합니다.",
                  "A call phrase needs at least one letter or number.");
}
QString alreadyListedText(const QString& phrase) {
    return uiText("“%1”은(는) 이미 목록에 있습니다.", "“%1” is already in the list.").arg(phrase);
}
QString unheardScriptText(const QString& phrase) {
    return uiText("“%1”은(는) 감지할 수 없는 문자로 되어 있어 목록에만 남고 감지하지 않습니다.",
                  "“%1” is in a script that listening cannot hear: it stays in the list but is not listened for.")
        .arg(phrase);
}

// The commas that separate phrases in a draft: ASCII, ideographic and full-width.
bool isPhraseSeparator(QChar c) { return c == u',' || c == QChar(0x3001) || c == QChar(0xFF0C); }

// The pieces of a draft between commas, trimmed, blanks left out.
QStringList draftPieces(const QString& draft) {
    QStringList pieces;
    qsizetype start = 0;
    for (qsizetype index = 0; index <= draft.size(); ++index) {
        if (index == draft.size() || isPhraseSeparator(draft[index])) {
            if (QString kept = trimmed(draft.mid(start, index - start)); !kept.isEmpty()) {
                pieces.append(kept);
            }
            start = index + 1;
        }
    }
    return pieces;
}

int characterCount(const QString& text) { return unicode::characterCount(text.toStdString()); }

bool isInHeardScript(const QString& phrase) {
    return isHeardPhrase(phrase.toStdString(), heardScripts(currentAppLocale()));
}

// Why listening cannot hear a phrase of the list; nothing when it can.
std::optional<QString> whyNotHeard(const QString& phrase) {
    if (characterCount(phrase) > AppModel::maximumWakePhraseLength) {
        return phraseTooLongText();
    }
    if (!isInHeardScript(phrase)) {
        return unheardScriptText(phrase);
    }
    return std::nullopt;
}

// What the hint says of a paste cut short: `pasted` of `total` phrases went in, `left` did not.
QString pasteCutShortText(qsizetype pasted, qsizetype total, const QStringList& left) {
    constexpr qsizetype namesShown = 3;
    constexpr int longestNameShown = 30;
    QStringList names;
    for (const QString& name : left.mid(0, namesShown)) {
        QString shown = name.left(longestNameShown);
        if (shown.size() < name.size()) {
            if (shown.back().isHighSurrogate()) {
                shown.chop(1);
            }
            shown += QChar(0x2026);
        }
        names.append(shown);
    }
    QString notPasted = names.join(", ");
    if (left.size() > namesShown) {
        notPasted = uiText("%1 외 %2개", "%1 and %2 more").arg(notPasted, QString::number(left.size() - namesShown));
    }
    return uiText("붙여 넣은 호출 문구 %2개 중 %1개만 넣었습니다(입력란은 최대 %3자). 넣지 못한 문구: %4",
                  "Pasted %1 of %2 phrases: the field holds %3 characters. Not pasted: %4.")
        .arg(QString::number(pasted), QString::number(total), QString::number(AppModel::maximumWakePhraseDraftLength),
             notPasted);
}

QString modeName(ListeningMode mode) { return QString::fromUtf8(mode.rawValue()); }

// Runs a helper call, turning what it throws into the error the user sees.
std::optional<Error> failureOf(const std::function<void()>& call) {
    try {
        call();
        return std::nullopt;
    } catch (const AppError& error) {
        return Error(error);
    } catch (const std::exception& error) {
        return Error::platform(error.what());
    }
}

// The inputs to offer, as the sound server lists them: no monitors of outputs, Bluetooth inputs
// last. Blocks until the server answers; a server out of reach lists none.
QList<AppModel::MicrophoneInput> microphoneInputsOf(AudioInputList& audioInputs) {
    QList<AppModel::MicrophoneInput> inputs;
    try {
        for (const auto& input : audioInputs.inputs()) {
            if (!input.isMonitor) {
                inputs.append({QString::fromStdString(input.uniqueId), QString::fromStdString(input.localizedName),
                               input.isBluetooth});
            }
        }
    } catch (const Error& error) {
        qCDebug(logModel) << "no microphones to list:" << QString::fromStdString(error.description());
    }
    std::stable_partition(inputs.begin(), inputs.end(),
                          [](const AppModel::MicrophoneInput& input) { return !input.isBluetooth; });
    return inputs;
}

} // namespace

AppModel::AppModel(Dependencies dependencies, QObject* parent)
    : QObject(parent), airPods_(std::move(dependencies.airPods)),
      hotKeyController_(std::move(dependencies.hotKeyController)), permissions_(std::move(dependencies.permissions)),
      detectorFactory_(std::move(dependencies.detectorFactory)), keyMonitor_(std::move(dependencies.keyMonitor)),
      settings_(std::move(dependencies.settings)), autostart_(std::move(dependencies.autostart)),
      audioInputs_(std::move(dependencies.audioInputs)), whisperModel_(std::move(dependencies.whisperModel)),
      clock_(std::move(dependencies.clock)), ticker_(std::move(dependencies.ticker)) {
    reportSettingsProblems();
    isStartAtLogin_ = autostart_->isEnabled();
    permissionStatusText_ = permissionsRequiredText();
    activeWakePhrases_ = loadWakePhrases();
    if (const auto stored = settings_->string(selectedModeKey)) {
        selectedMode_ = ListeningMode::fromRawValue(stored->toStdString()).value_or(ListeningMode::anc);
    }
    if (const auto stored = settings_->string(detectionSensitivityKey)) {
        detectionSensitivity_ = DetectionSensitivity::fromRawValue(stored->toStdString());
    }
    if (const auto stored = settings_->unsignedNumber(returnAfterQuietSecondsKey)) {
        returnAfterQuietSeconds_ = returnChoiceFor(*stored);
    }
    microphoneSource_ = settings_->string(microphoneSourceKey).value_or(QString());
    isPermissionSetupComplete_ = settings_->boolean(permissionSetupKey) && corePermissionsGranted();
    if (isPermissionSetupComplete_) {
        permissionStatusText_ = permissionsReadyText();
    }
    if (auto stored = loadHotKeySetting()) {
        hotKeySetting_ = stored;
        registerStoredHotKey(*stored);
    }
    hotKeyController_->onPressed = owner_.bind<>([this] { toggleAirPodsModeFromShortcut(); });
    if (whisperModel_) {
        connect(whisperModel_.get(), &WhisperModel::stateChanged, this, [this] {
            updateRecognizerNotice();
            if (whisperModel_->state() == WhisperModelState::ready && detector_) {
                // Listening began before the model was read: a new session over the same phrases
                // hears with it from now on.
                releaseDetector();
                launchDetector(listenedWakePhrases());
            }
        });
        updateRecognizerNotice();
        // At start-up rather than with listening: a model of several hundred megabytes takes
        // seconds to read, and the first call should already be heard with it.
        whisperModel_->load();
    }
}

AppModel::~AppModel() {
    ticker_->stop();
    stopShortcutRecording();
    retireDetector();
    hotKeyController_->onPressed = nullptr;
    // A helper command under way ends now rather than when it would have.
    airPods_->shutDown();
}

// --- Published state ---------------------------------------------------------------------

void AppModel::setWakePhraseDraft(const QString& draft) {
    const bool changed = draft != wakePhraseDraft_;
    wakePhraseDraft_ = draft;
    emit wakePhraseDraftChanged();
    emit canAddWakePhraseChanged();
    if (changed && !wakePhraseHint_.isEmpty()) {
        assignWakePhraseHint(QString());
    }
}

void AppModel::pasteIntoWakePhraseDraft(const QString& pasted, int position, int replacedLength) {
    position = std::clamp(position, 0, int(wakePhraseDraft_.size()));
    replacedLength = std::clamp(replacedLength, 0, int(wakePhraseDraft_.size()) - position);
    const qsizetype room = maximumWakePhraseDraftLength - (wakePhraseDraft_.size() - replacedLength);
    // All of it, or up to the last comma that leaves it within the room.
    qsizetype fits = pasted.size();
    if (fits > room) {
        fits = 0;
        for (qsizetype index = 0; index <= room && index < pasted.size(); ++index) {
            if (isPhraseSeparator(pasted[index])) {
                fits = index;
            }
        }
    }
    setWakePhraseDraft(QString(wakePhraseDraft_).replace(position, replacedLength, pasted.left(fits)));
    if (const QStringList left = draftPieces(pasted.mid(fits)); !left.isEmpty()) {
        const qsizetype taken = draftPieces(pasted.left(fits)).size();
        qCDebug(logModel) << "paste cut short:" << left.size() << "phrases left out";
        assignWakePhraseHint(pasteCutShortText(taken, taken + left.size(), left));
    }
}

bool AppModel::canAddWakePhrase() const { return !trimmed(wakePhraseDraft_).isEmpty(); }

QString AppModel::selectedModeRawValue() const { return QString::fromUtf8(selectedMode_.rawValue()); }

QString AppModel::hotKeyDisplayName() const {
    return hotKeySetting_ ? QString::fromStdString(hotKeySetting_->displayName()) : QString();
}

void AppModel::assignActiveWakePhrases(QStringList phrases) {
    activeWakePhrases_ = std::move(phrases);
    emit activeWakePhrasesChanged();
    emit canAddWakePhraseChanged();
}

void AppModel::assignWakePhraseHint(const QString& hint) {
    wakePhraseHint_ = hint;
    emit wakePhraseHintChanged();
}

void AppModel::assignPermissionSetupComplete(bool complete) {
    isPermissionSetupComplete_ = complete;
    emit isPermissionSetupCompleteChanged();
}

void AppModel::assignPermissionStatusText(const QString& text) {
    permissionStatusText_ = text;
    emit permissionStatusTextChanged();
}

void AppModel::assignDetectionEnabled(bool enabled) {
    isDetectionEnabled_ = enabled;
    emit isDetectionEnabledChanged();
}

void AppModel::assignTransparencyAfterCall(bool afterCall) {
    isInTransparencyAfterCall_ = afterCall;
    emit isInTransparencyAfterCallChanged();
}

void AppModel::assignSelectedMode(ListeningMode mode) {
    selectedMode_ = mode;
    settings_->setString(selectedModeKey, selectedModeRawValue());
    emit selectedModeChanged();
    if (isInTransparencyAfterCall_ && mode != ListeningMode::transparency) {
        assignTransparencyAfterCall(false);
    }
}

void AppModel::assignHotKeySetting(std::optional<HotKeySetting> setting) {
    hotKeySetting_ = std::move(setting);
    emit hotKeySettingChanged();
}

void AppModel::assignRecordingShortcut(bool recording) {
    isRecordingShortcut_ = recording;
    emit isRecordingShortcutChanged();
}

void AppModel::assignStartAtLogin(bool enabled) {
    isStartAtLogin_ = enabled;
    emit isStartAtLoginChanged();
}

void AppModel::assignCommandRunning(bool running) {
    isCommandRunning_ = running;
    emit isCommandRunningChanged();
    if (!running && heldCall_) {
        // Once the command's outcome has been taken in.
        owner_.post([this] { applyHeldCall(); });
    }
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

void AppModel::assignFallbackMicrophone(const QString& name) {
    fallbackMicrophone_ = name;
    emit microphoneSourceChanged();
}

void AppModel::updateRecognizerNotice() {
    QString notice;
    switch (whisperModel_->state()) {
    case WhisperModelState::notInstalled:
        notice = uiText("정확한 인식 모델이 설치되지 않았습니다. 기본 인식기로 듣고 있습니다.",
                        "Accurate recognition model not installed: listening with the basic recogniser.");
        break;
    case WhisperModelState::failed:
        qCWarning(logModel) << "listening with the basic recogniser: the accurate recognition model"
                            << QString::fromStdString(whisperModel_->path())
                            << "could not be loaded:" << QString::fromStdString(whisperModel_->failure());
        notice = uiText("정확한 인식 모델을 불러오지 못했습니다. 기본 인식기로 듣고 있습니다.",
                        "Accurate recognition model could not be loaded: listening with the basic recogniser.");
        break;
    case WhisperModelState::loading:
    case WhisperModelState::ready:
        break;
    }
    recognizerNotice_ = notice;
    emit recognizerNoticeChanged();
}

void AppModel::assignSecondsUntilReturn(std::optional<int> seconds) {
    shownSecondsUntilReturn_ = seconds;
    emit secondsUntilReturnChanged();
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
                settingsWriteFailure_ =
                    uiText("설정을 저장하지 못했습니다: %1", "Settings could not be saved: %1").arg(*failureReason);
                assignErrorMessage(settingsWriteFailure_);
            } else {
                settingsWriteFailure_.reset();
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
    damagedSettingsNotice_ = uiText("설정 파일이 손상되어 읽을 수 있는 설정만 남겼습니다. 손상된 파일의 사본: %1",
                                    "The settings file was damaged; what could be read was kept. A copy of the "
                                    "damaged file is at %1.")
                                 .arg(*copy);
    assignErrorMessage(damagedSettingsNotice_);
}

QStringList AppModel::loadWakePhrases() {
    if (const auto stored = settings_->stringList(wakePhrasesKey)) {
        return normalized(*stored);
    }
    if (const auto legacy = settings_->string(wakePhraseKey)) {
        QStringList phrases = normalized({*legacy});
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

std::optional<HotKeySetting> AppModel::loadHotKeySetting() const {
    const auto keyCode = settings_->unsignedNumber(hotKeyKeyCodeKey);
    const auto modifiers = settings_->unsignedNumber(hotKeyModifiersKey);
    const auto key = settings_->string(hotKeyDisplayKey);
    if (!keyCode || !modifiers || !key) {
        return std::nullopt;
    }
    return HotKeySetting{*keyCode, *modifiers, key->toStdString()};
}

int AppModel::returnChoiceFor(std::uint32_t seconds) {
    if (seconds == 0) {
        return 0;
    }
    int nearest = returnAfterQuietChoices.back();
    for (const int choice : returnAfterQuietChoices) {
        const auto distance = [seconds](int to) { return std::abs(std::int64_t(seconds) - to); };
        if (choice > 0 &&
            (distance(choice) < distance(nearest) || (distance(choice) == distance(nearest) && choice > nearest))) {
            nearest = choice;
        }
    }
    return nearest;
}

void AppModel::saveHotKeySetting(const HotKeySetting& setting) {
    settings_->setUnsignedNumber(hotKeyKeyCodeKey, setting.keyCode);
    settings_->setUnsignedNumber(hotKeyModifiersKey, setting.modifiers);
    settings_->setString(hotKeyDisplayKey, QString::fromStdString(setting.key));
}

// --- Start-up ----------------------------------------------------------------------------

void AppModel::setStartAtLogin(bool enabled) {
    if (autostart_->isEnabled() != enabled) {
        if (const auto failure = autostart_->setEnabled(enabled)) {
            assignErrorMessage(
                (enabled ? uiText("로그인 시 시작을 켜지 못했습니다: %1", "Start at login could not be turned on: %1")
                         : uiText("로그인 시 시작을 끄지 못했습니다: %1", "Start at login could not be turned off: %1"))
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

void AppModel::runCommand(std::function<void(AirPodsControl&)> command, std::function<void(AppModel&)> onSuccess,
                          CommandFailure onFailure) {
    assignCommandRunning(true);
    commandQueue_.async([this, owner = owner_.handle(), airPods = airPods_, command = std::move(command),
                         onSuccess = std::move(onSuccess), onFailure = std::move(onFailure)] {
        if (!owner.isAlive()) {
            return; // queued before the model went
        }
        auto failure = failureOf([&] { command(*airPods); });
        owner.post([this, failure = std::move(failure), onSuccess, onFailure] {
            if (failure) {
                onFailure(*this, *failure);
            } else {
                onSuccess(*this);
            }
        });
    });
}

void AppModel::runModeRead(std::function<ListeningMode(AirPodsControl&)> read, std::function<void(AppModel&)> afterRead,
                           CommandFailure onFailure) {
    auto mode = std::make_shared<std::optional<ListeningMode>>();
    runCommand([mode, read = std::move(read)](AirPodsControl& airPods) { *mode = read(airPods); },
               [mode, afterRead = std::move(afterRead)](AppModel& self) {
                   qCInfo(logModel) << "AirPods mode read:" << modeName(**mode);
                   self.assignSelectedMode(**mode);
                   if (**mode != ListeningMode::transparency) {
                       self.cancelPendingReturn(); // no longer in the Transparency of the call
                   }
                   afterRead(self);
               },
               std::move(onFailure));
}

void AppModel::applyCommandFailure(const Error& error) {
    qCInfo(logModel) << "AirPods command failed:" << error.description().c_str();
    assignCommandRunning(false);
    if (error.is(AppError::Kind::airPodsNotConnected)) {
        // Listening goes on, so that a later call can switch the AirPods once they are back.
        cancelPendingReturn();
        assignErrorMessage(QString::fromStdString(error.description()));
    } else {
        failAndStopListening(QString::fromStdString(error.description()));
    }
}

void AppModel::setAirPodsMode(ListeningMode mode, std::function<void()> onSuccess, SwitchFailure onFailure) {
    // The user's choice wins over a return after a call.
    cancelPendingReturn();
    switchAirPods(mode, std::move(onSuccess), std::move(onFailure));
}

void AppModel::switchAirPods(ListeningMode mode, std::function<void()> onSuccess, SwitchFailure onFailure) {
    if (!isPermissionSetupComplete_) {
        failAndStopListening(setupFirstText());
        if (onFailure) {
            onFailure(setupFirstText());
        }
        return;
    }
    if (isCommandRunning_) {
        qCDebug(logModel) << "AirPods mode" << modeName(mode) << "dropped: a command is running";
        if (onFailure) {
            onFailure(uiText("다른 AirPods 명령이 실행 중입니다.", "Another AirPods command is running."));
        }
        return;
    }
    qCDebug(logModel) << "AirPods mode requested:" << modeName(mode) << "from" << modeName(selectedMode_);
    assignErrorMessage(std::nullopt);
    runCommand([mode](AirPodsControl& airPods) { airPods.setMode(mode); },
               [mode, onSuccess = std::move(onSuccess)](AppModel& self) {
                   qCInfo(logModel) << "AirPods mode applied:" << modeName(mode);
                   self.assignSelectedMode(mode);
                   self.assignCommandRunning(false);
                   if (onSuccess) {
                       onSuccess();
                   }
               },
               [onFailure = std::move(onFailure)](AppModel& self, const Error& error) {
                   self.applyCommandFailure(error);
                   if (onFailure) {
                       onFailure(QString::fromStdString(error.description()));
                   }
               });
}

void AppModel::refreshAirPodsMode() {
    if (isCommandRunning_) {
        return;
    }
    assignErrorMessage(std::nullopt);
    runModeRead([](AirPodsControl& airPods) { return airPods.currentMode(); },
                [](AppModel& self) { self.assignCommandRunning(false); }, &AppModel::applyCommandFailure);
}

void AppModel::applicationDidLaunch() {
    if (isListenAtStart() && isPermissionSetupComplete_ && !activeWakePhrases_.isEmpty()) {
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
    if (!damagedSettingsNotice_) {
        return;
    }
    const bool isShown = errorMessage_ == damagedSettingsNotice_;
    damagedSettingsNotice_.reset();
    if (isShown) {
        assignErrorMessage(std::nullopt);
    }
}

void AppModel::readAirPodsModeQuietly() {
    if (!isPermissionSetupComplete_ || isCommandRunning_) {
        return;
    }
    const QString notConnected = QString::fromStdString(AppError::airPodsNotConnected().errorDescription());
    runModeRead([](AirPodsControl& airPods) { return airPods.currentMode(); },
                [notConnected](AppModel& self) {
                    // The AirPods are back: the message that they were away no longer holds.
                    if (self.errorMessage_ == notConnected) {
                        self.assignErrorMessage(std::nullopt);
                    }
                    self.assignCommandRunning(false);
                },
                [notConnected](AppModel& self, const Error& error) {
                    qCDebug(logModel) << "AirPods mode not read:" << error.description().c_str();
                    if (error.is(AppError::Kind::airPodsNotConnected)) {
                        self.cancelPendingReturn();
                        self.assignErrorMessage(notConnected);
                    }
                    self.assignCommandRunning(false);
                });
}

void AppModel::toggleAirPodsModeFromShortcut(std::function<void(const std::optional<QString>& failure)> done) {
    const auto mode = selectedMode_ == ListeningMode::anc ? ListeningMode::transparency : ListeningMode::anc;
    if (!done) {
        setAirPodsMode(mode);
        return;
    }
    setAirPodsMode(
        mode, [done] { done(std::nullopt); }, [done](const QString& reason) { done(reason); });
}

// --- Permission setup --------------------------------------------------------------------

bool AppModel::corePermissionsGranted() const {
    return permissions_->speechAuthorizationStatus() == AuthorizationStatus::authorized &&
           permissions_->microphoneAuthorizationStatus() == AuthorizationStatus::authorized;
}

void AppModel::preparePermissions() {
    if (isCommandRunning_) {
        return;
    }
    assignCommandRunning(true);
    assignErrorMessage(std::nullopt);
    assignPermissionStatusText(uiText("음성 인식 권한 확인 중", "Checking Speech Recognition permission"));
    requestSpeechPermission([model = QPointer<AppModel>(this)](bool granted) {
        if (!model) {
            return;
        }
        if (!granted) {
            model->finishPermissionSetup(
                uiText("음성 인식 권한을 허용해야 합니다.", "Speech Recognition permission is required."));
            return;
        }
        model->assignPermissionStatusText(uiText("마이크 권한 확인 중", "Checking microphone permission"));
        model->requestMicrophonePermission([model](bool granted) {
            if (!model) {
                return;
            }
            if (!granted) {
                model->finishPermissionSetup(
                    uiText("마이크 권한을 허용해야 합니다.", "Microphone permission is required."));
                return;
            }
            model->assignPermissionStatusText(uiText("Bluetooth 권한 확인 중", "Checking Bluetooth permission"));
            model->requestBluetoothPermission();
        });
    });
}

void AppModel::requestPermission(AuthorizationStatus status, const std::function<void(AskCompletion)>& ask,
                                 AskCompletion completion) {
    switch (status) {
    case AuthorizationStatus::notDetermined:
        // The system answers on a thread of its own; the answer continues on the main thread.
        ask(owner_.bind<bool>(std::move(completion)));
        return;
    case AuthorizationStatus::authorized:
        completion(true);
        return;
    case AuthorizationStatus::denied:
    case AuthorizationStatus::restricted:
        break;
    }
    completion(false);
}

void AppModel::requestSpeechPermission(AskCompletion completion) {
    requestPermission(
        permissions_->speechAuthorizationStatus(),
        [this](AskCompletion answer) {
            permissions_->requestSpeechAuthorization(
                [answer](AuthorizationStatus status) { answer(status == AuthorizationStatus::authorized); });
        },
        std::move(completion));
}

void AppModel::requestMicrophonePermission(AskCompletion completion) {
    requestPermission(
        permissions_->microphoneAuthorizationStatus(),
        [this](AskCompletion answer) { permissions_->requestMicrophoneAccess(std::move(answer)); },
        std::move(completion));
}

void AppModel::requestBluetoothPermission() {
    runModeRead([](AirPodsControl& airPods) { return airPods.prepareBluetoothPermission(); },
                [](AppModel& self) { self.completePermissionSetup(); },
                [](AppModel& self, const Error& failure) {
                    if (failure.is(AppError::Kind::airPodsNotConnected)) {
                        // Setup is complete without connected AirPods.
                        self.completePermissionSetup();
                    } else {
                        self.finishPermissionSetup(QString::fromStdString(failure.description()));
                    }
                });
}

void AppModel::finishPermissionSetup(const QString& message) {
    assignPermissionSetupComplete(false);
    settings_->setBoolean(permissionSetupKey, false);
    assignPermissionStatusText(permissionsRequiredText());
    assignCommandRunning(false);
    assignErrorMessage(message);
}

void AppModel::completePermissionSetup() {
    assignPermissionSetupComplete(true);
    settings_->setBoolean(permissionSetupKey, true);
    assignPermissionStatusText(permissionsReadyText());
    assignCommandRunning(false);
    assignErrorMessage(std::nullopt);
}

// --- Listening ---------------------------------------------------------------------------

void AppModel::setDetectionEnabled(bool enabled) {
    if (resume_) {
        // The user decides now; a try under way gives way.
        cancelResume();
        releaseDetector();
    }
    if (enabled) {
        startDetection();
    } else {
        stopDetection();
    }
}

void AppModel::startDetection(Start start) {
    if (!isPermissionSetupComplete_) {
        failAndStopListening(setupFirstText());
        return;
    }
    if (activeWakePhrases_.isEmpty()) {
        failAndStopListening(uiText("호출어를 먼저 추가해야 합니다.", "Add a call phrase first."));
        return;
    }
    const auto phrases = listenedWakePhrases();
    if (phrases.empty()) {
        // Only phrases that cannot be heard: longer than the limit (from settings written
        // elsewhere), or in another script.
        failAndStopListening(*whyNotHeard(activeWakePhrases_.first()));
        return;
    }
    if (detector_ || isAwaitingInputs_) {
        return;
    }
    if (start == Start::byUser) {
        assignDetectionEnabled(true);
        // Phrases in another script were named when they were added.
        const auto inHeardScripts =
            std::count_if(activeWakePhrases_.begin(), activeWakePhrases_.end(), isInHeardScript);
        if (phrases.size() < static_cast<size_t>(inHeardScripts)) {
            assignErrorMessage(uiText("호출 문구 %2개 중 %1개만 감지합니다(최대 50개, 각 100자 이하).",
                                      "Listening for %1 of %2 call phrases: up to 50, of at most 100 characters each.")
                                   .arg(phrases.size())
                                   .arg(activeWakePhrases_.size()),
                               BannerKind::information);
        } else {
            assignErrorMessage(std::nullopt);
        }
    }
    launchDetector(phrases);
}

void AppModel::launchDetector(const std::vector<std::string>& phrases) {
    const auto session = ++detectionSession_;
    if (microphoneSource_.isEmpty() || !audioInputs_) {
        makeDetector(session, phrases, microphoneSource_.toStdString(), QString());
        return;
    }
    // Whether the chosen input is there is read on the inputs thread, so that a sound server that
    // does not answer holds up this session and not the main thread; the session goes on once the
    // list has come, unless it has ended meanwhile.
    isAwaitingInputs_ = true;
    inputsQueue_.async([this, owner = owner_.handle(), audioInputs = audioInputs_, phrases, session] {
        if (!owner.isAlive()) {
            return;
        }
        std::optional<std::vector<AudioInputDevice>> inputs;
        try {
            inputs = audioInputs->inputs();
        } catch (const Error&) {
            // The sound server is out of reach: the detector tells so.
        }
        owner.post([this, phrases, session, inputs = std::move(inputs)] {
            if (session != detectionSession_) {
                return;
            }
            isAwaitingInputs_ = false;
            // A chosen input that is gone gives way to the automatic choice, which is never a
            // Bluetooth input; without one, the detector tells that the chosen input is not connected.
            std::string source = microphoneSource_.toStdString();
            QString fallback;
            if (inputs) {
                const bool isThere = std::any_of(inputs->begin(), inputs->end(), [&](const AudioInputDevice& input) {
                    return input.uniqueId == source && !input.isMonitor;
                });
                if (const auto automatic = preferredBuiltInMicrophone(*inputs); !isThere && automatic) {
                    qCInfo(logModel) << "the chosen microphone is not there; listening on"
                                     << QString::fromStdString(automatic->localizedName);
                    source.clear();
                    fallback = QString::fromStdString(automatic->localizedName);
                }
            }
            makeDetector(session, phrases, source, fallback);
        });
    });
}

void AppModel::makeDetector(std::uint64_t session, const std::vector<std::string>& phrases, const std::string& source,
                            const QString& fallback) {
    assignFallbackMicrophone(fallback);
    detector_ = detectorFactory_(currentAppLocale(), detectionSensitivity_, source);
    qCInfo(logModel) << "listening session" << session << "started with" << phrases.size() << "phrases at"
                     << QString::fromUtf8(detectionSensitivity_.rawValue()) << "sensitivity";
    // What the detector reports comes to the main thread, for its own session only.
    detector_->start(phrases, owner_.bind<const std::string&>([this, session](const std::string& phrase) {
        if (detectionSession_ == session) {
            handleDetection(QString::fromStdString(phrase));
        }
    }),
                     owner_.bind<const Error&>([this, session](const Error& error) {
                         if (detectionSession_ == session) {
                             handleListeningError(error);
                         }
                     }),
                     owner_.bind<>([this, session] {
                         if (detectionSession_ == session) {
                             handleListening();
                         }
                     }),
                     owner_.bind<>([this, session] {
                         if (detectionSession_ == session) {
                             hearNearSpeech();
                         }
                     }));
}

void AppModel::stopDetection() {
    cancelPendingReturn();
    assignDetectionEnabled(false);
    releaseDetector();
    leaveTransparencyAfterCall();
}

void AppModel::failAndStopListening(const QString& message) {
    cancelResume();
    cancelPendingReturn();
    assignErrorMessage(message);
    assignDetectionEnabled(false);
    releaseDetector();
    leaveTransparencyAfterCall();
}

void AppModel::leaveTransparencyAfterCall() {
    if (isInTransparencyAfterCall_) {
        assignTransparencyAfterCall(false);
    }
}

void AppModel::releaseDetector() {
    if (!fallbackMicrophone_.isEmpty()) {
        assignFallbackMicrophone(QString());
    }
    isAwaitingInputs_ = false;
    retireDetector();
    ++detectionSession_;
}

void AppModel::retireDetector() {
    if (!detector_) {
        return;
    }
    qCInfo(logModel) << "listening session" << detectionSession_ << "stopped";
    detector_->stop();
    // Its threads end on the retiring thread: the main thread does not wait for a recogniser that
    // is still setting up or transcribing.
    retiringQueue_.async(
        [detector = std::shared_ptr<WakePhraseListener>(std::move(detector_))]() mutable { detector.reset(); });
}

std::vector<std::string> AppModel::listenedWakePhrases() const {
    std::vector<std::string> listened = hearableWakePhrases();
    listened.resize(std::min(listened.size(), static_cast<size_t>(maximumWakePhraseCount)));
    return listened;
}

std::vector<std::string> AppModel::hearableWakePhrases() const {
    std::vector<std::string> hearable;
    for (const QString& phrase : activeWakePhrases_) {
        if (!whyNotHeard(phrase)) {
            hearable.push_back(phrase.toStdString());
        }
    }
    return hearable;
}

void AppModel::handleListeningError(const Error& error) {
    const bool isAudioGone =
        error.is(AppError::Kind::soundServerUnreachable) || error.is(AppError::Kind::microphoneStopped);
    if (resume_ && isAudioGone) {
        // A try that found the sound still gone: the banner stays, the next try waits longer.
        releaseDetector();
        scheduleResume(std::min<Clock::duration>(resume_->delay * 2, longestResumeDelay));
        return;
    }
    failAndStopListening(QString::fromStdString(error.description()));
    if (isAudioGone) {
        scheduleResume(firstResumeDelay);
    }
}

void AppModel::handleListening() {
    if (!resume_) {
        return;
    }
    cancelResume();
    assignDetectionEnabled(true);
    assignErrorMessage(
        uiText("사운드 서버가 돌아와 다시 듣고 있습니다.", "Listening resumed: the sound server is back."),
        BannerKind::information);
}

void AppModel::scheduleResume(Clock::duration delay) {
    resume_ = Resume{delay, clock_->now() + delay};
    updateTicker();
}

void AppModel::cancelResume() {
    resume_.reset();
    updateTicker();
}

void AppModel::resumeWhenDue() {
    if (resume_ && resume_->at && clock_->now() >= *resume_->at) {
        resume_->at.reset();
        startDetection(Start::resuming);
    }
}

void AppModel::handleDetection(const QString& targetPhrase) {
    if (isCommandRunning_) {
        // No command may cost a call, nor let the AirPods go back while someone speaks to the user:
        // the call waits for the command under way (the latest call when several come).
        qCDebug(logModel) << "call held until the AirPods command under way has finished";
        heldCall_.emplace(detectionSession_, targetPhrase);
        return;
    }
    // Calls heard one after the other go back to the mode from before the first.
    const ListeningMode modeBefore = pendingReturn_ ? pendingReturn_->modeBefore : selectedMode_;
    switchAirPods(ListeningMode::transparency, [model = QPointer<AppModel>(this), targetPhrase, modeBefore] {
        if (!model) {
            return;
        }
        if (model->isDetectionEnabled_) {
            model->assignTransparencyAfterCall(true);
        }
        model->scheduleReturn(modeBefore);
        if (model->onCallDetected) {
            model->onCallDetected(targetPhrase);
        }
    });
}

// --- Sensitivity, and back to the mode from before a call --------------------------------

void AppModel::setDetectionSensitivity(DetectionSensitivity sensitivity) {
    const bool changed = sensitivity != detectionSensitivity_;
    detectionSensitivity_ = sensitivity;
    settings_->setString(detectionSensitivityKey, QString::fromUtf8(sensitivity.rawValue()));
    emit detectionSensitivityChanged();
    if (changed && detector_) {
        // A new session over the same phrases: the switch and the banner stay as they are.
        releaseDetector();
        launchDetector(listenedWakePhrases());
    }
}

// --- The microphone ------------------------------------------------------------------------

void AppModel::refreshMicrophoneInputs() {
    if (!audioInputs_) {
        applyMicrophoneInputs({});
        return;
    }
    if (isReadingInputs_) {
        qCDebug(logModel) << "microphone list not read again: the last read is still under way";
        return;
    }
    isReadingInputs_ = true;
    inputsQueue_.async([this, owner = owner_.handle(), audioInputs = audioInputs_] {
        if (!owner.isAlive()) {
            return;
        }
        owner.post([this, inputs = microphoneInputsOf(*audioInputs)]() mutable {
            isReadingInputs_ = false;
            applyMicrophoneInputs(std::move(inputs));
        });
    });
}

void AppModel::applyMicrophoneInputs(QList<MicrophoneInput> inputs) {
    if (inputs != microphoneInputs_) {
        microphoneInputs_ = std::move(inputs);
        emit microphoneInputsChanged();
    }
}

void AppModel::setMicrophoneSource(const QString& source) {
    const bool changed = source != microphoneSource_;
    microphoneSource_ = source;
    if (source.isEmpty()) {
        settings_->remove(microphoneSourceKey);
    } else {
        settings_->setString(microphoneSourceKey, source);
    }
    emit microphoneSourceChanged();
    if (changed && detector_) {
        // A new session over the same phrases, as for a new sensitivity.
        releaseDetector();
        launchDetector(listenedWakePhrases());
    }
}

void AppModel::setReturnAfterQuietSeconds(int seconds) {
    returnAfterQuietSeconds_ = returnChoiceFor(static_cast<std::uint32_t>(std::max(seconds, 0)));
    settings_->setUnsignedNumber(returnAfterQuietSecondsKey, static_cast<std::uint32_t>(returnAfterQuietSeconds_));
    emit returnAfterQuietSecondsChanged();
    if (returnAfterQuietSeconds_ == 0) {
        cancelPendingReturn();
    } else {
        reviewPendingReturn();
    }
}

void AppModel::scheduleReturn(ListeningMode modeBefore) {
    if (returnAfterQuietSeconds_ == 0 || modeBefore == ListeningMode::transparency) {
        cancelPendingReturn();
        return;
    }
    qCDebug(logModel) << "back to" << modeName(modeBefore) << "after" << returnAfterQuietSeconds_ << "s of quiet";
    pendingReturn_ = PendingReturn{modeBefore, clock_->now()};
    updateTicker();
    reviewPendingReturn();
}

void AppModel::hearNearSpeech() {
    if (pendingReturn_) {
        pendingReturn_->quietSince = clock_->now();
        reviewPendingReturn();
    }
}

void AppModel::reviewPendingReturn() {
    if (!pendingReturn_) {
        return;
    }
    const auto left = pendingReturn_->quietSince + std::chrono::seconds(returnAfterQuietSeconds_) - clock_->now();
    if (left <= Clock::duration::zero() && !isCommandRunning_ && !heldCall_) {
        returnAfterCall();
        return;
    }
    // Whole seconds, rounded up: "1 s" until the moment itself.
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(std::max(left, Clock::duration::zero()));
    if (shownSecondsUntilReturn_ != int(seconds.count())) {
        assignSecondsUntilReturn(int(seconds.count()));
    }
}

void AppModel::returnAfterCall() {
    const ListeningMode modeBefore = pendingReturn_->modeBefore;
    cancelPendingReturn();
    qCInfo(logModel) << "quiet after the call: AirPods back to" << modeName(modeBefore);
    assignErrorMessage(std::nullopt);
    // One command, so that nothing comes between the look and the switch.
    runModeRead(
        [modeBefore](AirPodsControl& airPods) -> ListeningMode {
            const ListeningMode current = airPods.currentMode();
            if (current != ListeningMode::transparency) {
                return current; // changed on the AirPods themselves: left as it is
            }
            airPods.setMode(modeBefore);
            return modeBefore;
        },
        [](AppModel& self) { self.assignCommandRunning(false); }, &AppModel::applyCommandFailure);
}

void AppModel::cancelPendingReturn() {
    if (!pendingReturn_) {
        return;
    }
    pendingReturn_.reset();
    updateTicker();
    assignSecondsUntilReturn(std::nullopt);
}

void AppModel::applyHeldCall() {
    if (isCommandRunning_) {
        return; // another command began meanwhile; the call waits for it in turn
    }
    // A call of a session that has ended, or from before a permission setup that failed, is dropped.
    auto call = std::exchange(heldCall_, std::nullopt);
    if (call && call->first == detectionSession_ && isPermissionSetupComplete_) {
        handleDetection(call->second);
    }
}

void AppModel::updateTicker() {
    const bool isNeeded = resume_.has_value() || pendingReturn_.has_value();
    if (isNeeded == isTicking_) {
        return;
    }
    isTicking_ = isNeeded;
    if (isNeeded) {
        ticker_->start(tickInterval, [this] {
            resumeWhenDue();
            reviewPendingReturn();
        });
    } else {
        ticker_->stop();
    }
}

// --- Phrases -----------------------------------------------------------------------------

void AppModel::addWakePhraseFromDraft() {
    if (!canAddWakePhrase()) {
        failAndStopListening(uiText("호출어를 먼저 입력해야 합니다.", "Enter a call phrase first."));
        return;
    }
    // Each piece is added unless the list has it already, it has no letter or number, it is too
    // long or the list is full; the first refusal, or the first piece added in a script listening
    // cannot hear, becomes the hint. Repeats within the draft go quietly.
    QHash<QString, QString> listed; // identity to the phrase as listed
    for (const QString& phrase : activeWakePhrases_) {
        listed.insert(normalizedText(phrase), phrase);
    }
    QSet<QString> addedKeys;
    QStringList added;
    QString hint;
    for (const QString& piece : draftPieces(wakePhraseDraft_)) {
        const QString key = normalizedText(piece);
        QString pieceHint;
        if (key.isEmpty()) {
            pieceHint = noLettersText();
        } else if (characterCount(piece) > maximumWakePhraseLength) {
            pieceHint = phraseTooLongText();
        } else if (listed.contains(key)) {
            pieceHint = alreadyListedText(listed.value(key));
        } else if (addedKeys.contains(key)) {
            continue;
        } else if (activeWakePhrases_.size() + added.size() >= maximumWakePhraseCount) {
            if (hint.isEmpty()) {
                hint = tooManyPhrasesText();
            }
            break;
        } else {
            addedKeys.insert(key);
            added.append(piece);
            if (!isInHeardScript(piece)) {
                pieceHint = unheardScriptText(piece);
            }
        }
        if (hint.isEmpty()) {
            hint = pieceHint;
        }
    }
    if (hint.isEmpty() && added.isEmpty()) {
        hint = noLettersText(); // only commas
    }
    if (!added.isEmpty()) {
        qCDebug(logModel) << "adding" << added.size() << "call phrases";
        updateWakePhrases(activeWakePhrases_ + added);
        setWakePhraseDraft(QString());
    }
    if (!hint.isEmpty()) {
        qCDebug(logModel) << "call phrase hint:" << hint;
        assignWakePhraseHint(hint);
    }
}

void AppModel::removeWakePhrase(const QString& phrase) {
    const QString key = normalizedText(phrase);
    QStringList kept;
    for (const auto& active : activeWakePhrases_) {
        if (normalizedText(active) != key) {
            kept.append(active);
        }
    }
    updateWakePhrases(kept);
}

void AppModel::updateWakePhrases(const QStringList& phrases) {
    const bool wasListening = isDetectionEnabled_;
    releaseDetector();
    if (resume_ && !resume_->at) {
        resume_->at = clock_->now(); // the try under way is gone; the next one uses the new phrases
    }
    assignDetectionEnabled(false);
    assignActiveWakePhrases(normalized(phrases));
    saveWakePhrases(activeWakePhrases_);
    assignErrorMessage(std::nullopt);
    if (!wakePhraseHint_.isEmpty()) {
        assignWakePhraseHint(QString()); // it may speak of a phrase that is gone
    }
    if (wasListening && !activeWakePhrases_.isEmpty()) {
        startDetection();
    } else {
        cancelPendingReturn();
    }
    if (!isDetectionEnabled_) {
        leaveTransparencyAfterCall();
    }
}

// --- Shortcut recording ------------------------------------------------------------------

void AppModel::startShortcutRecording() {
    stopShortcutRecording();
    assignRecordingShortcut(true);
    assignErrorMessage(std::nullopt);
    keyMonitor_->install([model = QPointer<AppModel>(this)](const QKeyEvent& event) {
        if (model) {
            model->captureShortcut(event);
        }
    });
    isMonitoringKeys_ = true;
}

void AppModel::captureShortcut(const QKeyEvent& event) {
    if (HotKeySetting::virtualKeyCode(event) == escapeVirtualKeyCode) {
        stopShortcutRecording();
        return;
    }
    if (HotKeySetting::isModifierKey(event)) {
        return; // a modifier on its way to a combination
    }
    const auto setting = HotKeySetting::from(event);
    if (!setting) {
        assignErrorMessage(uiText("Super, Ctrl, Alt, Shift 중 하나와 함께 키를 눌러주세요.",
                                  "Press a key together with Super, Ctrl, Alt or Shift."));
        return;
    }
    stopShortcutRecording();
    assignErrorMessage(std::nullopt);
    // The shortcut from before stays in effect, shown and stored until the new one is registered;
    // a refusal leaves it so.
    hotKeyController_->registerHotKey(
        *setting, owner_.guard<const std::optional<HotKeyError>&>(
                      [this, setting = *setting](const std::optional<HotKeyError>& refusal) {
                          if (refusal) {
                              assignErrorMessage(QString::fromStdString(refusal->errorDescription()));
                              return;
                          }
                          assignHotKeySetting(setting);
                          saveHotKeySetting(setting);
                      }));
}

void AppModel::registerStoredHotKey(const HotKeySetting& setting) {
    // A refusal (the combination taken by another program, no desktop portal yet) leaves the
    // shortcut shown and stored, so that the user sees which one failed and the next launch tries
    // it again.
    hotKeyController_->registerHotKey(
        setting,
        owner_.guard<const std::optional<HotKeyError>&>([this, setting](const std::optional<HotKeyError>& refusal) {
            if (refusal) {
                qCWarning(logShortcut) << "The stored shortcut" << setting.displayName().c_str()
                                       << "was refused at launch with status" << refusal->status();
                assignErrorMessage(QString::fromStdString(refusal->errorDescription()));
            }
        }));
}

void AppModel::stopShortcutRecording() {
    if (isRecordingShortcut_) {
        assignRecordingShortcut(false);
    }
    if (isMonitoringKeys_) {
        keyMonitor_->remove();
        isMonitoringKeys_ = false;
    }
}

void AppModel::cancelShortcutRecording() {
    stopShortcutRecording();
    assignErrorMessage(std::nullopt);
}

void AppModel::clearShortcut() {
    stopShortcutRecording();
    hotKeyController_->unregisterHotKey();
    assignHotKeySetting(std::nullopt);
    assignErrorMessage(std::nullopt);
    settings_->remove(hotKeyKeyCodeKey);
    settings_->remove(hotKeyModifiersKey);
    settings_->remove(hotKeyDisplayKey);
}

} // namespace harkwell
