#include "shortcut/HotKeyController.h"

#include "core/Log.h"

#include <utility>

namespace harkwell {

HotKeyController::HotKeyController() : HotKeyController(makeHotKeyBackend()) {}

HotKeyController::HotKeyController(std::unique_ptr<HotKeyBackend> backend) : backend_(std::move(backend)) {
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
        completion(status == 0 ? std::nullopt : std::optional(HotKeyError::registrationFailed(status)));
    }
}

void HotKeyController::unregisterHotKey() {
    if (isRegistered_ || pending_) {
        backend_->unregisterHotKey();
        isRegistered_ = false;
        pending_.reset();
    }
}

} // namespace harkwell
