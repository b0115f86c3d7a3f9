#pragma once

#include <functional>

namespace harkwell {

enum class AuthorizationStatus { notDetermined, denied, restricted, authorized };

// Speech-recognition and microphone permissions, asked by the detector when it starts and by
// the application model during permission setup.
class PermissionService {
public:
    virtual ~PermissionService() = default;

    virtual AuthorizationStatus speechAuthorizationStatus() const = 0;
    virtual AuthorizationStatus microphoneAuthorizationStatus() const = 0;
    // Each calls back exactly once, on a thread of the service's choosing.
    virtual void requestSpeechAuthorization(std::function<void(AuthorizationStatus status)> completion) = 0;
    virtual void requestMicrophoneAccess(std::function<void(bool granted)> completion) = 0;
};

} // namespace harkwell
