#include "audio/PulseAudioSources.h"

#include "core/Log.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <memory>
#include <string>

namespace harkwell {

namespace {

struct Query {
    std::vector<AudioInputDevice> sources;
    bool done = false;
};

std::string property(const pa_proplist* properties, const char* key) {
    const char* value = pa_proplist_gets(properties, key);
    return value ? value : "";
}

bool hasInternalMicrophonePort(const pa_source_info* info) {
    if (!info->active_port) {
        return false;
    }
    // ALSA's profiles name a laptop's own microphone port "analog-input-internal-mic".
    const std::string name = info->active_port->name ? info->active_port->name : "";
    return name.find("internal-mic") != std::string::npos;
}

void collect(pa_context*, const pa_source_info* info, int endOfList, void* userData) {
    auto* query = static_cast<Query*>(userData);
    if (endOfList != 0 || !info) {
        query->done = true;
        return;
    }
    AudioInputDevice device;
    device.uniqueId = info->name ? info->name : "";
    device.localizedName = info->description ? info->description : device.uniqueId;
    device.isInternal = property(info->proplist, "device.form_factor") == "internal" || hasInternalMicrophonePort(info);
    device.isBluetooth =
        property(info->proplist, "device.bus") == "bluetooth" || device.uniqueId.rfind("bluez_", 0) == 0;
    device.isMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
    qCDebug(logAudio).nospace() << "Sound server input " << device.uniqueId.c_str() << " \""
                                << device.localizedName.c_str() << "\": form factor \""
                                << property(info->proplist, "device.form_factor").c_str() << "\", bus \""
                                << property(info->proplist, "device.bus").c_str() << "\", active port \""
                                << (info->active_port && info->active_port->name ? info->active_port->name : "") << "\""
                                << (device.isMonitor ? ", monitor of an output" : "");
    query->sources.push_back(std::move(device));
}

AppError unreachable(const std::string& reason) {
    return AppError::captureSetup("The sound server (PulseAudio or PipeWire) cannot be reached: " + reason +
                                  ". Start it and try again.");
}

} // namespace

std::vector<AudioInputDevice> pulseAudioSources(std::chrono::milliseconds timeout) {
    const std::unique_ptr<pa_mainloop, decltype(&pa_mainloop_free)> loop(pa_mainloop_new(), pa_mainloop_free);
    const std::unique_ptr<pa_context, decltype(&pa_context_unref)> context(
        pa_context_new(pa_mainloop_get_api(loop.get()), "Harkwell"), pa_context_unref);
    if (!context) {
        throw Error(unreachable("no connection could be made"));
    }
    // No autospawn: a missing server is reported, not started behind the user's back.
    if (pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        throw Error(unreachable(pa_strerror(pa_context_errno(context.get()))));
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    Query query;
    pa_operation* operation = nullptr;
    std::string failure;
    while (!query.done) {
        if (std::chrono::steady_clock::now() >= deadline) {
            failure = "no answer in time";
            break;
        }
        const auto state = pa_context_get_state(context.get());
        if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
            failure = pa_strerror(pa_context_errno(context.get()));
            break;
        }
        if (state == PA_CONTEXT_READY && !operation) {
            operation = pa_context_get_source_info_list(context.get(), collect, &query);
        }
        // Wakes at least every 100 ms to look at the clock.
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
        pa_mainloop_prepare(loop.get(), static_cast<int>(std::clamp<long>(left.count(), 0, 100000)));
        pa_mainloop_poll(loop.get());
        pa_mainloop_dispatch(loop.get());
    }
    if (operation) {
        pa_operation_cancel(operation);
        pa_operation_unref(operation);
    }
    pa_context_disconnect(context.get());
    if (!failure.empty()) {
        throw Error(unreachable(failure));
    }
    return query.sources;
}

} // namespace harkwell
