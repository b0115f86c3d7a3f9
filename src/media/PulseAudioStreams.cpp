#include "media/PulseAudioStreams.h"

#include "core/Log.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

namespace harkwell {

namespace {

// One connection to the sound server, driven here until each operation ends or the time runs out.
class Connection {
public:
    explicit Connection(std::chrono::milliseconds timeout)
        : deadline_(std::chrono::steady_clock::now() + timeout), loop_(pa_mainloop_new(), pa_mainloop_free),
          context_(pa_context_new(pa_mainloop_get_api(loop_.get()), "Harkwell"), pa_context_unref) {
        // No autospawn: a missing server is left missing.
        if (!context_ || pa_context_connect(context_.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            return;
        }
        while (runOnce()) {
            const auto state = pa_context_get_state(context_.get());
            if (state == PA_CONTEXT_READY) {
                isReady_ = true;
                return;
            }
            if (!PA_CONTEXT_IS_GOOD(state)) {
                return;
            }
        }
    }
    ~Connection() {
        if (context_) {
            pa_context_disconnect(context_.get());
        }
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool isReady() const { return isReady_; }
    pa_context* context() const { return context_.get(); }

    // Runs the operation to its end; false when the time ran out first.
    bool finish(pa_operation* operation) {
        if (!operation) {
            return false;
        }
        bool isDone = true;
        while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
            if (!runOnce()) {
                isDone = false;
                break;
            }
        }
        pa_operation_unref(operation);
        return isDone;
    }
    const char* error() const { return context_ ? pa_strerror(pa_context_errno(context_.get())) : "no context"; }

private:
    bool runOnce() {
        if (std::chrono::steady_clock::now() >= deadline_) {
            return false;
        }
        // Short waits, so that the deadline is looked at often.
        return pa_mainloop_prepare(loop_.get(), 20 * 1000) >= 0 && pa_mainloop_poll(loop_.get()) >= 0 &&
               pa_mainloop_dispatch(loop_.get()) >= 0;
    }

    std::chrono::steady_clock::time_point deadline_;
    std::unique_ptr<pa_mainloop, decltype(&pa_mainloop_free)> loop_;
    std::unique_ptr<pa_context, decltype(&pa_context_unref)> context_;
    bool isReady_ = false;
};

void collect(pa_context*, const pa_sink_input_info* info, int endOfList, void* userData) {
    if (endOfList != 0 || !info) {
        return;
    }
    const char* process = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
    if (process && std::to_string(getpid()) == process) {
        return; // Harkwell's own
    }
    SoundStream stream;
    stream.index = info->index;
    stream.isCorked = info->corked != 0;
    stream.volume.assign(info->volume.values, info->volume.values + info->volume.channels);
    static_cast<std::vector<SoundStream>*>(userData)->push_back(std::move(stream));
}

} // namespace

std::vector<SoundStream> PulseAudioStreams::streams() {
    Connection connection(timeout_);
    std::vector<SoundStream> streams;
    if (!connection.isReady() ||
        !connection.finish(pa_context_get_sink_input_info_list(connection.context(), collect, &streams))) {
        qCWarning(logMedia) << "the sound server's streams could not be read:" << connection.error();
        return {};
    }
    return streams;
}

void PulseAudioStreams::changeVolumes(const std::vector<VolumeChange>& changes, std::chrono::milliseconds ramp) {
    if (changes.empty()) {
        return;
    }
    constexpr int steps = 6;
    Connection connection(timeout_ + ramp);
    if (!connection.isReady()) {
        qCWarning(logMedia) << "the sound server could not be reached:" << connection.error();
        return;
    }
    for (int step = 1; step <= steps; ++step) {
        for (const auto& change : changes) {
            pa_cvolume volume;
            pa_cvolume_init(&volume);
            volume.channels = std::uint8_t(std::min<std::size_t>(change.to.size(), PA_CHANNELS_MAX));
            for (std::size_t channel = 0; channel < volume.channels; ++channel) {
                const auto from = double(channel < change.from.size() ? change.from[channel] : change.to[channel]);
                volume.values[channel] = pa_volume_t(from + (double(change.to[channel]) - from) * step / steps);
            }
            // A stream gone meanwhile, or a change refused, is only logged.
            connection.finish(
                pa_context_set_sink_input_volume(connection.context(), change.index, &volume, nullptr, nullptr));
        }
        if (step < steps) {
            std::this_thread::sleep_for(ramp / steps);
        }
    }
    qCDebug(logMedia) << "volumes of" << changes.size() << "streams changed";
}

} // namespace harkwell
