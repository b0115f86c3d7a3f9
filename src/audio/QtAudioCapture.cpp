#include "audio/QtAudioCapture.h"

#include "audio/PulseAudioSources.h"
#include "audio/SampleConverter.h"
#include "core/Log.h"

#include <QAudioDevice>
#include <QAudioSource>
#include <QIODevice>
#include <QMediaDevices>
#include <QPointer>

#include <algorithm>

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
        qCDebug(logAudio) << "Capturing from" << name_.c_str() << "at" << format.sampleRate() << "Hz,"
                          << format.channelCount() << "channel(s), sample format" << format.sampleFormat();
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

QString describe(const AudioInputDevice& device) {
    QStringList marks;
    for (const auto& [isMarked, mark] :
         {std::pair{device.isInternal, "internal"}, std::pair{device.isBluetooth, "Bluetooth"},
          std::pair{device.isMonitor, "monitor"}}) {
        if (isMarked) {
            marks << mark;
        }
    }
    return QString("%1 \"%2\" (%3)")
        .arg(QString::fromStdString(device.uniqueId), QString::fromStdString(device.localizedName),
             marks.isEmpty() ? QString("no marks") : marks.join(", "));
}

// Tells which input the detector will take as the built-in microphone, and by which of its rules.
void logMicrophoneChoice(const std::vector<AudioInputDevice>& devices) {
    if (!logAudio().isInfoEnabled()) {
        return;
    }
    QStringList considered;
    for (const auto& device : devices) {
        considered << describe(device);
    }
    qCDebug(logAudio).noquote() << "Inputs considered:" << (considered.isEmpty() ? "none" : considered.join("; "));
    const auto chosen = preferredBuiltInMicrophone(devices);
    if (!chosen) {
        const auto count = [&](bool (*test)(const AudioInputDevice&)) {
            return std::count_if(devices.begin(), devices.end(), test);
        };
        const auto bluetooth = count([](const AudioInputDevice& device) { return device.isBluetooth; });
        const auto monitors =
            count([](const AudioInputDevice& device) { return device.isMonitor && !device.isBluetooth; });
        qCInfo(logAudio).nospace() << "No built-in microphone among " << devices.size() << " inputs: " << bluetooth
                                   << " Bluetooth, " << monitors << " monitors of outputs, "
                                   << static_cast<long>(devices.size()) - bluetooth - monitors
                                   << " with neither a built-in name nor the sound server's internal mark";
        return;
    }
    // The name rule comes before the internal mark: without the marks, the same choice means the name made it.
    auto unmarked = devices;
    for (auto& device : unmarked) {
        device.isInternal = false;
    }
    const auto byName = preferredBuiltInMicrophone(unmarked);
    const char* reason = chosen->uniqueId == "BuiltInMicrophoneDevice"    ? "its identifier is the built-in one"
                         : byName && byName->uniqueId == chosen->uniqueId ? "its name says it is built in"
                                                                          : "the sound server marks it internal";
    qCInfo(logAudio).noquote() << "Built-in microphone:" << describe(*chosen) << "because" << reason;
}

} // namespace

std::vector<AudioInputDevice> QtAudioCaptureDevices::inputDevices() {
    try {
        auto devices = pulseAudioSources();
        logMicrophoneChoice(devices);
        return devices;
    } catch (const Error& error) {
        qCInfo(logAudio) << "No microphone: the sound server listed no inputs:" << error.description().c_str();
        throw;
    }
}

std::unique_ptr<AudioCaptureSession> QtAudioCaptureDevices::open(const AudioInputDevice& device) {
    for (const auto& candidate : QMediaDevices::audioInputs()) {
        if (candidate.id().toStdString() == device.uniqueId) {
            return std::make_unique<QtAudioCaptureSession>(candidate, device.localizedName);
        }
    }
    qCInfo(logAudio) << "Qt Multimedia does not offer" << device.uniqueId.c_str() << "among"
                     << QMediaDevices::audioInputs().size() << "inputs";
    throw Error(AppError::captureSetup("Cannot add " + device.localizedName + " as input."));
}

} // namespace harkwell
