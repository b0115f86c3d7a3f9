#include "shortcut/HotKeyController.h"

namespace harkwell {

HotKeyController::HotKeyController() : HotKeyController(makeHotKeyBackend()) {}

HotKeyController::HotKeyController(std::unique_ptr<HotKeyBackend> backend) : backend_(std::move(backend)) {
    backend_->setPressHandler([this](HotKeyId id) {
        if (id.number == hotKeyNumber && onPressed) {
            onPressed();
        }
    });
}

HotKeyController::~HotKeyController() {
    unregisterHotKey();
    backend_->setPressHandler(nullptr);
}

void HotKeyController::registerHotKey(const HotKeySetting& setting) {
    unregisterHotKey();
    const std::int32_t status = backend_->registerHotKey(setting, {signature, hotKeyNumber});
    if (status != 0) {
        throw HotKeyError::registrationFailed(status);
    }
    isRegistered_ = true;
}

void HotKeyController::unregisterHotKey() {
    if (isRegistered_) {
        backend_->unregisterHotKey();
        isRegistered_ = false;
    }
}

} // namespace harkwell
