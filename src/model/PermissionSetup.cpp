#include "model/PermissionSetup.h"

#include "locale/AppError.h"

#include <QPointer>

#include <utility>

namespace harkwell {

namespace {

const QString permissionSetupKey = "permissionSetupComplete";

QString requiredText() { return PermissionSetup::tr("Permissions required"); }
QString readyText() { return PermissionSetup::tr("Permissions ready"); }

} // namespace

PermissionSetup::PermissionSetup(std::shared_ptr<PermissionService> permissions, AirPodsModeSwitcher& switcher,
                                 SettingsStore& settings, QObject* parent)
    : QObject(parent), permissions_(std::move(permissions)), switcher_(switcher), settings_(settings) {
    isComplete_ = settings_.boolean(permissionSetupKey) &&
                  permissions_->speechAuthorizationStatus() == AuthorizationStatus::authorized &&
                  permissions_->microphoneAuthorizationStatus() == AuthorizationStatus::authorized;
    statusText_ = isComplete_ ? readyText() : requiredText();
}

void PermissionSetup::prepare() {
    if (switcher_.isCommandRunning()) {
        return;
    }
    switcher_.holdGate();
    if (onMessage) {
        onMessage(std::nullopt);
    }
    assignStatusText(tr("Checking Speech Recognition permission"));
    requestSpeech([setup = QPointer<PermissionSetup>(this)](bool granted) {
        if (!setup) {
            return;
        }
        if (!granted) {
            setup->finish(false, tr("Speech Recognition permission is required."));
            return;
        }
        setup->assignStatusText(tr("Checking microphone permission"));
        setup->requestMicrophone([setup](bool microphoneGranted) {
            if (!setup) {
                return;
            }
            if (!microphoneGranted) {
                setup->finish(false, tr("Microphone permission is required."));
                return;
            }
            setup->assignStatusText(tr("Checking Bluetooth permission"));
            setup->requestBluetooth();
        });
    });
}

void PermissionSetup::request(AuthorizationStatus status, const std::function<void(AskCompletion)>& ask,
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

void PermissionSetup::requestSpeech(AskCompletion completion) {
    request(
        permissions_->speechAuthorizationStatus(),
        [this](const AskCompletion& answer) {
            permissions_->requestSpeechAuthorization(
                [answer](AuthorizationStatus status) { answer(status == AuthorizationStatus::authorized); });
        },
        std::move(completion));
}

void PermissionSetup::requestMicrophone(AskCompletion completion) {
    request(
        permissions_->microphoneAuthorizationStatus(),
        [this](AskCompletion answer) { permissions_->requestMicrophoneAccess(std::move(answer)); },
        std::move(completion));
}

void PermissionSetup::requestBluetooth() {
    switcher_.prepareBluetooth([this] { finish(true, std::nullopt); },
                               [this](const Error& failure) {
                                   if (failure.is(AppError::Kind::airPodsNotConnected)) {
                                       // Setup is complete without connected AirPods.
                                       finish(true, std::nullopt);
                                   } else {
                                       finish(false, QString::fromStdString(failure.description()));
                                   }
                               });
}

void PermissionSetup::finish(bool complete, const std::optional<QString>& message) {
    isComplete_ = complete;
    emit isCompleteChanged();
    settings_.setBoolean(permissionSetupKey, complete);
    assignStatusText(complete ? readyText() : requiredText());
    switcher_.freeGate();
    if (onMessage) {
        onMessage(message);
    }
}

void PermissionSetup::assignStatusText(const QString& text) {
    statusText_ = text;
    emit statusTextChanged();
}

} // namespace harkwell
