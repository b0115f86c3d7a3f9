#include "BenchmarkReport.h"

#include <QFile>
#include <QJsonDocument>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <map>
#include <stdexcept>

namespace harkwell::bench {

namespace {

QJsonObject cueCounts(const std::map<std::string, int>& counts) {
    QJsonObject object;
    for (const auto& [cue, count] : counts) {
        object.insert(QString::fromStdString(cue), count);
    }
    return object;
}

std::string cueText(const std::map<std::string, int>& counts) {
    std::string text;
    for (const auto& [cue, count] : counts) {
        text += (text.empty() ? "" : " ") + cue + " " + std::to_string(count);
    }
    return text.empty() ? "-" : text;
}

} // namespace

QJsonObject conditionSummary(const std::string& condition, const Tally& tally) {
    const double hours = tally.audioSeconds / 3600;
    QJsonObject object{
        {"condition", QString::fromStdString(condition)},
        {"clips", tally.clips},
        {"calls", tally.calls},
        {"hits", tally.hits},
        {"recall", tally.calls ? static_cast<double>(tally.hits) / tally.calls : QJsonValue()},
        {"falseAlarms", tally.falseAlarms},
        {"audioHours", hours},
        {"falseAlarmsPerHour", hours > 0 ? tally.falseAlarms / hours : 0.0},
        {"latencyP50", tally.latencies.empty() ? QJsonValue() : percentile(tally.latencies, 0.5)},
        {"latencyP95", tally.latencies.empty() ? QJsonValue() : percentile(tally.latencies, 0.95)},
        {"cpuSecondsPerAudioSecond", tally.audioSeconds > 0 ? tally.cpuSeconds / tally.audioSeconds : 0.0},
        {"errors", tally.errors},
        {"addressCueHits", cueCounts(tally.cueHits)},
        {"addressCueFalseAlarms", cueCounts(tally.cueFalseAlarms)},
        {"nearHits", tally.nearHits},
        {"nearFalseAlarms", tally.nearFalseAlarms},
        {"transparencyMinutesPerHourReturnOff", hours > 0 ? tally.transparencyOff / 60 / hours : 0.0},
        {"transparencyMinutesPerHourReturn30NearSpeech", hours > 0 ? tally.transparencyNearSpeech / 60 / hours : 0.0},
        {"transparencyMinutesPerHourReturn30Decoder", hours > 0 ? tally.transparencyDecoder / 60 / hours : 0.0},
        {"transparencyMinutesPerHourReturn30PerfectWatch", hours > 0 ? tally.transparencyPerfect / 60 / hours : 0.0},
    };
    std::printf(
        "%-10s clips %4d  recall %6s  false alarms %3d (%6.2f/h over %.2f h)  latency p50 %5.2f s p95 %5.2f s  "
        "CPU %5.2f%% of a core\n",
        condition.c_str(), tally.clips,
        tally.calls ? QString::number(100.0 * tally.hits / tally.calls, 'f', 1).append('%').toUtf8().constData() : "-",
        tally.falseAlarms, hours > 0 ? tally.falseAlarms / hours : 0.0, hours, percentile(tally.latencies, 0.5),
        percentile(tally.latencies, 0.95), tally.audioSeconds > 0 ? 100 * tally.cpuSeconds / tally.audioSeconds : 0.0);
    std::printf("           address cue of hits %s, of false alarms %s; near speech before %d of %d hits, %d of %d "
                "false alarms\n",
                cueText(tally.cueHits).c_str(), cueText(tally.cueFalseAlarms).c_str(), tally.nearHits, tally.hits,
                tally.nearFalseAlarms, tally.falseAlarms);
    if (tally.transparencyOff > 0) {
        std::printf("           wrongly in Transparency: %.1f min/h with the return off (%.0f s a false call), "
                    "%.1f min/h with a %.0f s return (near speech), %.1f min/h (decoder's words)\n",
                    tally.transparencyOff / 60 / hours, noticedAfter, tally.transparencyNearSpeech / 60 / hours,
                    returnAfterQuiet, tally.transparencyDecoder / 60 / hours);
        std::printf("           a perfect near-speech watch (the clips' labels) would give %.1f min/h with the %.0f s "
                    "return: the watch's figure is %.0f%% over it\n",
                    tally.transparencyPerfect / 60 / hours, returnAfterQuiet,
                    tally.transparencyPerfect > 0
                        ? 100 * (tally.transparencyNearSpeech - tally.transparencyPerfect) / tally.transparencyPerfect
                        : 0.0);
    }
    std::fflush(stdout);
    return object;
}

QJsonObject quietWatchSummary(const NearSpeechWatch::Settings& settings, const QuietWatchCount& count) {
    std::printf(
        "near-speech watch (margin %.0f dB, %d frames): noticed %d of %d near utterances; quiet seen in %d of %d "
        "pauses over %.0f s, %.1f s after the utterance (p95 %.1f s)\n",
        settings.marginDecibels, settings.nearFrames, count.noticed, count.utterances, count.quietSeen,
        count.longPauses, returnAfterQuiet + 2, percentile(count.delays, 0.5), percentile(count.delays, 0.95));
    return {{"marginDecibels", settings.marginDecibels},
            {"nearFrames", settings.nearFrames},
            {"nearUtterances", count.utterances},
            {"noticed", count.noticed},
            {"longPauses", count.longPauses},
            {"quietSeen", count.quietSeen},
            {"returnDelayP50", count.delays.empty() ? QJsonValue() : percentile(count.delays, 0.5)}};
}

QJsonObject soakSummary(const SoakFigures& figures) {
    const auto& minutes = figures.residentMegabytesEachMinute;
    const auto span = std::min<std::ptrdiff_t>(10, std::ssize(minutes));
    const double firstLowest = span ? *std::min_element(minutes.begin(), minutes.begin() + span) : 0;
    const double lastLowest = span ? *std::min_element(minutes.end() - span, minutes.end()) : 0;
    std::printf("soak       %.2f h in one session: resident %.1f MB after a minute, %.1f MB at the end, the lowest of "
                "%td minutes %.1f MB first and %.1f MB last; %zu detections; CPU %.2f%% of a core%s\n",
                figures.audioSeconds / 3600, figures.residentMegabytesAfterOneMinute, figures.residentMegabytesAtEnd,
                span, firstLowest, lastLowest, figures.detections, 100 * figures.cpuSecondsPerAudioSecond,
                figures.errors.empty() ? "" : (" ERROR " + figures.errors[0]).c_str());
    return {{"soakHours", figures.audioSeconds / 3600},
            {"residentMegabytesAfterOneMinute", figures.residentMegabytesAfterOneMinute},
            {"residentMegabytesAtEnd", figures.residentMegabytesAtEnd},
            {"residentMegabytesLowestFirst", firstLowest},
            {"residentMegabytesLowestLast", lastLowest},
            {"detections", static_cast<int>(figures.detections)},
            {"cpuSecondsPerAudioSecond", figures.cpuSecondsPerAudioSecond},
            {"errors", static_cast<int>(figures.errors.size())}};
}

QJsonObject silenceSummary(double minutes, double cpuSecondsPerAudioSecond, std::size_t detections) {
    std::printf("silence    %.1f min: CPU %.2f%% of a core, %zu detections\n", minutes, 100 * cpuSecondsPerAudioSecond,
                detections);
    return {{"silenceMinutes", minutes},
            {"cpuSecondsPerAudioSecond", cpuSecondsPerAudioSecond},
            {"falseAlarms", static_cast<int>(detections)}};
}

void writeReport(const QJsonObject& report, const std::string& path) {
    const auto json = QJsonDocument(report).toJson();
    if (path.empty()) {
        std::fwrite(json.data(), 1, static_cast<std::size_t>(json.size()), stdout);
        return;
    }
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size()) {
        throw std::runtime_error(path + ": cannot be written");
    }
}

} // namespace harkwell::bench
