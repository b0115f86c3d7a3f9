#pragma once

#include "core/OwnerContext.h"
#include "core/PermissionService.h"
#include "model/AirPodsModeSwitcher.h"
#include "model/SettingsStore.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace harkwell {

// Permission setup: speech recognition, then the microphone, then Bluetooth through the helper,
// which reads the AirPods' mode on the way (AirPods that are not connected do not hold setup up).
// Setup holds the helper's command gate while it runs, and stops at the first refusal. Whether it
// is complete is stored, and holds at the next launch only while speech recognition and the
// microphone are still allowed. Main thread only; every published value notifies on each
// assignment, changed or not.
class PermissionSetup : public QObject {
    Q_OBJECT

public:
    // switcher and settings outlive the setup.
    PermissionSetup(std::shared_ptr<PermissionService> permissions, AirPodsModeSwitcher& switcher,
                    SettingsStore& settings, QObject* parent = nullptr);

    // What the banner says about setup: why it stopped, or none once it starts or completes.
    std::function<void(const std::optional<QString>& message)> onMessage;

    bool isComplete() const { return isComplete_; }
    // "Permissions required", the permission being checked, or "Permissions ready".
    const QString& statusText() const { return statusText_; }

    // Runs setup; does nothing while a helper command runs (or setup itself).
    void prepare();

signals:
    void isCompleteChanged();
    void statusTextChanged();

private:
    using AskCompletion = std::function<void(bool granted)>;
    // Answers at once from a decided status; otherwise asks, and answers on the main thread.
    void request(AuthorizationStatus status, const std::function<void(AskCompletion)>& ask, AskCompletion completion);
    void requestSpeech(AskCompletion completion);
    void requestMicrophone(AskCompletion completion);
    void requestBluetooth();
    void finish(bool complete, const std::optional<QString>& message);
    void assignStatusText(const QString& text);

    std::shared_ptr<PermissionService> permissions_;
    AirPodsModeSwitcher& switcher_;
    SettingsStore& settings_;
    bool isComplete_ = false;
    QString statusText_;
    // Last, so that it goes first: an answer of the system that comes later does nothing.
    OwnerContext owner_;
};

} // namespace harkwell
