#pragma once

#include "locale/AppError.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace harkwell {

// A microphone as the sound server lists it.
struct AudioInputDevice {
    std::string uniqueId;      // stable identifier (the sound server's source name)
    std::string localizedName; // display name ("Built-in Audio Analog Stereo")
    bool isInternal = false;   // the sound server marks it as the computer's own microphone
    bool isBluetooth = false;  // a headset's microphone (opening it degrades the headset's audio)
    bool isMonitor = false;    // the echo of an output, not a microphone

    bool operator==(const AudioInputDevice&) const = default;
};

// One open microphone. Buffers are delivered on the thread that calls start, which must have
// an event loop (the detector's "Harkwell.capture" thread).
class AudioCaptureSession {
public:
    using BufferHandler = std::function<void(std::span<const std::int16_t> samples)>; // 16 kHz mono
    using ErrorHandler = std::function<void(const Error& error)>;

    virtual ~AudioCaptureSession() = default;
    // Starts the flow of audio. A failure to start, or the device or sound server going away
    // later, reaches onError once.
    virtual void start(BufferHandler onBuffer, ErrorHandler onError) = 0;
    // Stops the flow; no buffer is delivered after it returns. Called on the capture thread.
    virtual void stop() = 0;
};

// The platform's microphones.
class AudioCaptureDevices {
public:
    virtual ~AudioCaptureDevices() = default;
    // Throws Error when the sound server cannot be reached.
    virtual std::vector<AudioInputDevice> inputDevices() = 0;
    // A session for the device, not yet started. Throws Error when the device cannot be opened.
    virtual std::unique_ptr<AudioCaptureSession> open(const AudioInputDevice& device) = 0;
};

// The sound server's inputs, for choosing among them.
class AudioInputList {
public:
    virtual ~AudioInputList() = default;
    // In the sound server's order. Throws Error when the sound server cannot be reached.
    virtual std::vector<AudioInputDevice> inputs() = 0;
};

// The built-in microphone: the device with the identifier "BuiltInMicrophoneDevice", else the first
// whose name contains "macbook", "built-in" or "내장" (any case), else the first the sound server
// marks as internal. Bluetooth inputs and monitors of outputs never count.
std::optional<AudioInputDevice> preferredBuiltInMicrophone(const std::vector<AudioInputDevice>& devices);

} // namespace harkwell
