#include "BenchmarkScoring.h"

#include "detection/AddressCue.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <span>

namespace harkwell::bench {

Score score(const std::vector<Call>& calls, const std::vector<Detection>& detections) {
    Score result;
    result.heard.assign(calls.size(), false);
    for (const auto& detection : detections) {
        bool hit = false;
        for (std::size_t i = 0; i < calls.size() && !hit; ++i) {
            const auto& call = calls[i];
            if (!result.heard[i] && call.phrase == detection.phrase && detection.at >= call.end - earlyTolerance &&
                detection.at <= call.end + hitWindow) {
                result.heard[i] = hit = true;
                result.latencies.push_back(std::max(0.0, detection.at - call.end));
            }
        }
        result.hits.push_back(hit);
    }
    return result;
}

std::vector<double> nearSpeechTimes(const std::vector<std::int16_t>& samples,
                                    const NearSpeechWatch::Settings& settings) {
    NearSpeechWatch watch(settings);
    std::vector<double> lastNearAt;
    double last = neverHeard;
    const auto frame = NearSpeechWatch::frameSamples;
    for (std::size_t at = 0; at < samples.size(); at += frame) {
        if (watch.hearFrame(NearSpeechWatch::levelOf(
                std::span(samples).subspan(at, std::min<std::size_t>(frame, samples.size() - at))))) {
            last = static_cast<double>(lastNearAt.size() + 1) / 10;
        }
        lastNearAt.push_back(last);
    }
    return lastNearAt;
}

double lastAt(const std::vector<double>& lastNearAt, double t) {
    if (lastNearAt.empty() || t < 0.1) {
        return neverHeard;
    }
    return lastNearAt[std::min(lastNearAt.size() - 1, static_cast<std::size_t>(t * 10) - 1)];
}

double transparencySeconds(const std::vector<double>& falseCalls, double end,
                           const std::function<double(double)>& lastSpeechAt) {
    double total = 0, busyUntil = -1;
    for (const double call : falseCalls) {
        if (call < busyUntil) {
            continue;
        }
        double back = std::min(end, call + noticedAfter);
        if (lastSpeechAt) {
            for (double t = call; t < back; t += 0.1) {
                if (t - std::max(call, lastSpeechAt(t)) >= returnAfterQuiet) {
                    back = t;
                    break;
                }
            }
        }
        total += back - call;
        busyUntil = back;
    }
    return total;
}

std::string addressCueName(const std::string& phrase, const std::vector<Transcript>& transcripts, double at) {
    // The transcript the detection came from: the last one with words by then.
    std::optional<std::size_t> heard;
    for (std::size_t i = 0; i < transcripts.size() && transcripts[i].at <= at; ++i) {
        if (!transcripts[i].text.empty()) {
            heard = i;
        }
    }
    const auto cue = heard ? addressCue(transcripts[*heard].text, phrase) : std::nullopt;
    // Before a pause only when the utterance ended right there.
    if (!cue || (cue == AddressCue::beforePause &&
                 (*heard + 1 >= transcripts.size() || !transcripts[*heard + 1].text.empty()))) {
        return "none";
    }
    switch (*cue) {
    case AddressCue::utteranceStart:
        return "start";
    case AddressCue::afterGreeting:
        return "greeting";
    case AddressCue::afterYou:
        return "you";
    case AddressCue::beforePause:
        return "pause";
    }
    return "none";
}

Score tallyClip(const Clip& clip, const std::vector<Detection>& detections, const std::vector<Transcript>& transcripts,
                const std::vector<double>& lastNearAt, double end, Tally& tally) {
    auto result = score(clip.calls, detections);
    tally.clips += 1;
    tally.audioSeconds += end;
    tally.calls += static_cast<int>(clip.calls.size());
    tally.latencies.insert(tally.latencies.end(), result.latencies.begin(), result.latencies.end());
    std::vector<double> falseCalls;
    for (std::size_t d = 0; d < detections.size(); ++d) {
        const auto& detection = detections[d];
        const auto cue = addressCueName(detection.phrase, transcripts, detection.at);
        const bool near = lastAt(lastNearAt, detection.at) >= detection.at - 2;
        if (result.hits[d]) {
            tally.hits += 1;
            tally.cueHits[cue] += 1;
            tally.nearHits += near;
        } else {
            tally.falseAlarms += 1;
            tally.cueFalseAlarms[cue] += 1;
            tally.nearFalseAlarms += near;
            falseCalls.push_back(detection.at);
        }
    }
    if (clip.nearSpeech.empty()) {
        return result;
    }
    std::vector<double> wordsAt;
    for (const auto& transcript : transcripts) {
        if (!transcript.text.empty()) {
            wordsAt.push_back(transcript.at);
        }
    }
    tally.transparencyOff += transparencySeconds(falseCalls, end, nullptr);
    tally.transparencyNearSpeech +=
        transparencySeconds(falseCalls, end, [&](double t) { return lastAt(lastNearAt, t); });
    tally.transparencyPerfect += transparencySeconds(falseCalls, end, [&](double t) {
        double last = neverHeard;
        for (const auto& [start, stop] : clip.nearSpeech) {
            if (start <= t) {
                last = std::min(stop, t);
            }
        }
        return last;
    });
    tally.transparencyDecoder += transparencySeconds(falseCalls, end, [&](double t) {
        const auto after = std::upper_bound(wordsAt.begin(), wordsAt.end(), t);
        return after == wordsAt.begin() ? neverHeard : *(after - 1);
    });
    return result;
}

void countQuietWatch(const std::vector<std::pair<double, double>>& nearSpeech, const std::vector<double>& lastNearAt,
                     QuietWatchCount& count) {
    const double end = static_cast<double>(lastNearAt.size()) / 10;
    for (std::size_t i = 0; i < nearSpeech.size(); ++i) {
        const auto [start, stop] = nearSpeech[i];
        ++count.utterances;
        count.noticed += lastAt(lastNearAt, stop + 0.3) >= start;
        const double next = i + 1 < nearSpeech.size() ? nearSpeech[i + 1].first : end;
        if (next - stop < returnAfterQuiet + 2) {
            continue;
        }
        ++count.longPauses;
        for (double t = stop; t < next; t += 0.1) {
            if (t - std::max(stop, lastAt(lastNearAt, t)) >= returnAfterQuiet) {
                ++count.quietSeen;
                count.delays.push_back(t - stop);
                break;
            }
        }
    }
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return NAN;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(std::ceil(p * static_cast<double>(values.size()))) - 1;
    return values[std::min(index, values.size() - 1)];
}

} // namespace harkwell::bench
