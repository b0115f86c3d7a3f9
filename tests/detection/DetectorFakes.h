#pragma once

#include "detection/AudioCapture.h"
#include "detection/PermissionService.h"
#include "detection/SpeechRecognizer.h"

#include <QThread>

#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace harkwell::testing {

// Records what the detector asks of the recogniser; the test plays the recogniser's results.
class FakeRecognizer final : public SpeechRecognizer {
public:
    struct Request final : RecognitionRequest {
        void append(std::span<const std::int16_t> samples) override {
            appended += samples.size();
            appendThread = QThread::currentThread()->objectName().toStdString();
        }
        void endAudio() override { ended = true; }
        std::vector<std::string> contextualStrings;
        std::size_t appended = 0;
        std::string appendThread;
        bool ended = false;
    };
    struct Task final : RecognitionTask {
        void cancel() override { *cancelled = true; }
        std::shared_ptr<bool> cancelled = std::make_shared<bool>(false);
    };

    bool isAvailable() const override { return available; }
    bool supportsOnDeviceRecognition() const override { return onDevice; }
    std::shared_ptr<RecognitionRequest> makeRequest(const std::vector<std::string>& contextualStrings) override {
        auto request = std::make_shared<Request>();
        request->contextualStrings = contextualStrings;
        requests.push_back(request);
        return request;
    }
    std::unique_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest>,
                                                     ResultHandler resultHandler) override {
        handler = std::move(resultHandler);
        auto task = std::make_unique<Task>();
        taskCancelled = task->cancelled;
        return task;
    }

    bool available = true;
    bool onDevice = true;
    std::vector<std::shared_ptr<Request>> requests;
    ResultHandler handler;
    std::shared_ptr<bool> taskCancelled;
};

class FakeCaptureSession final : public AudioCaptureSession {
public:
    struct Log {
        std::string startThread;
        bool stopped = false;
        ErrorHandler onError;
        std::promise<void> started; // kept when start has run on the capture thread
    };
    explicit FakeCaptureSession(std::shared_ptr<Log> log) : log_(std::move(log)) {}
    void start(BufferHandler onBuffer, ErrorHandler onError) override {
        log_->startThread = QThread::currentThread()->objectName().toStdString();
        log_->onError = std::move(onError);
        const std::vector<std::int16_t> buffer(1600);
        onBuffer(buffer);
        log_->started.set_value();
    }
    void stop() override { log_->stopped = true; }

private:
    std::shared_ptr<Log> log_;
};

class FakeCaptureDevices final : public AudioCaptureDevices {
public:
    std::vector<AudioInputDevice> inputDevices() override {
        if (listError) {
            throw *listError;
        }
        return devices;
    }
    std::unique_ptr<AudioCaptureSession> open(const AudioInputDevice& device) override {
        opened.push_back(device.uniqueId);
        if (openError) {
            throw *openError;
        }
        session = std::make_shared<FakeCaptureSession::Log>();
        return std::make_unique<FakeCaptureSession>(session);
    }

    std::vector<AudioInputDevice> devices{
        {"alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio Analog Stereo"}};
    std::optional<Error> listError;
    std::optional<Error> openError;
    std::vector<std::string> opened;
    std::shared_ptr<FakeCaptureSession::Log> session;
};

// Answers at once with the configured answers, or holds the completions for the test to answer.
class FakePermissions final : public PermissionService {
public:
    AuthorizationStatus speechAuthorizationStatus() const override {
        return speech.value_or(AuthorizationStatus::notDetermined);
    }
    AuthorizationStatus microphoneAuthorizationStatus() const override {
        return microphone ? (*microphone ? AuthorizationStatus::authorized : AuthorizationStatus::denied)
                          : AuthorizationStatus::notDetermined;
    }
    void requestSpeechAuthorization(std::function<void(AuthorizationStatus)> completion) override {
        asked.push_back("Speech Recognition");
        if (speech) {
            completion(*speech);
        } else {
            pendingSpeech = std::move(completion);
        }
    }
    void requestMicrophoneAccess(std::function<void(bool)> completion) override {
        asked.push_back("Microphone");
        if (microphone) {
            completion(*microphone);
        } else {
            pendingMicrophone = std::move(completion);
        }
    }

    std::optional<AuthorizationStatus> speech = AuthorizationStatus::authorized;
    std::optional<bool> microphone = true;
    std::vector<std::string> asked;
    std::function<void(AuthorizationStatus)> pendingSpeech;
    std::function<void(bool)> pendingMicrophone;
};

} // namespace harkwell::testing
