#include "model/AppModel.h"

#include "core/Log.h"
#include "locale/AppLocale.h"
#include "matching/UnicodeText.h"
#include "matching/WakePhraseMatching.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace harkwell {

namespace {

const QString wakePhrasesKey = "wakePhrases";
const QString wakePhraseKey = "wakePhrase";
const QString selectedModeKey = "selectedMode";
const QString permissionSetupKey = "permissionSetupComplete";
const QString hotKeyKeyCodeKey = "hotKeyKeyCode";
const QString hotKeyModifiersKey = "hotKeyModifiers";
const QString hotKeyDisplayKey = "hotKeyDisplayKey";

constexpr uint32_t escapeKeyCode = 53;

QString text(std::string_view korean, std::string_view english) {
    return QString::fromStdString(appText(korean, english));
}

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

QString permissionsRequiredText() { return text("권한 준비 필요", "Permissions required"); }
QString permissionsReadyText() { return text("권한 준비 완료", "Permissions ready"); }
QString setupFirstText() { return text("먼저 권한 준비를 완료해 주세요.", "Complete permission setup first."); }

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

} // namespace

AppModel::AppModel(Dependencies dependencies, QObject* parent)
    : QObject(parent), airPods_(std::move(dependencies.airPods)),
      hotKeyController_(std::move(dependencies.hotKeyController)), permissions_(std::move(dependencies.permissions)),
      detectorFactory_(std::move(dependencies.detectorFactory)), keyMonitor_(std::move(dependencies.keyMonitor)),
      settings_(std::move(dependencies.settings)) {
    permissionStatusText_ = permissionsRequiredText();
    activeWakePhrases_ = loadWakePhrases();
    if (const auto stored = settings_->string(selectedModeKey)) {
        selectedMode_ = ListeningMode::fromRawValue(stored->toStdString()).value_or(ListeningMode::anc);
    }
    isPermissionSetupComplete_ = settings_->boolean(permissionSetupKey) && corePermissionsGranted();
    if (isPermissionSetupComplete_) {
        permissionStatusText_ = permissionsReadyText();
    }
    if (auto stored = loadHotKeySetting()) {
        hotKeySetting_ = stored;
        registerStoredHotKey(*stored);
    }
    hotKeyController_->onPressed = [model = QPointer<AppModel>(this)] {
        onMainThread(model, [](AppModel& self) { self.toggleAirPodsModeFromShortcut(); });
    };
    isConstructed_ = true;
}

AppModel::~AppModel() {
    stopShortcutRecording();
    if (detector_) {
        detector_->stop();
    }
    hotKeyController_->onPressed = nullptr;
}

void AppModel::onMainThread(const QPointer<AppModel>& model, std::function<void(AppModel&)> work) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [model, work = std::move(work)] {
            if (model) {
                work(*model);
            }
        },
        Qt::QueuedConnection);
}

// --- Published state ---------------------------------------------------------------------

void AppModel::setWakePhraseDraft(const QString& draft) {
    wakePhraseDraft_ = draft;
    emit wakePhraseDraftChanged();
    emit canAddWakePhraseChanged();
}

bool AppModel::canAddWakePhrase() const {
    const QString key = normalizedText(trimmed(wakePhraseDraft_));
    if (key.isEmpty()) {
        return false;
    }
    return std::none_of(activeWakePhrases_.begin(), activeWakePhrases_.end(),
                        [&key](const QString& phrase) { return normalizedText(phrase) == key; });
}

QString AppModel::selectedModeRawValue() const { return QString::fromUtf8(selectedMode_.rawValue()); }

QString AppModel::hotKeyDisplayName() const {
    return hotKeySetting_ ? QString::fromStdString(hotKeySetting_->displayName()) : QString();
}

void AppModel::assignActiveWakePhrases(QStringList phrases) {
    activeWakePhrases_ = std::move(phrases);
    emit activeWakePhrasesChanged();
    emit canAddWakePhraseChanged();
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

void AppModel::assignSelectedMode(ListeningMode mode) {
    selectedMode_ = mode;
    if (isConstructed_) {
        settings_->setString(selectedModeKey, selectedModeRawValue());
    }
    emit selectedModeChanged();
}

void AppModel::assignHotKeySetting(std::optional<HotKeySetting> setting) {
    hotKeySetting_ = std::move(setting);
    emit hotKeySettingChanged();
}

void AppModel::assignRecordingShortcut(bool recording) {
    isRecordingShortcut_ = recording;
    emit isRecordingShortcutChanged();
}

void AppModel::assignCommandRunning(bool running) {
    isCommandRunning_ = running;
    emit isCommandRunningChanged();
}

void AppModel::assignErrorMessage(std::optional<QString> message) {
    errorMessage_ = std::move(message);
    emit errorMessageChanged();
}

// --- Settings ----------------------------------------------------------------------------

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

void AppModel::saveHotKeySetting(const HotKeySetting& setting) {
    settings_->setUnsignedNumber(hotKeyKeyCodeKey, setting.keyCode);
    settings_->setUnsignedNumber(hotKeyModifiersKey, setting.modifiers);
    settings_->setString(hotKeyDisplayKey, QString::fromStdString(setting.key));
}

// --- Helper commands ---------------------------------------------------------------------

void AppModel::runCommand(std::function<void(AirPodsControl&)> command, std::function<void(AppModel&)> onSuccess) {
    assignCommandRunning(true);
    assignErrorMessage(std::nullopt);
    commandQueue_.async([alive = std::weak_ptr<const int>(alive_), airPods = airPods_, model = QPointer<AppModel>(this),
                         command = std::move(command), onSuccess = std::move(onSuccess)] {
        if (alive.expired()) {
            return;
        }
        auto failure = failureOf([&] { command(*airPods); });
        onMainThread(model, [failure = std::move(failure), onSuccess](AppModel& self) {
            if (failure) {
                self.applyCommandFailure(*failure);
            } else {
                onSuccess(self);
            }
        });
    });
}

void AppModel::applyCommandFailure(const Error& error) {
    assignCommandRunning(false);
    if (error.is(AppError::Kind::airPodsNotConnected)) {
        // Listening goes on, so that a later call can switch the AirPods once they are back.
        assignErrorMessage(QString::fromStdString(error.description()));
    } else {
        fail(QString::fromStdString(error.description()));
    }
}

void AppModel::setAirPodsMode(ListeningMode mode, std::function<void()> onSuccess) {
    if (!isPermissionSetupComplete_) {
        fail(setupFirstText());
        return;
    }
    if (isCommandRunning_) {
        return;
    }
    runCommand([mode](AirPodsControl& airPods) { airPods.setMode(mode); },
               [mode, onSuccess = std::move(onSuccess)](AppModel& self) {
                   self.assignSelectedMode(mode);
                   self.assignCommandRunning(false);
                   if (onSuccess) {
                       onSuccess();
                   }
               });
}

void AppModel::refreshAirPodsMode() {
    if (isCommandRunning_) {
        return;
    }
    auto mode = std::make_shared<std::optional<ListeningMode>>();
    runCommand([mode](AirPodsControl& airPods) { *mode = airPods.currentMode(); },
               [mode](AppModel& self) {
                   self.assignSelectedMode(**mode);
                   self.assignCommandRunning(false);
               });
}

void AppModel::toggleAirPodsModeFromShortcut() {
    if (!isPermissionSetupComplete_) {
        fail(setupFirstText());
        return;
    }
    if (isCommandRunning_) {
        return;
    }
    setAirPodsMode(selectedMode_ == ListeningMode::anc ? ListeningMode::transparency : ListeningMode::anc);
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
    assignPermissionStatusText(text("음성 인식 권한 확인 중", "Checking Speech Recognition permission"));
    requestSpeechPermission([model = QPointer<AppModel>(this)](bool granted) {
        if (!model) {
            return;
        }
        if (!granted) {
            model->finishPermissionSetup(
                text("음성 인식 권한을 허용해야 합니다.", "Speech Recognition permission is required."));
            return;
        }
        model->assignPermissionStatusText(text("마이크 권한 확인 중", "Checking microphone permission"));
        model->requestMicrophonePermission([model](bool granted) {
            if (!model) {
                return;
            }
            if (!granted) {
                model->finishPermissionSetup(
                    text("마이크 권한을 허용해야 합니다.", "Microphone permission is required."));
                return;
            }
            model->assignPermissionStatusText(text("Bluetooth 권한 확인 중", "Checking Bluetooth permission"));
            model->requestBluetoothPermission();
        });
    });
}

void AppModel::requestPermission(AuthorizationStatus status, const std::function<void(AskCompletion)>& ask,
                                 AskCompletion completion) {
    switch (status) {
    case AuthorizationStatus::notDetermined:
        // The system answers on a thread of its own; the answer continues on the main thread.
        ask([model = QPointer<AppModel>(this), completion = std::move(completion)](bool granted) {
            onMainThread(model, [completion, granted](AppModel&) { completion(granted); });
        });
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
    auto mode = std::make_shared<std::optional<ListeningMode>>();
    commandQueue_.async(
        [alive = std::weak_ptr<const int>(alive_), airPods = airPods_, model = QPointer<AppModel>(this), mode] {
            if (alive.expired()) {
                return;
            }
            auto failure = failureOf([&] { *mode = airPods->prepareBluetoothPermission(); });
            onMainThread(model, [failure = std::move(failure), mode](AppModel& self) {
                if (!failure) {
                    self.assignSelectedMode(**mode);
                    self.completePermissionSetup();
                } else if (failure->is(AppError::Kind::airPodsNotConnected)) {
                    // Setup is complete without connected AirPods.
                    self.completePermissionSetup();
                } else {
                    self.finishPermissionSetup(QString::fromStdString(failure->description()));
                }
            });
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
    if (enabled) {
        startDetection();
    } else {
        stopDetection();
    }
}

void AppModel::startDetection() {
    if (!isPermissionSetupComplete_) {
        fail(setupFirstText());
        return;
    }
    const auto phrases = normalizedWakePhrases(toStrings(activeWakePhrases_));
    if (phrases.empty()) {
        fail(text("호출어를 먼저 추가해야 합니다.", "Add a call phrase first."));
        return;
    }
    if (detector_) {
        return;
    }
    assignDetectionEnabled(true);
    assignErrorMessage(std::nullopt);
    detector_ = detectorFactory_(std::string(AppLocale::current().rawValue()));
    const QPointer<AppModel> model(this);
    const auto session = ++detectionSession_;
    detector_->start(
        phrases,
        [model, session](const std::string& phrase) {
            onMainThread(model, [phrase, session](AppModel& self) {
                if (self.detectionSession_ == session) {
                    self.handleDetection(QString::fromStdString(phrase));
                }
            });
        },
        [model, session](const Error& error) {
            onMainThread(model, [error, session](AppModel& self) {
                if (self.detectionSession_ == session) {
                    self.fail(QString::fromStdString(error.description()));
                }
            });
        });
}

void AppModel::stopDetection() {
    assignDetectionEnabled(false);
    releaseDetector();
}

void AppModel::fail(const QString& message) {
    assignErrorMessage(message);
    assignDetectionEnabled(false);
    releaseDetector();
}

void AppModel::releaseDetector() {
    ++detectionSession_;
    if (detector_) {
        detector_->stop();
        detector_.reset();
    }
}

void AppModel::handleDetection(const QString& targetPhrase) {
    setAirPodsMode(ListeningMode::transparency, [model = QPointer<AppModel>(this), targetPhrase] {
        if (model && model->onCallDetected) {
            model->onCallDetected(targetPhrase);
        }
    });
}

// --- Phrases -----------------------------------------------------------------------------

void AppModel::addWakePhraseFromDraft() {
    const QString draft = trimmed(wakePhraseDraft_);
    if (draft.isEmpty()) {
        fail(text("호출어를 먼저 입력해야 합니다.", "Enter a call phrase first."));
        return;
    }
    if (!canAddWakePhrase()) {
        setWakePhraseDraft(QString());
        assignErrorMessage(std::nullopt);
        return;
    }
    updateWakePhrases(activeWakePhrases_ + QStringList{draft});
    setWakePhraseDraft(QString());
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
    assignDetectionEnabled(false);
    assignActiveWakePhrases(normalized(phrases));
    saveWakePhrases(activeWakePhrases_);
    assignErrorMessage(std::nullopt);
    if (wasListening && !activeWakePhrases_.isEmpty()) {
        startDetection();
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
    if (HotKeySetting::virtualKeyCode(event) == escapeKeyCode) {
        stopShortcutRecording();
        return;
    }
    if (HotKeySetting::isModifierKey(event)) {
        return; // a modifier on its way to a combination
    }
    const auto setting = HotKeySetting::from(event);
    if (!setting) {
        assignErrorMessage(
            text("⌘, ⌥, ⌃, ⇧ 중 하나와 함께 키를 눌러주세요.", "Press a key together with ⌘, ⌥, ⌃, or ⇧."));
        return;
    }
    stopShortcutRecording();
    assignErrorMessage(std::nullopt);
    // The shortcut from before stays in effect, shown and stored until the new one is registered;
    // a refusal leaves it so.
    hotKeyController_->registerHotKey(*setting, [this, setting = *setting](const std::optional<HotKeyError>& refusal) {
        if (refusal) {
            assignErrorMessage(QString::fromStdString(refusal->errorDescription()));
            return;
        }
        assignHotKeySetting(setting);
        saveHotKeySetting(setting);
    });
}

void AppModel::registerStoredHotKey(const HotKeySetting& setting) {
    // A refusal (the combination taken by another program, no desktop portal yet) leaves the
    // shortcut shown and stored, so that the user sees which one failed and the next launch tries
    // it again.
    hotKeyController_->registerHotKey(setting, [this, setting](const std::optional<HotKeyError>& refusal) {
        if (refusal) {
            qCWarning(logShortcut) << "The stored shortcut" << setting.displayName().c_str()
                                   << "was refused at launch with status" << refusal->status();
            assignErrorMessage(QString::fromStdString(refusal->errorDescription()));
        }
    });
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
