#pragma once

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
    using DetectedCallback = std::function<void(const std::string& phrase)>;
    using ErrorCallback = std::function<void(const Error& error)>;

    virtual ~WakePhraseListener() = default;
    // Returns at once; detections and errors (start-up errors too) come through the callbacks.
    virtual void start(const std::vector<std::string>& phrases, DetectedCallback onDetected, ErrorCallback onError) = 0;
    // Stops capture and recognition synchronously; a second call does nothing.
    virtual void stop() = 0;
};

// Makes a new listener for a recognition locale each time listening starts.
using WakePhraseListenerFactory = std::function<std::unique_ptr<WakePhraseListener>(AppLocale locale)>;

} // namespace harkwell
