#pragma once

#include "detection/RecognitionEvent.h"
#include "matching/AppLocale.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace harkwell {

// A live recognition request: audio goes in as it is captured, 16 kHz mono 16-bit samples.
// Partial results are always reported and recognition never leaves the device.
class RecognitionRequest {
public:
    virtual ~RecognitionRequest() = default;
    // Called on the capture thread for each buffer.
    virtual void append(std::span<const std::int16_t> samples) = 0;
    // No more audio will come.
    virtual void endAudio() = 0;
};

// A running recognition of one request.
class RecognitionTask {
public:
    virtual ~RecognitionTask() = default;
    // Ends recognition; a result being handed over may still arrive. From any thread.
    virtual void cancel() = 0;
};

// The on-device recogniser of one language or more.
class SpeechRecognizer {
public:
    // Receives every result (the full transcript so far) and every error, one at a time and in
    // order, on a thread of the recogniser's; the caller moves them to its own thread.
    using ResultHandler = std::function<void(const RecognitionEvent& event)>;

    virtual ~SpeechRecognizer() = default;
    // Whether recognition can be used now (its model can be read).
    virtual bool isAvailable() const = 0;
    virtual bool supportsOnDeviceRecognition() const = 0;
    // The languages it hears, each once: its transcripts are in these.
    virtual std::vector<AppLocale> languages() const = 0;
    // A request biased towards the contextual strings: each may be heard as written.
    virtual std::shared_ptr<RecognitionRequest> makeRequest(const std::vector<std::string>& contextualStrings) = 0;
    // Starts recognising a request made by this recogniser; results come before audio ends.
    virtual std::unique_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                             ResultHandler handler) = 0;
};

// The recogniser for as many of the languages as can be heard (its languages() says which), or none
// when none of them can.
using SpeechRecognizerFactory =
    std::function<std::unique_ptr<SpeechRecognizer>(const std::vector<AppLocale>& languages)>;

} // namespace harkwell
