#include "audio/PulseAudioCapture.h"

#include "audio/PulseAudioSources.h"
#include "core/HandOff.h"
#include "core/Log.h"
#include "core/OwnerContext.h"

#include <QStringList>

#include <algorithm>

#include <pulse/pulseaudio.h>

namespace harkwell {

namespace {

constexpr std::uint32_t sampleRate = 16000;
constexpr std::uint32_t bytesPerBuffer = sampleRate / 10 * sizeof(std::int16_t); // 100 ms

// One recording connection to the sound server. libpulse runs it on a thread of its own
// (the session's "threaded main loop"); what it brings is posted to the thread that called
// start, through `owner_`, which belongs to that thread and drops undelivered posts when it goes.
class PulseAudioCaptureSession final : public AudioCaptureSession {
public:
    explicit PulseAudioCaptureSession(AudioInputDevice device) : device_(std::move(device)) {}
    ~PulseAudioCaptureSession() override { stop(); }

    void start(BufferHandler onBuffer, ErrorHandler onError) override {
        stop();
        owner_ = std::make_unique<OwnerContext>();
        onBuffer_ = std::move(onBuffer);
        onError_ = std::move(onError);
        loop_ = pa_threaded_mainloop_new();
        context_ = loop_ ? pa_context_new(pa_threaded_mainloop_get_api(loop_), "Harkwell") : nullptr;
        if (!context_) {
            fail(AppError::soundServerUnreachable("no connection could be made"));
            return;
        }
        pa_context_set_state_callback(context_, contextChanged, this);
        // No autospawn: a missing server is reported, not started behind the user's back.
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            fail(AppError::soundServerUnreachable(pa_strerror(pa_context_errno(context_))));
            return;
        }
        if (pa_threaded_mainloop_start(loop_) < 0) {
            fail(AppError::soundServerUnreachable("no connection could be made"));
        }
        qCDebug(logAudio) << "Recording" << device_.uniqueId.c_str();
    }

    void stop() override {
        if (loop_) {
            // Joins the connection's thread: nothing of this session runs or is posted after it.
            pa_threaded_mainloop_stop(loop_);
        }
        if (stream_) {
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_set_read_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        if (context_) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
        if (loop_) {
            pa_threaded_mainloop_free(loop_);
            loop_ = nullptr;
        }
        owner_.reset();
        onBuffer_ = nullptr;
        onError_ = nullptr;
        wasConnected_ = false;
        wasRecording_ = false;
    }

private:
    // --- On the connection's thread ---

    static void contextChanged(pa_context* context, void* data) {
        auto* self = static_cast<PulseAudioCaptureSession*>(data);
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            self->wasConnected_ = true;
            self->openStream();
            break;
        case PA_CONTEXT_FAILED: {
            const std::string reason = pa_strerror(pa_context_errno(context));
            qCDebug(logAudio) << "The sound server connection failed:" << reason.c_str();
            self->post(self->wasConnected_ ? AppError::microphoneStopped(self->device_.localizedName)
                                           : AppError::soundServerUnreachable(reason));
            break;
        }
        default: // connecting, or terminated by stop
            break;
        }
    }

    void openStream() {
        const pa_sample_spec format{PA_SAMPLE_S16LE, sampleRate, 1};
        stream_ = pa_stream_new(context_, "Call detection", &format, nullptr);
        if (!stream_) {
            post(cannotAdd());
            return;
        }
        pa_stream_set_state_callback(stream_, streamChanged, this);
        pa_stream_set_read_callback(stream_, readable, this);
        const auto unset = static_cast<std::uint32_t>(-1);
        const pa_buffer_attr buffering{unset, unset, unset, unset, bytesPerBuffer};
        // Never moved: losing the built-in microphone must not end in recording the AirPods'.
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
        if (pa_stream_connect_record(stream_, device_.uniqueId.c_str(), &buffering, flags) < 0) {
            post(cannotAdd());
        }
    }

    static void streamChanged(pa_stream* stream, void* data) {
        auto* self = static_cast<PulseAudioCaptureSession*>(data);
        switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            self->wasRecording_ = true;
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED:
            qCDebug(logAudio) << "The recording stream ended:" << pa_strerror(pa_context_errno(self->context_));
            self->post(self->wasRecording_ ? AppError::microphoneStopped(self->device_.localizedName)
                                           : self->cannotAdd());
            break;
        default:
            break;
        }
    }

    static void readable(pa_stream* stream, std::size_t, void* data) {
        auto* self = static_cast<PulseAudioCaptureSession*>(data);
        std::vector<std::int16_t> samples;
        while (pa_stream_readable_size(stream) > 0) {
            const void* bytes = nullptr;
            std::size_t size = 0;
            if (pa_stream_peek(stream, &bytes, &size) < 0 || size == 0) {
                break;
            }
            if (bytes) { // else a hole in the stream, skipped
                const auto* first = static_cast<const std::int16_t*>(bytes);
                samples.insert(samples.end(), first, first + size / sizeof(std::int16_t));
            }
            pa_stream_drop(stream);
        }
        if (!samples.empty()) {
            self->owner_->post([self, samples = std::move(samples)] {
                if (self->onBuffer_) {
                    self->onBuffer_(samples);
                }
            });
        }
    }

    void post(const AppError& error) {
        owner_->post([this, error] { fail(error); });
    }

    AppError cannotAdd() const { return AppError::captureSetup("Cannot add " + device_.localizedName + " as input."); }

    // --- On the thread that called start ---

    void fail(const AppError& error) {
        if (onError_) {
            auto onError = std::move(onError_);
            onError_ = nullptr;
            onError(error);
        }
    }

    const AudioInputDevice device_;
    std::unique_ptr<OwnerContext> owner_;
    BufferHandler onBuffer_;
    ErrorHandler onError_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    // Used by the connection's thread while it runs, by stop once it has ended.
    pa_stream* stream_ = nullptr;
    bool wasConnected_ = false;
    bool wasRecording_ = false;
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

std::vector<AudioInputDevice> PulseAudioCaptureDevices::inputDevices() {
    try {
        auto devices = pulseAudioSources();
        logMicrophoneChoice(devices);
        return devices;
    } catch (const Error& error) {
        qCInfo(logAudio) << "No microphone: the sound server listed no inputs:" << error.description().c_str();
        throw;
    }
}

std::unique_ptr<AudioCaptureSession> PulseAudioCaptureDevices::open(const AudioInputDevice& device) {
    return std::make_unique<PulseAudioCaptureSession>(device);
}

} // namespace harkwell
