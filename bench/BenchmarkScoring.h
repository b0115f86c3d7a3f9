#pragma once

// How the detection benchmark scores what the detector reported against the corpus's labels.
// Pure: no audio, no clock, no output.

#include "BenchmarkCorpus.h"

#include "detection/NearSpeechWatch.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace harkwell::bench {

// A report inside [end - earlyTolerance, end + hitWindow] of a call of its phrase hears that call.
// Labels come from synthesized phrase boundaries: a report slightly before the end still counts.
constexpr double hitWindow = 2.0;
constexpr double earlyTolerance = 0.3;
// A false call keeps the AirPods in Transparency until the user notices and switches back by hand
// (noticedAfter), or with the return after a call, until nobody spoke for returnAfterQuiet.
constexpr double noticedAfter = 120;
constexpr double returnAfterQuiet = 30;
// Before a time with no speech at all.
constexpr double neverHeard = -1e9;

struct Detection {
    std::string phrase;
    double at = 0; // seconds of audio delivered when it was reported
};

// A transcript as the recogniser delivered it, with the audio handed over by then.
struct Transcript {
    std::string text;
    double at = 0;
};

// The figures of one condition, summed over its clips.
struct Tally {
    int clips = 0, calls = 0, hits = 0, falseAlarms = 0, errors = 0;
    double audioSeconds = 0, cpuSeconds = 0;
    std::vector<double> latencies;
    // Candidates for confirming a call, counted over hits and false alarms: the address cue (the
    // phrase opens the utterance or follows "hey", "hi", "excuse me", "sorry"...), and the
    // nearness cue (near speech by the NearSpeechWatch within the 2 s before the report, which the
    // detector requires unless told otherwise).
    std::map<std::string, int> cueHits, cueFalseAlarms;
    int nearHits = 0, nearFalseAlarms = 0;
    // Seconds wrongly in Transparency: with the return off, with a 30 s return on the
    // NearSpeechWatch, and with a 30 s return on the decoder's own hearing of words.
    double transparencyOff = 0, transparencyNearSpeech = 0, transparencyDecoder = 0;
    // The same false calls with a 30 s return on a perfect near-speech watch: the clip's own labels.
    double transparencyPerfect = 0;
};

// Which reports heard a call: each call is heard by one report at most, the first inside its
// window; a report that hears none is a false alarm.
struct Score {
    std::vector<bool> hits;        // a report each
    std::vector<bool> heard;       // a call each
    std::vector<double> latencies; // a hit each: seconds after the call's end, never negative
};
Score score(const std::vector<Call>& calls, const std::vector<Detection>& detections);

// For each 100 ms of the samples, when the NearSpeechWatch last heard near speech (seconds;
// neverHeard before it first did).
std::vector<double> nearSpeechTimes(const std::vector<std::int16_t>& samples,
                                    const NearSpeechWatch::Settings& settings);
// The last near speech by `t` in such a timeline.
double lastAt(const std::vector<double>& lastNearAt, double t);

// Seconds wrongly in Transparency after the false calls (sorted by time) in audio ending at `end`:
// a call while the AirPods are in Transparency changes nothing; each lasts until the user switches
// back after noticedAfter, or earlier when nobody spoke for returnAfterQuiet by `lastSpeechAt(t)`
// (none: the return is off).
double transparencySeconds(const std::vector<double>& falseCalls, double end,
                           const std::function<double(double)>& lastSpeechAt);

// How the phrase stood in the utterance heard by `at`: "start", "greeting", "you", "pause" or
// "none" (AddressCue).
std::string addressCueName(const std::string& phrase, const std::vector<Transcript>& transcripts, double at);

// The clip's reports counted into its condition's tally: calls, hits and latencies, false alarms,
// the cues, and for a clip with near-speech labels, the time wrongly in Transparency. `end` is
// where the audio delivered ends; lastNearAt is nearSpeechTimes of the clip. Returns the score.
Score tallyClip(const Clip& clip, const std::vector<Detection>& detections, const std::vector<Transcript>& transcripts,
                const std::vector<double>& lastNearAt, double end, Tally& tally);

// How the NearSpeechWatch hears an office: near utterances it noticed, and in the pauses long
// enough for a return, whether and how soon after the utterance it saw the quiet.
struct QuietWatchCount {
    int utterances = 0, noticed = 0, longPauses = 0, quietSeen = 0;
    std::vector<double> delays;
};
void countQuietWatch(const std::vector<std::pair<double, double>>& nearSpeech, const std::vector<double>& lastNearAt,
                     QuietWatchCount& count);

// The value at or above the fraction p of the values (NaN for none).
double percentile(std::vector<double> values, double p);

} // namespace harkwell::bench
