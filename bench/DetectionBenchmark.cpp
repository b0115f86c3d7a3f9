// How well Harkwell hears: runs every clip of a manifest through the real detector (recogniser,
// gating and matching; only the microphone is replaced by the clip) and reports recall, false
// alarms per hour, latency, CPU and memory per condition. See README.md, "The detection benchmark".
//
//   detection_benchmark bench/corpus/manifest.jsonl [--realtime] [--report FILE] [--soak-hours H]
//       [--condition NAME] [--silence-minutes M] [--verbose] [--sensitivity low|medium|high|all]
//       [--search common|keyphrase|lm] [--common-words N] [--phrase-probability LOG10] [--threshold T]
//       [--language-weight W] [--held-back-words N] [--front-end speex|webrtc|none]
//       [--noise-suppression DB] [--webrtc-level 0-3] [--webrtc-gain-control on|off]
//       [--quiet-margin DB] [--quiet-frames N] [--quiet-watch-only] [--require-address on|off]
//       [--require-near-speech on|off] [--recognizer pocketsphinx|whisper|both[,...]]
//       [--whisper-model FILE] [--whisper-prompt on|off] [--no-speech-threshold P]
#include "audio/FileAudioCapture.h"

#include "core/SystemPermissionService.h"
#include "detection/AddressCue.h"
#include "detection/NearSpeechWatch.h"
#include "detection/WakePhraseDetector.h"
#include "matching/WakePhraseMatching.h"
#include "speech/PocketSphinxRecognizer.h"
#include "speech/TwoStageRecognizer.h"
#include "speech/WhisperModel.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <sys/resource.h>

namespace harkwell::bench {
namespace {

constexpr double sampleRate = 16000;
// Silence after each clip, so that a call at its very end has its full 2 s to be reported.
constexpr double trailingSilence = 2.5;
constexpr double hitWindow = 2.0;
// Labels come from synthesized phrase boundaries; a report this much before the end still counts.
constexpr double earlyTolerance = 0.3;

struct Call {
    std::string phrase;
    double end = 0;
};

struct Clip {
    std::vector<std::pair<double, double>> nearSpeech; // office: when a near talker speaks
    std::string audio;
    AppLocale locale = AppLocale::english;
    std::vector<std::string> phrases;
    std::vector<Call> calls;
    std::string condition;
};

struct Detection {
    std::string phrase;
    double at = 0; // seconds of audio delivered when it was reported
};

// A transcript as the recogniser delivered it, with the audio handed over by then.
struct Transcript {
    std::string text;
    double at = 0;
};

// A false call keeps the AirPods in Transparency until the user notices and switches back by hand.
constexpr double noticedAfter = 120;
constexpr double returnAfterQuiet = 30;

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

struct Settings {
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

const std::map<std::string, RecognizerChoice> recognizerNames{{"pocketsphinx", RecognizerChoice::pocketSphinx},
                                                              {"whisper", RecognizerChoice::whisper},
                                                              {"both", RecognizerChoice::both}};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double peakResidentMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double residentMegabytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024.0;
        }
    }
    return 0;
}

std::vector<Clip> readManifest(const std::string& path) {
    std::ifstream file(path);
    if (!file) {
        throw std::runtime_error(path + ": cannot be read");
    }
    const auto folder = QFileInfo(QString::fromStdString(path)).absolutePath();
    std::vector<Clip> clips;
    int lineNumber = 0;
    for (std::string line; std::getline(file, line);) {
        ++lineNumber;
        if (line.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        QJsonParseError error{};
        const auto object = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).object();
        const auto where = path + ":" + std::to_string(lineNumber) + ": ";
        if (error.error != QJsonParseError::NoError || !object.value("audio").isString() ||
            !object.value("phrases").isArray()) {
            throw std::runtime_error(where + "expected {\"audio\": ..., \"phrases\": [...], \"calls\": [...]}");
        }
        Clip clip;
        for (const auto& span : object.value("nearSpeech").toArray()) {
            clip.nearSpeech.emplace_back(span.toArray().at(0).toDouble(), span.toArray().at(1).toDouble());
        }
        const auto audio = object.value("audio").toString();
        clip.audio = (QFileInfo(audio).isAbsolute() ? audio : folder + "/" + audio).toStdString();
        const auto localeValue = object.value("locale");
        const auto locale = localeValue.isUndefined() ? std::optional<AppLocale>(AppLocale::english)
                                                      : AppLocale::fromRawValue(localeValue.toString().toStdString());
        if (!locale) {
            throw std::runtime_error(where + "\"locale\" must be \"en-US\" or \"ko-KR\"");
        }
        clip.locale = *locale;
        for (const auto& phrase : object.value("phrases").toArray()) {
            clip.phrases.push_back(phrase.toString().toStdString());
        }
        for (const auto& call : object.value("calls").toArray()) {
            const auto callObject = call.toObject();
            if (!callObject.value("phrase").isString() || !callObject.value("end").isDouble()) {
                throw std::runtime_error(where + "each call needs \"phrase\" and \"end\" (seconds)");
            }
            clip.calls.push_back(
                {callObject.value("phrase").toString().toStdString(), callObject.value("end").toDouble()});
        }
        clip.condition = object.value("condition").toString(clip.calls.empty() ? "negative" : "calls").toStdString();
        clips.push_back(std::move(clip));
    }
    return clips;
}

// The recogniser, with every transcript it delivers noted down on the way to the detector.
class NotingRecognizer final : public SpeechRecognizer {
public:
    NotingRecognizer(std::unique_ptr<SpeechRecognizer> recognizer, std::function<void(const std::string&)> note)
        : recognizer_(std::move(recognizer)), note_(std::move(note)) {}
    bool isAvailable() const override { return recognizer_->isAvailable(); }
    bool supportsOnDeviceRecognition() const override { return recognizer_->supportsOnDeviceRecognition(); }
    std::shared_ptr<RecognitionRequest> makeRequest(const std::vector<std::string>& contextualStrings) override {
        return recognizer_->makeRequest(contextualStrings);
    }
    std::unique_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                     ResultHandler handler) override {
        return recognizer_->recognitionTask(
            std::move(request), [note = note_, handler = std::move(handler)](const RecognitionEvent& event) {
                if (event.transcript) {
                    note(*event.transcript);
                }
                handler(event);
            });
    }

private:
    std::unique_ptr<SpeechRecognizer> recognizer_;
    std::function<void(const std::string&)> note_;
};

WakePhraseDetector::Platform platformFor(const Settings& settings, FileAudioCaptureDevices::Source source,
                                         std::function<void(const std::string&)> note) {
    auto accurate = settings.accurate;
    // Audio from a file waits for Whisper, so that no window is dropped for the benchmark's pace;
    // at real-time pace it is dropped as in the application.
    accurate.waitForTranscription = !settings.realtime;
    return {[recognizers =
                 listeningRecognizerFactory(settings.options, accurate, settings.transcriber, settings.recognizer),
             note = std::move(note)](AppLocale locale) -> std::unique_ptr<SpeechRecognizer> {
                auto recognizer = recognizers(locale);
                if (!recognizer) {
                    return nullptr;
                }
                return std::make_unique<NotingRecognizer>(std::move(recognizer), note);
            },
            std::make_shared<FileAudioCaptureDevices>(std::move(source)), std::make_shared<SystemPermissionService>()};
}

// Streams samples (then silence) through one listening session; returns the detections (and
// notes every transcript in `transcripts` when given).
std::vector<Detection> listen(const Settings& settings, AppLocale locale, const std::vector<std::string>& phrases,
                              std::function<bool(std::vector<std::int16_t>&)> next, std::vector<std::string>& errors,
                              std::vector<Transcript>* transcripts = nullptr) {
    QEventLoop loop;
    FileAudioCaptureDevices::Source source;
    source.next = std::move(next);
    source.realtime = settings.realtime;
    source.onFinished = [&loop] {
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    };
    const auto fed = source.fedSamples;
    std::vector<Detection> detections;
    WakePhraseDetector detector(locale, platformFor(settings, std::move(source), [&](const std::string& text) {
                                    if (transcripts) {
                                        transcripts->push_back({text, static_cast<double>(fed->load()) / sampleRate});
                                    }
                                }));
    detector.setRequiresAddress(settings.requiresAddress.value_or(false));
    detector.setRequiresNearSpeech(settings.requiresNearSpeech);
    detector.start(
        phrases,
        [&](const std::string& phrase) {
            // The audio handed over so far; at real-time pace the recogniser is never far behind it.
            const double at = static_cast<double>(fed->load()) / sampleRate;
            detections.push_back({phrase, at});
        },
        [&](const Error& error) {
            errors.push_back(error.description());
            loop.quit();
        });
    if (errors.empty()) {
        loop.exec();
    }
    QCoreApplication::processEvents();
    detector.stop();
    return detections;
}

std::function<bool(std::vector<std::int16_t>&)> playing(std::vector<std::int16_t> samples) {
    samples.resize(samples.size() + static_cast<std::size_t>(trailingSilence * sampleRate), 0);
    return [samples = std::move(samples), at = std::size_t{0}](std::vector<std::int16_t>& buffer) mutable {
        if (at >= samples.size()) {
            return false;
        }
        const auto count = std::min<std::size_t>(1600, samples.size() - at);
        buffer.assign(samples.begin() + static_cast<std::ptrdiff_t>(at),
                      samples.begin() + static_cast<std::ptrdiff_t>(at + count));
        at += count;
        return true;
    };
}

bool verbose = false;

// For each 100 ms of the clip, when the NearSpeechWatch last heard near speech (seconds; negative
// before it first did).
std::vector<double> nearSpeechTimes(const std::vector<std::int16_t>& samples,
                                    const NearSpeechWatch::Settings& settings) {
    NearSpeechWatch watch(settings);
    std::vector<double> lastNearAt;
    double last = -1e9;
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
        return -1e9;
    }
    return lastNearAt[std::min(lastNearAt.size() - 1, static_cast<std::size_t>(t * 10) - 1)];
}

// Seconds wrongly in Transparency after the false calls (sorted by time): a call while the
// AirPods are in Transparency changes nothing; each lasts until the user switches back after
// `noticedAfter`, or earlier when nobody spoke for `returnAfterQuiet` by `lastSpeechAt(t)`.
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

// How the phrase stood in the utterance heard by `at`: "start", "greeting", "you", "pause" or
// "none" (AddressCue).
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

// Scores the detections; returns which of them were hits.
std::vector<bool> score(const Clip& clip, const std::vector<Detection>& detections, Tally& tally) {
    std::vector<bool> used(clip.calls.size(), false), hits;
    for (const auto& detection : detections) {
        bool hit = false;
        for (std::size_t i = 0; i < clip.calls.size() && !hit; ++i) {
            const auto& call = clip.calls[i];
            if (!used[i] && call.phrase == detection.phrase && detection.at >= call.end - earlyTolerance &&
                detection.at <= call.end + hitWindow) {
                used[i] = hit = true;
                tally.latencies.push_back(std::max(0.0, detection.at - call.end));
            }
        }
        hits.push_back(hit);
        tally.hits += hit;
        tally.falseAlarms += !hit;
        if (verbose && hit) {
            std::fprintf(stderr, "hit: %s heard at %.2f s in %s\n", detection.phrase.c_str(), detection.at,
                         clip.audio.c_str());
        }
        if (verbose && !hit) {
            std::fprintf(stderr, "false alarm: %s heard at %.2f s in %s\n", detection.phrase.c_str(), detection.at,
                         clip.audio.c_str());
        }
    }
    for (std::size_t i = 0; verbose && i < clip.calls.size(); ++i) {
        if (!used[i]) {
            std::fprintf(stderr, "missed: %s ending at %.2f s in %s\n", clip.calls[i].phrase.c_str(), clip.calls[i].end,
                         clip.audio.c_str());
        }
    }
    return hits;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return NAN;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(std::ceil(p * static_cast<double>(values.size()))) - 1;
    return values[std::min(index, values.size() - 1)];
}

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

QJsonObject summary(const std::string& condition, const Tally& tally) {
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

// How the NearSpeechWatch hears the office: near utterances it noticed, and in pauses long enough for
// a return, whether and when it saw the quiet (distant chatter must not hide it).
QJsonObject quietWatchReport(const std::vector<Clip>& clips, const NearSpeechWatch::Settings& settings) {
    int utterances = 0, noticed = 0, longPauses = 0, quietSeen = 0;
    std::vector<double> delays;
    for (const auto& clip : clips) {
        if (clip.nearSpeech.empty()) {
            continue;
        }
        const auto lastNearAt = nearSpeechTimes(readWave(clip.audio), settings);
        const double end = static_cast<double>(lastNearAt.size()) / 10;
        for (std::size_t i = 0; i < clip.nearSpeech.size(); ++i) {
            const auto [start, stop] = clip.nearSpeech[i];
            ++utterances;
            noticed += lastAt(lastNearAt, stop + 0.3) >= start;
            const double next = i + 1 < clip.nearSpeech.size() ? clip.nearSpeech[i + 1].first : end;
            if (next - stop < returnAfterQuiet + 2) {
                continue;
            }
            ++longPauses;
            for (double t = stop; t < next; t += 0.1) {
                if (t - std::max(stop, lastAt(lastNearAt, t)) >= returnAfterQuiet) {
                    ++quietSeen;
                    delays.push_back(t - stop);
                    break;
                }
            }
        }
    }
    std::printf(
        "near-speech watch (margin %.0f dB, %d frames): noticed %d of %d near utterances; quiet seen in %d of %d "
        "pauses over %.0f s, %.1f s after the utterance (p95 %.1f s)\n",
        settings.marginDecibels, settings.nearFrames, noticed, utterances, quietSeen, longPauses, returnAfterQuiet + 2,
        percentile(delays, 0.5), percentile(delays, 0.95));
    return {{"marginDecibels", settings.marginDecibels},
            {"nearFrames", settings.nearFrames},
            {"nearUtterances", utterances},
            {"noticed", noticed},
            {"longPauses", longPauses},
            {"quietSeen", quietSeen},
            {"returnDelayP50", delays.empty() ? QJsonValue() : percentile(delays, 0.5)}};
}

// Hours of the corpus's audio, clip after clip with pauses, through one session.
QJsonObject soak(const Settings& settings, const std::vector<Clip>& clips, double hours) {
    std::vector<std::vector<std::int16_t>> audio;
    std::vector<std::string> phrases;
    for (const auto& clip : clips) {
        audio.push_back(readWave(clip.audio));
        for (const auto& phrase : clip.phrases) {
            if (std::find(phrases.begin(), phrases.end(), phrase) == phrases.end()) {
                phrases.push_back(phrase);
            }
        }
    }
    const auto totalSamples = static_cast<std::uint64_t>(hours * 3600 * sampleRate);
    std::uint64_t delivered = 0;
    std::size_t clipIndex = 0, at = 0;
    double startResident = 0;
    const auto gap = static_cast<std::size_t>(3 * sampleRate);
    std::vector<std::string> errors;
    const double cpuBefore = cpuSeconds();
    const auto detections = listen(
        settings, AppLocale::english, phrases,
        [&](std::vector<std::int16_t>& buffer) {
            if (delivered >= totalSamples) {
                return false;
            }
            if (delivered == 16000 * 60) {
                startResident = residentMegabytes(); // after a minute: the model is loaded
            }
            const auto& samples = audio[clipIndex];
            buffer.assign(1600, 0);
            for (auto& sample : buffer) {
                sample = at < samples.size() ? samples[at] : 0;
                if (++at >= samples.size() + gap) {
                    at = 0;
                    clipIndex = (clipIndex + 1) % audio.size();
                }
            }
            delivered += buffer.size();
            return true;
        },
        errors);
    const double audioSeconds = static_cast<double>(delivered) / sampleRate;
    QJsonObject object{{"soakHours", audioSeconds / 3600},
                       {"residentMegabytesAfterOneMinute", startResident},
                       {"residentMegabytesAtEnd", residentMegabytes()},
                       {"detections", static_cast<int>(detections.size())},
                       {"cpuSecondsPerAudioSecond", (cpuSeconds() - cpuBefore) / audioSeconds},
                       {"errors", static_cast<int>(errors.size())}};
    std::printf(
        "soak       %.2f h in one session: resident %.1f MB after a minute, %.1f MB at the end; %zu detections; "
        "CPU %.2f%% of a core%s\n",
        audioSeconds / 3600, startResident, residentMegabytes(), detections.size(),
        100 * (cpuSeconds() - cpuBefore) / audioSeconds, errors.empty() ? "" : (" ERROR " + errors[0]).c_str());
    return object;
}

// Minutes of a quiet room (faint noise, no speech) through one session: the cost of listening.
QJsonObject silence(const Settings& settings, double minutes) {
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0, 20); // about -64 dBFS
    const auto totalSamples = static_cast<std::uint64_t>(minutes * 60 * sampleRate);
    std::uint64_t delivered = 0;
    std::vector<std::string> errors;
    const double cpuBefore = cpuSeconds();
    const auto detections = listen(
        settings, AppLocale::english, {"James", "Minsu"},
        [&](std::vector<std::int16_t>& buffer) {
            if (delivered >= totalSamples) {
                return false;
            }
            buffer.resize(1600);
            for (auto& sample : buffer) {
                sample = static_cast<std::int16_t>(std::lround(noise(random)));
            }
            delivered += buffer.size();
            return true;
        },
        errors);
    const double audioSeconds = static_cast<double>(delivered) / sampleRate;
    const double cpu = (cpuSeconds() - cpuBefore) / audioSeconds;
    std::printf("silence    %.1f min: CPU %.2f%% of a core, %zu detections\n", minutes, 100 * cpu, detections.size());
    return {{"silenceMinutes", minutes},
            {"cpuSecondsPerAudioSecond", cpu},
            {"falseAlarms", static_cast<int>(detections.size())}};
}

int run(int argc, char** argv) {
    Settings settings;
    std::vector<DetectionSensitivity> levels{DetectionSensitivity::medium};
    std::vector<std::function<void(PocketSphinxOptions&)>> overrides;
    const auto override = [&](std::function<void(PocketSphinxOptions&)> change) { overrides.push_back(change); };
    std::string manifest, reportPath, onlyCondition, modelPath = defaultWhisperModelPath();
    std::vector<RecognizerChoice> recognizers{RecognizerChoice::both};
    std::vector<std::string> recognizerLabels{"both"};
    double soakHours = 0, silenceMinutes = 0;
    std::optional<double> editsPerLetter; // the level's own unless given
    bool quietWatchOnly = false;          // only how the NearSpeechWatch hears the office, without the recogniser
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                throw std::runtime_error(argument + " needs a value");
            }
            return argv[++i];
        };
        if (argument == "--verbose") {
            verbose = true;
        } else if (argument == "--realtime") {
            settings.realtime = true;
        } else if (argument == "--report") {
            reportPath = value();
        } else if (argument == "--soak-hours") {
            soakHours = std::stod(value());
        } else if (argument == "--silence-minutes") {
            silenceMinutes = std::stod(value());
        } else if (argument == "--condition") {
            onlyCondition = value();
        } else if (argument == "--sensitivity") {
            const auto level = value();
            if (level == "all") {
                levels.assign(detectionSensitivities.begin(), detectionSensitivities.end());
            } else if (DetectionSensitivity::fromRawValue(level).rawValue() == level) {
                levels = {DetectionSensitivity::fromRawValue(level)};
            } else {
                throw std::runtime_error("--sensitivity takes low, medium, high or all");
            }
        } else if (argument == "--search") {
            const auto search = value();
            override([search](PocketSphinxOptions& options) {
                options.search = search == "lm"          ? PocketSphinxSearch::languageModel
                                 : search == "keyphrase" ? PocketSphinxSearch::keyphrase
                                                         : PocketSphinxSearch::commonWords;
            });
        } else if (argument == "--common-words") {
            override([count = std::stoul(value())](PocketSphinxOptions& options) { options.commonWordCount = count; });
        } else if (argument == "--phrase-probability") {
            override([p = std::stod(value())](PocketSphinxOptions& options) { options.phraseWordLogProbability = p; });
        } else if (argument == "--held-back-words") {
            override([n = std::stoul(value())](PocketSphinxOptions& options) { options.heldBackWords = n; });
        } else if (argument == "--front-end") {
            const auto kind = audioFrontEndKind(value());
            if (!kind) {
                throw std::runtime_error("--front-end takes speex, webrtc or none");
            }
            override([kind = *kind](PocketSphinxOptions& options) { options.frontEnd.kind = kind; });
        } else if (argument == "--noise-suppression") {
            override([db = std::stoi(value())](PocketSphinxOptions& options) {
                options.frontEnd.speexSuppressionDecibels = db;
                if (db == 0) {
                    options.frontEnd.kind = AudioFrontEndKind::none;
                }
            });
        } else if (argument == "--webrtc-level") {
            override([level = std::stoi(value())](PocketSphinxOptions& options) {
                options.frontEnd.webRtcSuppressionLevel = level;
            });
        } else if (argument == "--webrtc-gain-control") {
            override([on = value() == "on"](PocketSphinxOptions& options) { options.frontEnd.webRtcGainControl = on; });
        } else if (argument == "--language-weight") {
            override([w = std::stod(value())](PocketSphinxOptions& options) { options.languageWeight = w; });
        } else if (argument == "--threshold") {
            override(
                [t = std::stod(value())](PocketSphinxOptions& options) { options.keyphraseThresholdPerPhone = t; });
        } else if (argument == "--require-address") {
            settings.requiresAddress = value() == "on";
        } else if (argument == "--require-near-speech") {
            settings.requiresNearSpeech = value() == "on";
        } else if (argument == "--recognizer") {
            recognizers.clear();
            recognizerLabels.clear();
            for (const auto& name : QString::fromStdString(value()).split(QLatin1Char(','))) {
                const auto found = recognizerNames.find(name.toStdString());
                if (found == recognizerNames.end()) {
                    throw std::runtime_error("--recognizer takes pocketsphinx, whisper or both, or a list of them");
                }
                recognizers.push_back(found->second);
                recognizerLabels.push_back(found->first);
            }
        } else if (argument == "--whisper-model") {
            modelPath = value();
        } else if (argument == "--whisper-prompt") {
            settings.accurate.promptWithPhrases = value() == "on";
        } else if (argument == "--edits-per-letter") {
            editsPerLetter = std::stod(value());
        } else if (argument == "--no-speech-threshold") {
            settings.accurate.noSpeechThreshold = std::stod(value());
        } else if (argument == "--quiet-watch-only") {
            quietWatchOnly = true;
        } else if (argument == "--quiet-margin") {
            settings.quiet.marginDecibels = std::stod(value());
        } else if (argument == "--quiet-frames") {
            settings.quiet.nearFrames = std::stoi(value());
        } else if (!argument.empty() && argument[0] != '-' && manifest.empty()) {
            manifest = argument;
        } else {
            throw std::runtime_error("unknown argument " + argument);
        }
    }
    if (manifest.empty()) {
        throw std::runtime_error(
            "usage: detection_benchmark MANIFEST.jsonl [--realtime] [--report FILE] "
            "[--soak-hours H] [--silence-minutes M] [--condition NAME] [--search common|keyphrase|lm] "
            "[--threshold T] [--common-words N] [--phrase-probability LOG10] [--language-weight W] "
            "[--sensitivity low|medium|high|all] [--held-back-words N] [--front-end speex|webrtc|none] "
            "[--noise-suppression DB] [--webrtc-level 0-3] [--webrtc-gain-control on|off] [--quiet-margin DB] "
            "[--quiet-frames N] [--quiet-watch-only] [--require-address on|off] [--require-near-speech on|off] "
            "[--recognizer pocketsphinx|whisper|both[,...]] [--whisper-model FILE] [--whisper-prompt on|off] "
            "[--no-speech-threshold P] [--edits-per-letter E] [--verbose]");
    }
    auto clips = readManifest(manifest);
    if (!onlyCondition.empty()) {
        std::erase_if(clips, [&](const Clip& clip) { return clip.condition != onlyCondition; });
    }
    QJsonObject report{{"manifest", QString::fromStdString(manifest)}, {"realtime", settings.realtime}};
    if (std::any_of(recognizers.begin(), recognizers.end(),
                    [](RecognizerChoice choice) { return choice != RecognizerChoice::pocketSphinx; })) {
        const auto start = std::chrono::steady_clock::now();
        settings.transcriber = loadWhisperTranscriber(modelPath);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("model %s loaded in %.2f s\n", modelPath.c_str(), seconds);
        report.insert("modelLoadSeconds", seconds);
        report.insert("model", QString::fromStdString(modelPath));
    }
    // Every level's settings with every recogniser, the options given on the command line on top.
    std::vector<Settings> levelSettings;
    for (const auto level : levels) {
        for (std::size_t r = 0; r < recognizers.size(); ++r) {
            auto& ours = levelSettings.emplace_back(settings);
            ours.options = pocketSphinxOptionsFor(level);
            for (const auto& change : overrides) {
                change(ours.options);
            }
            const auto accurate = twoStageOptionsFor(level);
            ours.accurate.windows = accurate.windows;
            ours.accurate.queueCapacity = accurate.queueCapacity;
            ours.accurate.editsPerLetter = editsPerLetter.value_or(accurate.editsPerLetter);
            ours.recognizer = recognizers[r];
            ours.requiresAddress = settings.requiresAddress.value_or(level == DetectionSensitivity::low);
            ours.name = std::string(level.rawValue()) + ", " + recognizerLabels[r];
        }
    }
    if (soakHours > 0) {
        report.insert("soak", soak(levelSettings.front(), clips, soakHours));
    } else if (quietWatchOnly) {
        QJsonArray watches;
        for (const int frames : {1, 2, 3}) {
            for (const double margin : {6.0, 8.0, 10.0, 12.0, 15.0}) {
                auto quiet = settings.quiet;
                quiet.marginDecibels = margin;
                quiet.nearFrames = frames;
                watches.append(quietWatchReport(clips, quiet));
            }
        }
        report.insert("quietWatch", watches);
    } else {
        // Clip by clip, every level in turn: the levels share the machine's load alike.
        std::vector<std::map<std::string, Tally>> tallies(levelSettings.size());
        std::vector<std::string> order;
        for (const auto& clip : clips) {
            if (std::find(order.begin(), order.end(), clip.condition) == order.end()) {
                order.push_back(clip.condition);
            }
            auto samples = readWave(clip.audio);
            const auto lastNearAt = nearSpeechTimes(samples, settings.quiet);
            const double end = static_cast<double>(samples.size()) / sampleRate + trailingSilence;
            for (std::size_t l = 0; l < levelSettings.size(); ++l) {
                auto& tally = tallies[l][clip.condition];
                std::vector<std::string> errors;
                std::vector<Transcript> transcripts;
                const double cpuBefore = cpuSeconds();
                const auto detections =
                    listen(levelSettings[l], clip.locale, clip.phrases, playing(samples), errors, &transcripts);
                tally.cpuSeconds += cpuSeconds() - cpuBefore;
                tally.audioSeconds += end;
                tally.clips += 1;
                tally.calls += static_cast<int>(clip.calls.size());
                tally.errors += static_cast<int>(errors.size());
                for (const auto& error : errors) {
                    std::fprintf(stderr, "%s: %s\n", clip.audio.c_str(), error.c_str());
                }
                const auto hits = score(clip, detections, tally);
                std::vector<double> falseCalls;
                for (std::size_t d = 0; d < detections.size(); ++d) {
                    const auto& detection = detections[d];
                    const auto cue = addressCueName(detection.phrase, transcripts, detection.at);
                    if (verbose) {
                        std::string heard;
                        for (const auto& transcript : transcripts) {
                            heard += "[" + transcript.text + "@" + std::to_string(transcript.at).substr(0, 4) + "] ";
                        }
                        std::fprintf(stderr, "  %s at %.2f s, address cue %s: %s\n", detection.phrase.c_str(),
                                     detection.at, cue.c_str(), heard.c_str());
                    }
                    const bool near = lastAt(lastNearAt, detection.at) >= detection.at - 2;
                    if (hits[d]) {
                        tally.cueHits[cue] += 1;
                        tally.nearHits += near;
                    } else {
                        tally.cueFalseAlarms[cue] += 1;
                        tally.nearFalseAlarms += near;
                        falseCalls.push_back(detection.at);
                    }
                }
                if (!clip.nearSpeech.empty()) {
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
                        double last = -1e9;
                        for (const auto& [start, stop] : clip.nearSpeech) {
                            if (start <= t) {
                                last = std::min(stop, t);
                            }
                        }
                        return last;
                    });
                    tally.transparencyDecoder += transparencySeconds(falseCalls, end, [&](double t) {
                        const auto after = std::upper_bound(wordsAt.begin(), wordsAt.end(), t);
                        return after == wordsAt.begin() ? -1e9 : *(after - 1);
                    });
                }
            }
        }
        QJsonArray results;
        for (std::size_t l = 0; l < levelSettings.size(); ++l) {
            std::printf("== sensitivity, recogniser: %s\n", levelSettings[l].name.c_str());
            QJsonArray conditions;
            for (const auto& condition : order) {
                if (tallies[l].contains(condition)) {
                    conditions.append(summary(condition, tallies[l][condition]));
                }
            }
            results.append(QJsonObject{{"sensitivity", QString::fromStdString(levelSettings[l].name)},
                                       {"conditions", conditions}});
        }
        report.insert("levels", results);
        QJsonArray watches;
        for (const double margin : {6.0, 8.0, 10.0, 12.0, 15.0}) {
            auto quiet = settings.quiet;
            quiet.marginDecibels = margin;
            if (std::any_of(clips.begin(), clips.end(), [](const Clip& clip) { return !clip.nearSpeech.empty(); })) {
                watches.append(quietWatchReport(clips, quiet));
            }
        }
        report.insert("quietWatch", watches);
    }
    if (silenceMinutes > 0) {
        report.insert("silence", silence(levelSettings.front(), silenceMinutes));
    }
    report.insert("peakResidentMegabytes", peakResidentMegabytes());
    std::printf("peak resident memory %.1f MB\n", peakResidentMegabytes());
    const auto json = QJsonDocument(report).toJson();
    if (reportPath.empty()) {
        std::fwrite(json.data(), 1, static_cast<std::size_t>(json.size()), stdout);
    } else {
        QFile file(QString::fromStdString(reportPath));
        if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size()) {
            throw std::runtime_error(reportPath + ": cannot be written");
        }
    }
    return 0;
}

} // namespace
} // namespace harkwell::bench

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    try {
        return harkwell::bench::run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "detection_benchmark: %s\n", error.what());
        return 2;
    }
}
