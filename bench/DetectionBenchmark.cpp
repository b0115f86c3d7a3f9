// How well Harkwell hears: runs every clip of a manifest through the real detector (recogniser,
// gating and matching; only the microphone is replaced by the clip) and reports recall, false
// alarms per hour, latency, CPU and memory per condition. See README.md, "The detection benchmark".
//
//   detection_benchmark bench/corpus/manifest.jsonl [--realtime] [--report FILE] [--soak-hours H]
//       [--condition NAME] [--silence-minutes M] [--verbose]
//       [--search common|keyphrase|lm] [--common-words N] [--phrase-probability LOG10] [--threshold T]
//       [--language-weight W] [--noise-suppression DB]
#include "audio/FileAudioCapture.h"

#include "core/SystemPermissionService.h"
#include "detection/WakePhraseDetector.h"
#include "speech/PocketSphinxRecognizer.h"

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

struct Tally {
    int clips = 0, calls = 0, hits = 0, falseAlarms = 0, errors = 0;
    double audioSeconds = 0, cpuSeconds = 0;
    std::vector<double> latencies;
};

struct Settings {
    bool realtime = false;
    PocketSphinxOptions options;
};

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

WakePhraseDetector::Platform platformFor(const Settings& settings, FileAudioCaptureDevices::Source source) {
    return {[options = settings.options](AppLocale locale) -> std::unique_ptr<SpeechRecognizer> {
                if (locale != AppLocale::english) {
                    return nullptr;
                }
                return std::make_unique<PocketSphinxRecognizer>(locale, PocketSphinxModel::englishUS(), options);
            },
            std::make_shared<FileAudioCaptureDevices>(std::move(source)), std::make_shared<SystemPermissionService>()};
}

// Streams samples (then silence) through one listening session; returns the detections.
std::vector<Detection> listen(const Settings& settings, AppLocale locale, const std::vector<std::string>& phrases,
                              std::function<bool(std::vector<std::int16_t>&)> next, std::vector<std::string>& errors) {
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
    WakePhraseDetector detector(locale, platformFor(settings, std::move(source)));
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

void score(const Clip& clip, const std::vector<Detection>& detections, Tally& tally) {
    std::vector<bool> used(clip.calls.size(), false);
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
        tally.hits += hit;
        tally.falseAlarms += !hit;
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
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return NAN;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(std::ceil(p * static_cast<double>(values.size()))) - 1;
    return values[std::min(index, values.size() - 1)];
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
    };
    std::printf(
        "%-10s clips %4d  recall %6s  false alarms %3d (%6.2f/h over %.2f h)  latency p50 %5.2f s p95 %5.2f s  "
        "CPU %5.2f%% of a core\n",
        condition.c_str(), tally.clips,
        tally.calls ? QString::number(100.0 * tally.hits / tally.calls, 'f', 1).append('%').toUtf8().constData() : "-",
        tally.falseAlarms, hours > 0 ? tally.falseAlarms / hours : 0.0, hours, percentile(tally.latencies, 0.5),
        percentile(tally.latencies, 0.95), tally.audioSeconds > 0 ? 100 * tally.cpuSeconds / tally.audioSeconds : 0.0);
    std::fflush(stdout);
    return object;
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
    std::string manifest, reportPath, onlyCondition;
    double soakHours = 0, silenceMinutes = 0;
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
        } else if (argument == "--search") {
            const auto search = value();
            settings.options.search = search == "lm"          ? PocketSphinxSearch::languageModel
                                      : search == "keyphrase" ? PocketSphinxSearch::keyphrase
                                                              : PocketSphinxSearch::commonWords;
        } else if (argument == "--common-words") {
            settings.options.commonWordCount = std::stoul(value());
        } else if (argument == "--phrase-probability") {
            settings.options.phraseWordLogProbability = std::stod(value());
        } else if (argument == "--noise-suppression") {
            settings.options.noiseSuppressionDecibels = std::stoi(value());
        } else if (argument == "--language-weight") {
            settings.options.languageWeight = std::stod(value());
        } else if (argument == "--threshold") {
            settings.options.keyphraseThresholdPerPhone = std::stod(value());
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
            "[--noise-suppression DB] [--verbose]");
    }
    auto clips = readManifest(manifest);
    if (!onlyCondition.empty()) {
        std::erase_if(clips, [&](const Clip& clip) { return clip.condition != onlyCondition; });
    }
    QJsonObject report{{"manifest", QString::fromStdString(manifest)}, {"realtime", settings.realtime}};
    if (soakHours > 0) {
        report.insert("soak", soak(settings, clips, soakHours));
    } else {
        std::map<std::string, Tally> tallies;
        std::vector<std::string> order;
        for (const auto& clip : clips) {
            if (!tallies.contains(clip.condition)) {
                order.push_back(clip.condition);
            }
            auto& tally = tallies[clip.condition];
            const auto samples = readWave(clip.audio);
            std::vector<std::string> errors;
            const double cpuBefore = cpuSeconds();
            const auto detections = listen(settings, clip.locale, clip.phrases, playing(samples), errors);
            tally.cpuSeconds += cpuSeconds() - cpuBefore;
            tally.audioSeconds += static_cast<double>(samples.size()) / sampleRate + trailingSilence;
            tally.clips += 1;
            tally.calls += static_cast<int>(clip.calls.size());
            tally.errors += static_cast<int>(errors.size());
            for (const auto& error : errors) {
                std::fprintf(stderr, "%s: %s\n", clip.audio.c_str(), error.c_str());
            }
            score(clip, detections, tally);
        }
        QJsonArray conditions;
        for (const auto& condition : order) {
            conditions.append(summary(condition, tallies[condition]));
        }
        report.insert("conditions", conditions);
    }
    if (silenceMinutes > 0) {
        report.insert("silence", silence(settings, silenceMinutes));
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
