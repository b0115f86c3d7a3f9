#pragma once

#include "matching/AppLocale.h"

#include <optional>
#include <stdexcept>
#include <string>

namespace harkwell {

// The application's own error vocabulary. Every case carries the message shown to the user.
class AppError : public std::exception {
public:
    enum class Kind {
        speechUnavailable,         // value: the locale's raw value
        onDeviceSpeechUnavailable, // value: the locale's raw value
        permissionDenied,          // value: name of the permission
        captureSetup,              // value: what went wrong
        helperMissing,             // value: path of the helper
        helperFailed,              // value: the helper's output
        unknownMode,               // value: the helper's output
        microphoneMissing,
        helperTimedOut,
        airPodsNotConnected,
    };

    static AppError speechUnavailable(AppLocale locale);
    static AppError onDeviceSpeechUnavailable(AppLocale locale);
    static AppError permissionDenied(std::string permission);
    static AppError captureSetup(std::string detail);
    static AppError helperMissing(std::string path);
    static AppError helperFailed(std::string output);
    static AppError unknownMode(std::string output);
    static AppError microphoneMissing();
    static AppError helperTimedOut();
    static AppError airPodsNotConnected();

    Kind kind() const { return kind_; }
    // The associated value; empty for the cases that carry none.
    const std::string& value() const { return value_; }

    // The message for the user, in the current interface language where one exists.
    std::string errorDescription() const;
    const char* what() const noexcept override;

    bool operator==(const AppError& other) const { return kind_ == other.kind_ && value_ == other.value_; }

private:
    AppError(Kind kind, std::string value);

    Kind kind_;
    std::string value_;
    std::string what_; // the description when the error was made, for what()
};

// An error as it reaches the user: one of ours, or a platform error shown with its own description.
class Error {
public:
    Error(AppError error) : appError_(std::move(error)) {}
    static Error platform(std::string description) { return Error(std::move(description)); }

    const std::optional<AppError>& appError() const { return appError_; }
    bool is(AppError::Kind kind) const { return appError_ && appError_->kind() == kind; }
    std::string description() const { return appError_ ? appError_->errorDescription() : description_; }

    bool operator==(const Error& other) const = default;

private:
    explicit Error(std::string description) : description_(std::move(description)) {}

    std::optional<AppError> appError_;
    std::string description_;
};

} // namespace harkwell
