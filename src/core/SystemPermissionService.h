#pragma once

#include "core/PermissionService.h"

namespace harkwell {

// On a Linux desktop neither speech recognition (it runs on this computer) nor the microphone is
// gated by the system: both are always authorized. Answers come at once, on the asking thread.
class SystemPermissionService final : public PermissionService {
public:
    AuthorizationStatus speechAuthorizationStatus() const override;
    AuthorizationStatus microphoneAuthorizationStatus() const override;
    void requestSpeechAuthorization(std::function<void(AuthorizationStatus status)> completion) override;
    void requestMicrophoneAccess(std::function<void(bool granted)> completion) override;
};

} // namespace harkwell
