#include "core/SystemPermissionService.h"

namespace harkwell {

AuthorizationStatus SystemPermissionService::speechAuthorizationStatus() const {
    return AuthorizationStatus::authorized;
}

AuthorizationStatus SystemPermissionService::microphoneAuthorizationStatus() const {
    return AuthorizationStatus::authorized;
}

void SystemPermissionService::requestSpeechAuthorization(std::function<void(AuthorizationStatus status)> completion) {
    completion(AuthorizationStatus::authorized);
}

void SystemPermissionService::requestMicrophoneAccess(std::function<void(bool granted)> completion) {
    completion(true);
}

} // namespace harkwell
