#include "audio/QtAudioCapture.h"

#include "audio/PulseAudioSources.h"
#include "audio/SampleConverter.h"

#include <QAudioDevice>
#include <QAudioSource>
#include <QIODevice>
#include <QMediaDevices>
#include <QPointer>

namespace harkwell {

namespace {

class QtAudioCaptureSession final : public AudioCaptureSession {
public:
    QtAudioCaptureSession(QAudioDevice device, std::string name) : device_(std::move(device)), name_(std::move(name)) {}
    ~QtAudioCaptureSession() override { stop(); }

    void start(BufferHandler onBuffer, ErrorHandler onError) override {
        auto format = SampleConverter::outputFormat();
        if (!device_.isFormatSupported(format)) {
            format = device_.preferredFormat();
        }
        converter_ = std::make_unique<SampleConverter>(format);
        source_ = std::make_unique<QAudioSource>(device_, format);
        source_->setBufferSize(format.bytesForDuration(200'000));
        onError_ = std::move(onError);
        QObject::connect(source_.get(), &QAudioSource::stateChanged, [this](QAudio::State state) {
            if (state == QAudio::StoppedState && source_ && source_->error() != QAudio::NoError) {
                fail("The microphone " + name_ +
                     " stopped delivering audio: it was disconnected or the sound server went away.");
            }
        });
        input_ = source_->start();
        if (!input_ || source_->error() != QAudio::NoError) {
            fail("Cannot add audio output.");
            return;
        }
        QObject::connect(input_, &QIODevice::readyRead, [this, onBuffer = std::move(onBuffer)] {
            const auto bytes = input_->readAll();
            const auto samples =
                converter_->convert(std::span<const char>(bytes.constData(), static_cast<std::size_t>(bytes.size())));
            if (!samples.empty()) {
                onBuffer(samples);
            }
        });
    }

    void stop() override {
        if (source_) {
            auto source = std::move(source_); // no error reports from stopping on purpose
            source->disconnect();
            if (input_) {
                input_->disconnect();
            }
            source->stop();
        }
        input_ = nullptr;
    }

private:
    void fail(const std::string& detail) {
        if (onError_) {
            auto onError = std::move(onError_);
            onError_ = nullptr;
            onError(AppError::captureSetup(detail));
        }
    }

    QAudioDevice device_;
    std::string name_;
    std::unique_ptr<SampleConverter> converter_;
    std::unique_ptr<QAudioSource> source_;
    QPointer<QIODevice> input_; // owned by source_, which may drop it when the stream fails
    ErrorHandler onError_;
};

} // namespace

std::vector<AudioInputDevice> QtAudioCaptureDevices::inputDevices() { return pulseAudioSources(); }

std::unique_ptr<AudioCaptureSession> QtAudioCaptureDevices::open(const AudioInputDevice& device) {
    for (const auto& candidate : QMediaDevices::audioInputs()) {
        if (candidate.id().toStdString() == device.uniqueId) {
            return std::make_unique<QtAudioCaptureSession>(candidate, device.localizedName);
        }
    }
    throw Error(AppError::captureSetup("Cannot add " + device.localizedName + " as input."));
}

} // namespace harkwell
