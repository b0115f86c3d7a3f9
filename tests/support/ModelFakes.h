#pragma once

// Fakes of everything the application model works through.

#include "model/AppModel.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <variant>

namespace harkwell::testing {

// AirPods whose answers the test scripts. With hold(), calls wait until release(), so that the
// test can act while a command is under way.
class FakeAirPods final : public AirPodsControl {
public:
    // The outcome of one call: a mode, or an error to throw. Unscripted calls answer ANC.
    using Outcome = std::variant<ListeningMode, AppError>;

    ListeningMode currentMode() override { return answer("current-mode"); }
    ListeningMode prepareBluetoothPermission() override { return answer("request-permission"); }
    void setMode(ListeningMode mode) override { answer(std::string(mode.rawValue())); }

    void willAnswer(Outcome outcome) {
        std::lock_guard lock(mutex_);
        outcomes_.push_back(std::move(outcome));
    }
    void hold() {
        std::lock_guard lock(mutex_);
        held_ = true;
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            held_ = false;
        }
        released_.notify_all();
    }
    std::vector<std::string> commands() const {
        std::lock_guard lock(mutex_);
        return commands_;
    }

private:
    ListeningMode answer(std::string command) {
        std::unique_lock lock(mutex_);
        commands_.push_back(std::move(command));
        released_.wait(lock, [this] { return !held_; });
        Outcome outcome = ListeningMode::anc;
        if (!outcomes_.empty()) {
            outcome = outcomes_.front();
            outcomes_.pop_front();
        }
        if (auto* error = std::get_if<AppError>(&outcome)) {
            throw *error;
        }
        return std::get<ListeningMode>(outcome);
    }

    mutable std::mutex mutex_;
    std::condition_variable released_;
    bool held_ = false;
    std::deque<Outcome> outcomes_;
    std::vector<std::string> commands_;
};

// Permissions whose statuses the test sets. Requests are recorded and never answered.
class FakePermissions final : public PermissionService {
public:
    AuthorizationStatus speech = AuthorizationStatus::authorized;
    AuthorizationStatus microphone = AuthorizationStatus::authorized;
    std::vector<std::string> requests;

    AuthorizationStatus speechAuthorizationStatus() const override { return speech; }
    AuthorizationStatus microphoneAuthorizationStatus() const override { return microphone; }
    void requestSpeechAuthorization(std::function<void(AuthorizationStatus)> completion) override {
        requests.push_back("speech");
        speechCompletion = std::move(completion);
    }
    void requestMicrophoneAccess(std::function<void(bool)> completion) override {
        requests.push_back("microphone");
        microphoneCompletion = std::move(completion);
    }

    // The system answers on a thread of its own.
    void answerSpeech(AuthorizationStatus status) { std::thread(std::move(speechCompletion), status).join(); }
    void answerMicrophone(bool granted) { std::thread(std::move(microphoneCompletion), granted).join(); }

    std::function<void(AuthorizationStatus)> speechCompletion;
    std::function<void(bool)> microphoneCompletion;
};

// A detector that records what the model asks of it; the test plays the recogniser.
class FakeDetector final : public WakePhraseListener {
public:
    struct Log {
        std::vector<std::vector<std::string>> startedWith;
        int stops = 0;
        DetectedCallback onDetected;
        ErrorCallback onError;
    };

    explicit FakeDetector(std::shared_ptr<Log> log) : log_(std::move(log)) {}
    void start(const std::vector<std::string>& phrases, DetectedCallback onDetected, ErrorCallback onError) override {
        log_->startedWith.push_back(phrases);
        log_->onDetected = std::move(onDetected);
        log_->onError = std::move(onError);
    }
    void stop() override { ++log_->stops; }

private:
    std::shared_ptr<Log> log_;
};

// A desktop that grants shortcuts until nextStatus says otherwise; the test presses them.
class FakeHotKeyBackend final : public HotKeyBackend {
public:
    struct Log {
        std::optional<HotKeySetting> registered;
        std::int32_t nextStatus = 0;
        FakeHotKeyBackend* backend = nullptr;
    };

    explicit FakeHotKeyBackend(std::shared_ptr<Log> log) : log_(std::move(log)) { log_->backend = this; }
    ~FakeHotKeyBackend() override { log_->backend = nullptr; }

    std::int32_t registerHotKey(const HotKeySetting& setting, HotKeyId) override {
        if (log_->nextStatus == 0) {
            log_->registered = setting;
        }
        return log_->nextStatus;
    }
    void unregisterHotKey() override { log_->registered.reset(); }
    void press(HotKeyId id) const { reportPress(id); }

private:
    std::shared_ptr<Log> log_;
};

// One of each fake, and the model's dependencies over them with a settings file of the test's.
struct FakeModelParts {
    AppModel::Dependencies dependencies(const QString& settingsPath) const {
        return {airPods,
                std::make_unique<HotKeyController>(std::make_unique<FakeHotKeyBackend>(hotKeys)),
                permissions,
                [log = detectors](AppLocale) { return std::make_unique<FakeDetector>(log); },
                std::make_unique<ApplicationKeyEventMonitor>(),
                std::make_unique<SettingsStore>(settingsPath)};
    }

    std::shared_ptr<FakeAirPods> airPods = std::make_shared<FakeAirPods>();
    std::shared_ptr<FakePermissions> permissions = std::make_shared<FakePermissions>();
    std::shared_ptr<FakeDetector::Log> detectors = std::make_shared<FakeDetector::Log>();
    std::shared_ptr<FakeHotKeyBackend::Log> hotKeys = std::make_shared<FakeHotKeyBackend::Log>();
};

} // namespace harkwell::testing
