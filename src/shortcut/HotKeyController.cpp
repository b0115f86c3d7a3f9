#include "shortcut/HotKeyController.h"

#include "core/Log.h"
#include "shortcut/KeyNotation.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <utility>

namespace harkwell {

HotKeyController::HotKeyController() : HotKeyController(currentDesktopSession()) {}

HotKeyController::HotKeyController(const DesktopSession& session)
    : HotKeyController(makeHotKeyBackend(session), session.desktop,
                       session.desktop == DesktopKind::gnome ? makeGnomeCustomKeybindings() : nullptr) {}

HotKeyController::HotKeyController(std::unique_ptr<HotKeyBackend> backend, DesktopKind desktop,
                                   std::unique_ptr<CustomKeybindings> keybindings)
    : backend_(std::move(backend)), desktop_(desktop), keybindings_(std::move(keybindings)) {
    backend_->setPressHandler([this](HotKeyId id) {
        if (id.number == hotKeyNumber && onPressed) {
            onPressed();
        }
    });
    backend_->setRegistrationHandler([this](std::int32_t status) {
        if (auto pending = std::exchange(pending_, std::nullopt)) {
            finish(pending->setting, status, pending->completion);
        }
    });
}

HotKeyController::~HotKeyController() {
    unregisterHotKey();
    backend_->setPressHandler(nullptr);
    backend_->setRegistrationHandler(nullptr);
}

void HotKeyController::registerHotKey(const HotKeySetting& setting, Completion completion) {
    qCDebug(logShortcut) << "Registering the shortcut" << setting.displayName().c_str();
    const auto status = backend_->registerHotKey(setting, {signature, hotKeyNumber});
    if (!status) {
        qCDebug(logShortcut) << "The shortcut" << setting.displayName().c_str() << "waits for the desktop's answer";
        pending_ = Pending{setting, std::move(completion)};
        return;
    }
    // An immediate answer leaves a registration that is still waiting alone (a busy refusal).
    finish(setting, *status, completion);
}

void HotKeyController::finish(const HotKeySetting& setting, std::int32_t status, const Completion& completion) {
    if (status == 0) {
        qCDebug(logShortcut) << "The shortcut" << setting.displayName().c_str() << "is registered";
        isRegistered_ = true;
    } else {
        qCDebug(logShortcut) << "The shortcut" << setting.displayName().c_str() << "was refused with status" << status;
    }
    if (completion) {
        // GNOME's way out is the button that binds the shortcut in its settings, where there are some.
        const DesktopKind remedy = desktop_ == DesktopKind::gnome && !keybindings_ ? DesktopKind::other : desktop_;
        completion(status == 0 ? std::nullopt : std::optional(HotKeyError::registrationFailed(status, remedy)));
    }
}

QString HotKeyController::toggleCommand() {
    const QString name = QStringLiteral("harkwell");
    QString program = name;
    const QString running = QCoreApplication::applicationFilePath();
    if (QFileInfo(running).fileName() == name && QStandardPaths::findExecutable(name).isEmpty()) {
        // Quoted for the shell, as sway's exec and GNOME's command line read it.
        static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9/._+-]+$"));
        program = plain.match(running).hasMatch()
                      ? running
                      : u'\'' + QString(running).replace(u'\'', QStringLiteral("'\\''")) + u'\'';
    }
    return program + QStringLiteral(" --toggle-mode");
}

std::optional<QString> HotKeyController::bindInDesktopSettings(const HotKeySetting& setting) {
    if (!keybindings_) {
        return QString::fromStdString(
            HotKeyError::registrationFailed(HotKeyError::noShortcutService).errorDescription());
    }
    const QString binding = keyNotation(setting, KeyNotation::gtk);
    if (binding.isEmpty()) {
        return QString::fromStdString(
            HotKeyError::registrationFailed(HotKeyError::keyNotOnKeyboard).errorDescription());
    }
    return keybindings_->write(
        {QCoreApplication::translate("harkwell::HotKeyController", "Harkwell: switch the AirPods' mode"),
         toggleCommand(), binding});
}

std::optional<QString> HotKeyController::unbindInDesktopSettings() {
    return keybindings_ ? keybindings_->remove() : std::nullopt;
}

void HotKeyController::unregisterHotKey() {
    if (isRegistered_ || pending_) {
        backend_->unregisterHotKey();
        isRegistered_ = false;
        pending_.reset();
    }
}

} // namespace harkwell
