#include "locale/AppError.h"

#include <QCoreApplication>

namespace harkwell {

AppError AppError::speechUnavailable(AppLocale locale) {
    return {Kind::speechUnavailable, std::string(locale.rawValue())};
}
AppError AppError::onDeviceSpeechUnavailable(AppLocale locale) {
    return {Kind::onDeviceSpeechUnavailable, std::string(locale.rawValue())};
}
AppError AppError::permissionDenied(std::string permission) { return {Kind::permissionDenied, std::move(permission)}; }
AppError AppError::captureSetup(std::string detail) { return {Kind::captureSetup, std::move(detail)}; }
AppError AppError::soundServerUnreachable(std::string reason) {
    return {Kind::soundServerUnreachable, std::move(reason)};
}
AppError AppError::microphoneStopped(std::string microphoneName) {
    return {Kind::microphoneStopped, std::move(microphoneName)};
}
AppError AppError::helperMissing(std::string path) { return {Kind::helperMissing, std::move(path)}; }
AppError AppError::helperFailed(std::string output) { return {Kind::helperFailed, std::move(output)}; }
AppError AppError::unknownMode(std::string output) { return {Kind::unknownMode, std::move(output)}; }
AppError AppError::microphoneMissing() { return {Kind::microphoneMissing, {}}; }
AppError AppError::chosenMicrophoneMissing() { return {Kind::chosenMicrophoneMissing, {}}; }
AppError AppError::helperTimedOut() { return {Kind::helperTimedOut, {}}; }
AppError AppError::airPodsNotConnected() { return {Kind::airPodsNotConnected, {}}; }

std::string AppError::errorDescription() const {
    switch (kind_) {
    case Kind::speechUnavailable:
        return "Speech recognizer is unavailable for " + value_ + ".";
    case Kind::onDeviceSpeechUnavailable:
        return "On-device speech recognition is unavailable for " + value_ + ".";
    case Kind::permissionDenied:
        return value_ + " permission was denied.";
    case Kind::captureSetup:
        return "Audio capture setup failed: " + value_;
    case Kind::soundServerUnreachable:
        return "Audio capture setup failed: The sound server (PulseAudio or PipeWire) cannot be reached: " + value_ +
               ". Start it and try again.";
    case Kind::microphoneStopped:
        return "Audio capture setup failed: The microphone " + value_ +
               " stopped delivering audio: it was disconnected or the sound server went away.";
    case Kind::helperMissing:
        return "AirPods helper was not found at " + value_ + ".";
    case Kind::helperFailed:
        return value_;
    case Kind::unknownMode:
        return "Could not parse AirPods mode from helper output: " + value_;
    case Kind::microphoneMissing:
        return "Built-in microphone was not found.";
    case Kind::chosenMicrophoneMissing:
        return QCoreApplication::translate("harkwell::AppError", "The chosen microphone is not connected.")
            .toStdString();
    case Kind::helperTimedOut:
        return "AirPods helper timed out.";
    case Kind::airPodsNotConnected:
        return QCoreApplication::translate("harkwell::AppError",
                                           "AirPods are not connected. Connect them and try again.")
            .toStdString();
    }
    return value_;
}

AppError::AppError(Kind kind, std::string value) : kind_(kind), value_(std::move(value)) { what_ = errorDescription(); }

const char* AppError::what() const noexcept { return what_.c_str(); }

} // namespace harkwell
