#pragma once

// What the detection benchmark prints as it goes and writes in its JSON report.

#include "BenchmarkScoring.h"

#include "detection/NearSpeechWatch.h"

#include <QJsonObject>

#include <string>
#include <vector>

namespace harkwell::bench {

// One condition's line (and the cue and Transparency lines) on stdout, and its JSON object.
QJsonObject conditionSummary(const std::string& condition, const Tally& tally);

// The NearSpeechWatch's hearing of the office with these settings.
QJsonObject quietWatchSummary(const NearSpeechWatch::Settings& settings, const QuietWatchCount& count);

// Hours of audio through one session.
struct SoakFigures {
    double audioSeconds = 0;
    double residentMegabytesAfterOneMinute = 0, residentMegabytesAtEnd = 0;
    // Read at the end of each minute of audio. A reading depends on whether Whisper's working memory
    // (up to 100 MB) is held at that moment; the lowest of ten minutes is the memory kept between.
    std::vector<double> residentMegabytesEachMinute;
    std::size_t detections = 0;
    double cpuSecondsPerAudioSecond = 0;
    std::vector<std::string> errors;
};
QJsonObject soakSummary(const SoakFigures& figures);

// Minutes of a quiet room through one session.
QJsonObject silenceSummary(double minutes, double cpuSecondsPerAudioSecond, std::size_t detections);

// The report as indented JSON: to the file at `path`, or to stdout when it is empty. Throws
// std::runtime_error when the file cannot be written.
void writeReport(const QJsonObject& report, const std::string& path);

} // namespace harkwell::bench
