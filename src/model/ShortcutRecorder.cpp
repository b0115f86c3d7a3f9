#include "model/ShortcutRecorder.h"

#include "core/Log.h"
#include "shortcut/KeyNotation.h"
#include "shortcut/VirtualKeyCode.h"

#include <QKeyEvent>
#include <QPointer>

#include <utility>

namespace harkwell {

namespace {

const QString hotKeyKeyCodeKey = "hotKeyKeyCode";
const QString hotKeyModifiersKey = "hotKeyModifiers";
const QString hotKeyDisplayKey = "hotKeyDisplayKey";
// The combination last bound in the desktop's own settings (a GTK accelerator), while it is.
const QString hotKeyInDesktopSettingsKey = "hotKeyInDesktopSettings";

} // namespace

ShortcutRecorder::ShortcutRecorder(std::unique_ptr<HotKeyController> controller,
                                   std::unique_ptr<KeyEventMonitor> keyMonitor, SettingsStore& settings,
                                   QObject* parent)
    : QObject(parent), controller_(std::move(controller)), keyMonitor_(std::move(keyMonitor)), settings_(settings) {
    controller_->onPressed = owner_.bind<>([this] {
        if (onPressed) {
            onPressed();
        }
    });
}

ShortcutRecorder::~ShortcutRecorder() {
    if (isMonitoringKeys_) {
        keyMonitor_->remove();
    }
    controller_->onPressed = nullptr;
}

QString ShortcutRecorder::displayName() const {
    return setting_ ? QString::fromStdString(setting_->displayName()) : QString();
}

void ShortcutRecorder::say(const std::optional<QString>& message) {
    if (onMessage) {
        onMessage(message);
    }
}

void ShortcutRecorder::registerStored() {
    const auto stored = loadSetting();
    if (!stored) {
        return;
    }
    setting_ = stored;
    // A refusal (the combination taken by another program, no desktop portal yet) leaves the
    // shortcut shown and stored. A desktop that registers none is said in the note, not the banner.
    controller_->registerHotKey(*stored, owner_.guard<const std::optional<HotKeyError>&>(
                                             [this, setting = *stored](const std::optional<HotKeyError>& refusal) {
                                                 if (refusal && refusal->isUnsupported()) {
                                                     assignOutcome(setting, refusal);
                                                 } else if (refusal) {
                                                     qCWarning(logShortcut)
                                                         << "The stored shortcut" << setting.displayName().c_str()
                                                         << "was refused at launch with status" << refusal->status();
                                                     say(QString::fromStdString(refusal->errorDescription()));
                                                 }
                                             }));
}

void ShortcutRecorder::start() {
    stop();
    assignRecording(true);
    say(std::nullopt);
    keyMonitor_->install([recorder = QPointer<ShortcutRecorder>(this)](const QKeyEvent& event) {
        if (recorder) {
            recorder->capture(event);
        }
    });
    isMonitoringKeys_ = true;
}

void ShortcutRecorder::capture(const QKeyEvent& event) {
    if (HotKeySetting::virtualKeyCode(event) == escapeVirtualKeyCode) {
        stop();
        return;
    }
    if (HotKeySetting::isModifierKey(event)) {
        return; // a modifier on its way to a combination
    }
    const auto setting = HotKeySetting::from(event);
    if (!setting) {
        say(tr("Press a key together with Super, Ctrl, Alt or Shift."));
        return;
    }
    stop();
    say(std::nullopt);
    // The shortcut from before stays in effect, shown and stored until the new one is registered.
    controller_->registerHotKey(*setting, owner_.guard<const std::optional<HotKeyError>&>(
                                              [this, setting = *setting](const std::optional<HotKeyError>& refusal) {
                                                  if (refusal && !refusal->isUnsupported()) {
                                                      say(QString::fromStdString(refusal->errorDescription()));
                                                      return;
                                                  }
                                                  // Kept for the desktop's own settings where it registers none.
                                                  saveSetting(setting);
                                                  assignOutcome(setting, refusal);
                                              }));
}

void ShortcutRecorder::assignOutcome(std::optional<HotKeySetting> setting, const std::optional<HotKeyError>& refusal) {
    desktopNote_ = !refusal ? QString()
                   : settings_.string(hotKeyInDesktopSettingsKey) == keyNotation(*setting, KeyNotation::gtk)
                       ? boundNote(*setting)
                       : QString::fromStdString(refusal->errorDescription());
    assignSetting(std::move(setting));
}

QString ShortcutRecorder::boundNote(const HotKeySetting& setting) {
    return tr("Added to GNOME's keyboard shortcuts: %1 runs harkwell --toggle-mode.")
        .arg(QString::fromStdString(setting.displayName()));
}

bool ShortcutRecorder::canBindInDesktopSettings() const {
    return setting_ && !desktopNote_.isEmpty() && controller_->canBindInDesktopSettings();
}

QString ShortcutRecorder::desktopConfigLine() const {
    if (!setting_ || desktopNote_.isEmpty() || controller_->desktop() != DesktopKind::sway) {
        return {};
    }
    return swayBindingLine(*setting_, HotKeyController::toggleCommand());
}

void ShortcutRecorder::bindInDesktopSettings() {
    if (!canBindInDesktopSettings()) {
        return;
    }
    if (const auto failure = controller_->bindInDesktopSettings(*setting_)) {
        say(failure);
        return;
    }
    say(std::nullopt);
    settings_.setString(hotKeyInDesktopSettingsKey, keyNotation(*setting_, KeyNotation::gtk));
    desktopNote_ = boundNote(*setting_);
    emit settingChanged();
}

void ShortcutRecorder::stop() {
    if (isRecording_) {
        assignRecording(false);
    }
    if (isMonitoringKeys_) {
        keyMonitor_->remove();
        isMonitoringKeys_ = false;
    }
}

void ShortcutRecorder::cancel() {
    stop();
    say(std::nullopt);
}

void ShortcutRecorder::clear() {
    stop();
    controller_->unregisterHotKey();
    // What the panel bound in the desktop's settings goes too.
    const auto failure =
        settings_.contains(hotKeyInDesktopSettingsKey) ? controller_->unbindInDesktopSettings() : std::nullopt;
    desktopNote_.clear();
    assignSetting(std::nullopt);
    say(failure);
    settings_.remove(hotKeyKeyCodeKey);
    settings_.remove(hotKeyModifiersKey);
    settings_.remove(hotKeyDisplayKey);
    settings_.remove(hotKeyInDesktopSettingsKey);
}

std::optional<HotKeySetting> ShortcutRecorder::loadSetting() const {
    const auto keyCode = settings_.unsignedNumber(hotKeyKeyCodeKey);
    const auto modifiers = settings_.unsignedNumber(hotKeyModifiersKey);
    const auto key = settings_.string(hotKeyDisplayKey);
    if (!keyCode || !modifiers || !key) {
        return std::nullopt;
    }
    return HotKeySetting{*keyCode, *modifiers, key->toStdString()};
}

void ShortcutRecorder::saveSetting(const HotKeySetting& setting) {
    settings_.setUnsignedNumber(hotKeyKeyCodeKey, setting.keyCode);
    settings_.setUnsignedNumber(hotKeyModifiersKey, setting.modifiers);
    settings_.setString(hotKeyDisplayKey, QString::fromStdString(setting.key));
}

void ShortcutRecorder::assignSetting(std::optional<HotKeySetting> setting) {
    setting_ = std::move(setting);
    emit settingChanged();
}

void ShortcutRecorder::assignRecording(bool recording) {
    isRecording_ = recording;
    emit isRecordingChanged();
}

} // namespace harkwell
