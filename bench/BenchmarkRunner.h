#pragma once

// How the detection benchmark runs the corpus through the real detector (recogniser, gating and
// matching; only the microphone is replaced by the clips) and measures the cost of listening.

#include "LiveAppCost.h"

#include "core/RawValueTable.h"
#include "detection/DetectionSensitivity.h"
#include "detection/NearSpeechWatch.h"
#include "speech/PocketSphinxOptions.h"
#include "speech/TwoStageRecognizer.h"

#include <QJsonObject>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace harkwell::bench {

// The recognisers' names on the command line and in the report.
inline constexpr RawValueTable<RecognizerChoice, 3> recognizerNames{{{RecognizerChoice::pocketSphinx, "pocketsphinx"},
                                                                     {RecognizerChoice::whisper, "whisper"},
                                                                     {RecognizerChoice::both, "both"}}};

// How one listening session runs.
struct ListeningSettings {
    bool realtime = false;
    std::optional<bool> requiresAddress; // the level's choice unless given
    bool requiresNearSpeech = true;      // as the application listens
    PocketSphinxOptions options;
    NearSpeechWatch::Settings quiet;
    RecognizerChoice recognizer = RecognizerChoice::both; // as the application listens with a model
    TwoStageRecognizer::Options accurate;
    std::shared_ptr<WhisperTranscriber> transcriber;
    std::string name; // "medium, both"
};

// What a run measures, and with what.
struct BenchmarkOptions {
    std::string manifest, reportPath;
    std::string condition;        // only the clips of this condition (empty: all)
    std::string whisperModelPath; // empty: defaultWhisperModelPath()
    bool verbose = false;         // each hit, false alarm and miss on stderr
    bool quietWatchOnly = false;  // only how the NearSpeechWatch hears the office, without the recogniser
    double soakHours = 0, silenceMinutes = 0;
    std::vector<DetectionSensitivity> levels{DetectionSensitivity::medium};
    std::vector<RecognizerChoice> recognizers{RecognizerChoice::both};
    // Changes to every level's recogniser settings, in the order given.
    std::vector<std::function<void(PocketSphinxOptions&)>> overrides;
    std::optional<double> editsPerLetter; // the level's own unless given
    // The phonetic screens before Whisper to measure in turn, in phone edits a phone (none: off);
    // empty: the level's own.
    std::vector<std::optional<double>> screens;
    // Listened for in every clip besides its own phrases ("민수" in the English corpus): listening
    // in two languages at once.
    std::vector<std::string> addedPhrases;
    // The application itself on the same clips in real time, when its binary is given.
    LiveAppRun liveApp;
    // Each session's settings as far as the command line sets them; the levels add theirs.
    ListeningSettings listening;
};

// Runs every clip of the manifest through every level with every recogniser (or the soak, or only
// the NearSpeechWatch), printing each condition's figures as it goes; returns the report.
QJsonObject runBenchmark(const BenchmarkOptions& options);

} // namespace harkwell::bench
