#pragma once

#include "detection/DetectionSensitivity.h"
#include "locale/AppError.h"
#include "matching/AppLocale.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace harkwell {

// What the application model needs of a call detector: start listening for phrases, stop.
// Callbacks may come on any thread; the owner moves them to its own.
class WakePhraseListener {
public:
    // The phrase, and the words heard around it as the recogniser gave them.
    using DetectedCallback = std::function<void(const std::string& phrase, const std::string& heard)>;
    using ErrorCallback = std::function<void(const Error& error)>;
    using ListeningCallback = std::function<void()>;
    // Someone is speaking near the microphone: called repeatedly while they do.
    using NearSpeechCallback = std::function<void()>;

    virtual ~WakePhraseListener() = default;
    // Returns at once; detections and errors (start-up errors too) come through the callbacks.
    // onListening, when given, comes once, when the microphone's audio has begun to arrive.
    virtual void start(const std::vector<std::string>& phrases, DetectedCallback onDetected, ErrorCallback onError,
                       ListeningCallback onListening = nullptr, NearSpeechCallback onNearSpeech = nullptr) = 0;
    // Stops capture and recognition synchronously; a second call does nothing.
    virtual void stop() = 0;
    // The peak of the microphone's last 100 ms of audio, 0 to 1 of full scale; 0 while nothing
    // is heard. Cheap, from any thread.
    virtual double inputLevel() const { return 0; }
};

// Makes a new listener for a recognition locale and sensitivity each time listening starts, on the
// sound server's input named microphoneSource, or on the built-in microphone when it is empty.
using WakePhraseListenerFactory = std::function<std::unique_ptr<WakePhraseListener>(
    AppLocale locale, DetectionSensitivity sensitivity, const std::string& microphoneSource)>;

} // namespace harkwell
