#pragma once

// The application itself listening, as a user runs it: the benchmark's line for the live app, so
// that what the benchmark measures and what the program costs cannot drift apart.

#include <QJsonObject>

#include <cstdint>
#include <string>
#include <vector>

namespace harkwell::bench {

struct LiveAppRun {
    std::string binary;       // the harkwell executable
    std::string whisperModel; // the model it listens with (HARKWELL_WHISPER_MODEL)
    double minutes = 10;
};

// Starts the program with a home of its own (listening on at start, the phrases given) on a
// private PulseAudio server whose built-in microphone plays the audio again and again at real-time
// pace, and measures it: its share of a core from the end of the first minute to the end, and its
// resident memory after the first minute, each minute after and at the end. Prints one line; the error, if it could
// not run, is in the report.
QJsonObject measureLiveApp(const LiveAppRun& run, const std::vector<std::int16_t>& audio,
                           const std::vector<std::string>& phrases);

} // namespace harkwell::bench
