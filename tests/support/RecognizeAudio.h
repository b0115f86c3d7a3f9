#pragma once

// Feeding audio to a recogniser as the capture thread would, for the recognisers' tests.

#include "core/HandOff.h"
#include "detection/SpeechRecognizer.h"

#include <QByteArray>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cstring>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace harkwell::testing {

// Raw 16-bit samples (as synthesizedSpeech gives them) with seconds of silence before and after.
inline std::vector<std::int16_t> samplesOf(const QByteArray& raw, double leadingSilence = 0,
                                           double trailingSilence = 0) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(leadingSilence * 16000));
    const auto at = samples.size();
    samples.resize(at + static_cast<std::size_t>(raw.size()) / 2);
    if (!raw.isEmpty()) {
        std::memcpy(samples.data() + at, raw.constData(), static_cast<std::size_t>(raw.size()) / 2 * 2);
    }
    samples.resize(samples.size() + static_cast<std::size_t>(trailingSilence * 16000), 0);
    return samples;
}

// How long a recogniser with the real Whisper model may take over a few seconds of speech, under
// the sanitizers on a busy machine; one with a scripted transcriber answers within seconds.
constexpr std::chrono::milliseconds realModelWait{60000};

// Feeds the samples in 100 ms buffers on a thread of its own, then ends the audio, until the
// recogniser has said something and ended the utterance (or, with `until`, has said that; or
// failed, or `giveUpAfter` went by, so that a result that never comes fails the case in seconds).
// Gives each result's transcript, or its error, and "|" after each; the results themselves go to
// `events` when given.
inline std::string recognize(SpeechRecognizer& recognizer, const std::vector<std::string>& phrases,
                             const std::vector<std::int16_t>& samples, const std::string& until = {},
                             std::vector<RecognitionEvent>* events = nullptr,
                             std::chrono::milliseconds giveUpAfter = std::chrono::milliseconds(15000)) {
    std::string results;
    const auto request = recognizer.makeRequest(phrases);
    QEventLoop loop;
    QTimer::singleShot(giveUpAfter, &loop, &QEventLoop::quit);
    // Results come on the recogniser's thread; they are taken on this one. The task ends before
    // the loop goes, and results still on their way go with the loop.
    auto task = recognizer.recognitionTask(request, [&](const RecognitionEvent& event) {
        handOff(&loop, [&, event] {
            // Recognisers end every utterance with an empty transcript.
            const bool ended = until.empty() && event.transcript == "" && !results.empty();
            results += (event.error ? event.error->description() : event.transcript.value_or("(none)")) + "|";
            if (events) {
                events->push_back(event);
            }
            if (event.error || ended || (!until.empty() && results.find(until) != std::string::npos)) {
                loop.quit();
            }
        });
    });
    std::thread capture([&] {
        for (std::size_t at = 0; at < samples.size(); at += 1600) {
            request->append(std::span(samples).subspan(at, std::min<std::size_t>(1600, samples.size() - at)));
        }
        request->endAudio();
    });
    loop.exec();
    // Cancelled first: a recogniser that holds the audio back until its results are handled (audio
    // from a file) would otherwise hold the capture thread for good once the loop has ended.
    task->cancel();
    capture.join();
    return results;
}

} // namespace harkwell::testing
