#include "BenchmarkRunner.h"

#include "BenchmarkCorpus.h"
#include "BenchmarkReport.h"
#include "BenchmarkScoring.h"
#include "LiveAppCost.h"

#include "audio/FileAudioCapture.h"
#include "core/SystemPermissionService.h"
#include "detection/WakePhraseDetector.h"
#include "speech/WhisperModel.h"
#include "speech/WhisperTranscriber.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <malloc.h>
#include <map>
#include <memory>
#include <random>
#include <sys/resource.h>

namespace harkwell::bench {

namespace {

constexpr double sampleRate = 16000;
// Silence after each clip, so that a call at its very end has its full 2 s to be reported.
constexpr double trailingSilence = 2.5;

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

// What the allocator holds: in use (blocks with pages of their own included) and free in its heaps.
// Growth in use is memory kept; growth of the free part is a heap that could not give pages back.
std::pair<double, double> heapMegabytes() {
    const auto info = mallinfo2();
    return {static_cast<double>(info.uordblks + info.hblkhd) / (1024.0 * 1024.0),
            static_cast<double>(info.fordblks) / (1024.0 * 1024.0)};
}

// The recogniser, with every transcript it delivers noted down on the way to the detector.
class NotingRecognizer final : public SpeechRecognizer {
public:
    NotingRecognizer(std::unique_ptr<SpeechRecognizer> recognizer, std::function<void(const std::string&)> note)
        : recognizer_(std::move(recognizer)), note_(std::move(note)) {}
    bool isAvailable() const override { return recognizer_->isAvailable(); }
    bool supportsOnDeviceRecognition() const override { return recognizer_->supportsOnDeviceRecognition(); }
    std::vector<AppLocale> languages() const override { return recognizer_->languages(); }
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

WakePhraseDetector::Platform platformFor(const ListeningSettings& settings, FileAudioCaptureDevices::Source source,
                                         std::function<void(const std::string&)> note) {
    auto accurate = settings.accurate;
    // Audio from a file waits for Whisper, so that no window is dropped for the benchmark's pace;
    // at real-time pace it is dropped as in the application.
    accurate.waitForTranscription = !settings.realtime;
    return {[recognizers =
                 listeningRecognizerFactory(settings.options, accurate, settings.transcriber, settings.recognizer),
             note = std::move(note)](const std::vector<AppLocale>& languages) -> std::unique_ptr<SpeechRecognizer> {
                auto recognizer = recognizers(languages);
                if (!recognizer) {
                    return nullptr;
                }
                return std::make_unique<NotingRecognizer>(std::move(recognizer), note);
            },
            std::make_shared<FileAudioCaptureDevices>(std::move(source)), std::make_shared<SystemPermissionService>()};
}

// The time of the audio handed over so far, for the detector: its cooldown after a call (8 s) and
// its joining of recent text (1.2 s) then span as much audio as in the application, however fast
// the clips are fed. By the wall clock, audio fed six times faster than real time would keep 48 s
// of it from a second detection.
class AudioClock final : public Clock {
public:
    explicit AudioClock(std::shared_ptr<const std::atomic<std::uint64_t>> fed) : fed_(std::move(fed)) {}
    TimePoint now() const override {
        const auto microseconds = fed_->load() * 1'000'000 / static_cast<std::uint64_t>(sampleRate);
        return TimePoint{} + std::chrono::microseconds{microseconds};
    }

private:
    std::shared_ptr<const std::atomic<std::uint64_t>> fed_;
};

// Streams samples (then silence) through one listening session, in the languages of the phrases;
// returns the detections (and notes every transcript in `transcripts` when given).
std::vector<Detection> listen(const ListeningSettings& settings, const std::vector<std::string>& phrases,
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
    WakePhraseDetector detector(
        platformFor(settings, std::move(source),
                    [&](const std::string& text) {
                        if (transcripts) {
                            transcripts->push_back({text, static_cast<double>(fed->load()) / sampleRate});
                        }
                    }),
        std::make_shared<AudioClock>(fed));
    detector.setRequiresAddress(settings.requiresAddress.value_or(false));
    detector.setRequiresNearSpeech(settings.requiresNearSpeech);
    detector.start(
        phrases,
        [&](const std::string& phrase, const std::string& /*heard*/) {
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

void printVerbose(const Clip& clip, const std::vector<Detection>& detections,
                  const std::vector<Transcript>& transcripts, const Score& result) {
    for (std::size_t d = 0; d < detections.size(); ++d) {
        std::fprintf(stderr, "%s: %s heard at %.2f s in %s\n", result.hits[d] ? "hit" : "false alarm",
                     detections[d].phrase.c_str(), detections[d].at, clip.audio.c_str());
    }
    for (std::size_t i = 0; i < clip.calls.size(); ++i) {
        if (!result.heard[i]) {
            std::fprintf(stderr, "missed: %s ending at %.2f s in %s\n", clip.calls[i].phrase.c_str(), clip.calls[i].end,
                         clip.audio.c_str());
        }
    }
    for (const auto& detection : detections) {
        std::string heard;
        for (const auto& transcript : transcripts) {
            heard += "[" + transcript.text + "@" + std::to_string(transcript.at).substr(0, 4) + "] ";
        }
        std::fprintf(stderr, "  %s at %.2f s, address cue %s: %s\n", detection.phrase.c_str(), detection.at,
                     addressCueName(detection.phrase, transcripts, detection.at).c_str(), heard.c_str());
    }
}

// How the NearSpeechWatch hears the office: near utterances it noticed, and in pauses long enough for
// a return, whether and when it saw the quiet (distant chatter must not hide it).
QJsonObject quietWatchReport(const std::vector<Clip>& clips, const NearSpeechWatch::Settings& settings) {
    QuietWatchCount count;
    for (const auto& clip : clips) {
        if (!clip.nearSpeech.empty()) {
            countQuietWatch(clip.nearSpeech, nearSpeechTimes(readWave(clip.audio), settings), count);
        }
    }
    return quietWatchSummary(settings, count);
}

// Long listening goes through the corpus's clips one after the other, 3 s apart, listening for
// every phrase of any of them.
constexpr auto soakGap = static_cast<std::size_t>(3 * sampleRate);

std::vector<std::string> everyPhrase(const std::vector<Clip>& clips) {
    std::vector<std::string> phrases;
    for (const auto& clip : clips) {
        for (const auto& phrase : clip.phrases) {
            if (std::find(phrases.begin(), phrases.end(), phrase) == phrases.end()) {
                phrases.push_back(phrase);
            }
        }
    }
    return phrases;
}

// Hours of the corpus's audio, clip after clip with pauses, through one session.
QJsonObject soak(const ListeningSettings& settings, const std::vector<Clip>& clips, double hours) {
    std::vector<std::vector<std::int16_t>> audio;
    audio.reserve(clips.size());
    for (const auto& clip : clips) {
        audio.push_back(readWave(clip.audio));
    }
    const auto phrases = everyPhrase(clips);
    const auto totalSamples = static_cast<std::uint64_t>(hours * 3600 * sampleRate);
    std::uint64_t delivered = 0;
    std::size_t clipIndex = 0, at = 0;
    SoakFigures figures;
    const auto gap = soakGap;
    const double cpuBefore = cpuSeconds();
    const auto detections = listen(
        settings, phrases,
        [&](std::vector<std::int16_t>& buffer) {
            if (delivered >= totalSamples) {
                return false;
            }
            if (delivered > 0 && delivered % (std::uint64_t{16000} * 60) == 0) {
                figures.residentMegabytesEachMinute.push_back(residentMegabytes());
                if (figures.residentMegabytesEachMinute.size() == 1) {
                    figures.residentMegabytesAfterOneMinute = figures.residentMegabytesEachMinute[0]; // model loaded
                }
                if (figures.residentMegabytesEachMinute.size() % 10 == 0) {
                    const auto [inUse, free] = heapMegabytes();
                    std::fprintf(stderr,
                                 "soak: %zu minutes, resident %.1f MB, allocated %.1f MB, free in the heap %.1f MB\n",
                                 figures.residentMegabytesEachMinute.size(), figures.residentMegabytesEachMinute.back(),
                                 inUse, free);
                }
            }
            const auto& samples = audio[clipIndex];
            buffer.assign(1600, 0);
            for (auto& sample : buffer) {
                sample = at < samples.size() ? samples[at] : std::int16_t{0};
                if (++at >= samples.size() + gap) {
                    at = 0;
                    clipIndex = (clipIndex + 1) % audio.size();
                }
            }
            delivered += buffer.size();
            return true;
        },
        figures.errors);
    figures.audioSeconds = static_cast<double>(delivered) / sampleRate;
    figures.residentMegabytesAtEnd = residentMegabytes();
    figures.detections = detections.size();
    figures.cpuSecondsPerAudioSecond = (cpuSeconds() - cpuBefore) / figures.audioSeconds;
    return soakSummary(figures);
}

// Minutes of a quiet room (faint noise, no speech) through one session: the cost of listening.
QJsonObject silence(const ListeningSettings& settings, double minutes) {
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0, 20); // about -64 dBFS
    const auto totalSamples = static_cast<std::uint64_t>(minutes * 60 * sampleRate);
    std::uint64_t delivered = 0;
    std::vector<std::string> errors;
    const double cpuBefore = cpuSeconds();
    const auto detections = listen(
        settings, {"James", "Minsu"},
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
    return silenceSummary(minutes, (cpuSeconds() - cpuBefore) / audioSeconds, detections.size());
}

// Every level's settings with every recogniser, the options given on the command line on top.
std::vector<ListeningSettings> levelSettings(const BenchmarkOptions& options,
                                             const std::shared_ptr<WhisperTranscriber>& transcriber) {
    std::vector<ListeningSettings> all;
    const auto screens = options.screens.empty() ? std::vector<std::optional<double>>{{}} : options.screens;
    for (const auto level : options.levels) {
        for (const auto recognizer : options.recognizers) {
            for (const auto& screen : screens) {
                auto& ours = all.emplace_back(options.listening);
                ours.transcriber = transcriber;
                ours.options = pocketSphinxOptionsFor(level);
                for (const auto& change : options.overrides) {
                    change(ours.options);
                }
                const auto accurate = twoStageOptionsFor(level);
                ours.accurate.windows = accurate.windows;
                ours.accurate.queueCapacity = accurate.queueCapacity;
                ours.accurate.editsPerLetter = options.editsPerLetter.value_or(accurate.editsPerLetter);
                ours.accurate.promptedTwiceSuffices = accurate.promptedTwiceSuffices;
                ours.recognizer = recognizer;
                ours.requiresAddress = options.listening.requiresAddress.value_or(level == DetectionSensitivity::low);
                ours.accurate.screenEditsPerPhone = accurate.screenEditsPerPhone;
                ours.name = std::string(level.rawValue()) + ", " + std::string(recognizerNames.rawValue(recognizer));
                if (!options.screens.empty()) {
                    ours.accurate.screenEditsPerPhone = screen;
                    ours.name += screen ? ", screen " + QString::number(*screen).toStdString() : ", no screen";
                }
            }
        }
    }
    return all;
}

// Clip by clip, every level in turn (the levels share the machine's load alike); a report entry a
// level with its conditions in the order they first appear.
QJsonArray measureLevels(const BenchmarkOptions& options, const std::vector<ListeningSettings>& levels,
                         const std::vector<Clip>& clips) {
    std::vector<std::map<std::string, Tally>> tallies(levels.size());
    std::vector<std::string> order;
    for (const auto& clip : clips) {
        if (std::find(order.begin(), order.end(), clip.condition) == order.end()) {
            order.push_back(clip.condition);
        }
        auto samples = readWave(clip.audio);
        const auto lastNearAt = nearSpeechTimes(samples, options.listening.quiet);
        const double end = static_cast<double>(samples.size()) / sampleRate + trailingSilence;
        for (std::size_t l = 0; l < levels.size(); ++l) {
            auto& tally = tallies[l][clip.condition];
            std::vector<std::string> errors;
            std::vector<Transcript> transcripts;
            const double cpuBefore = cpuSeconds();
            const auto detections = listen(levels[l], clip.phrases, playing(samples), errors, &transcripts);
            tally.cpuSeconds += cpuSeconds() - cpuBefore;
            tally.errors += static_cast<int>(errors.size());
            for (const auto& error : errors) {
                std::fprintf(stderr, "%s: %s\n", clip.audio.c_str(), error.c_str());
            }
            const auto result = tallyClip(clip, detections, transcripts, lastNearAt, end, tally);
            if (options.verbose) {
                printVerbose(clip, detections, transcripts, result);
            }
        }
    }
    QJsonArray results;
    for (std::size_t l = 0; l < levels.size(); ++l) {
        std::printf("== sensitivity, recogniser: %s\n", levels[l].name.c_str());
        QJsonArray conditions;
        for (const auto& condition : order) {
            if (tallies[l].contains(condition)) {
                conditions.append(conditionSummary(condition, tallies[l][condition]));
            }
        }
        results.append(
            QJsonObject{{"sensitivity", QString::fromStdString(levels[l].name)}, {"conditions", conditions}});
    }
    return results;
}

} // namespace

QJsonObject runBenchmark(const BenchmarkOptions& options) {
    auto clips = readManifest(options.manifest);
    if (!options.condition.empty()) {
        std::erase_if(clips, [&](const Clip& clip) { return clip.condition != options.condition; });
    }
    addPhrases(clips, options.addedPhrases);
    QJsonObject report{{"manifest", QString::fromStdString(options.manifest)},
                       {"realtime", options.listening.realtime}};
    std::shared_ptr<WhisperTranscriber> transcriber;
    if (std::any_of(options.recognizers.begin(), options.recognizers.end(),
                    [](RecognizerChoice choice) { return choice != RecognizerChoice::pocketSphinx; })) {
        const auto modelPath = options.whisperModelPath.empty() ? defaultWhisperModelPath() : options.whisperModelPath;
        const auto start = std::chrono::steady_clock::now();
        transcriber = loadWhisperTranscriber(modelPath);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("model %s loaded in %.2f s\n", modelPath.c_str(), seconds);
        report.insert("modelLoadSeconds", seconds);
        report.insert("model", QString::fromStdString(modelPath));
    }
    const auto levels = levelSettings(options, transcriber);
    const auto& quiet = options.listening.quiet;
    if (options.soakHours > 0) {
        report.insert("soak", soak(levels.front(), clips, options.soakHours));
    } else if (options.quietWatchOnly) {
        QJsonArray watches;
        for (const int frames : {1, 2, 3}) {
            for (const double margin : {6.0, 8.0, 10.0, 12.0, 15.0}) {
                auto watch = quiet;
                watch.marginDecibels = margin;
                watch.nearFrames = frames;
                watches.append(quietWatchReport(clips, watch));
            }
        }
        report.insert("quietWatch", watches);
    } else {
        report.insert("levels", measureLevels(options, levels, clips));
        QJsonArray watches;
        if (std::any_of(clips.begin(), clips.end(), [](const Clip& clip) { return !clip.nearSpeech.empty(); })) {
            for (const double margin : {6.0, 8.0, 10.0, 12.0, 15.0}) {
                auto watch = quiet;
                watch.marginDecibels = margin;
                watches.append(quietWatchReport(clips, watch));
            }
        }
        report.insert("quietWatch", watches);
    }
    if (options.silenceMinutes > 0) {
        report.insert("silence", silence(levels.front(), options.silenceMinutes));
    }
    if (!options.liveApp.binary.empty()) {
        std::vector<std::int16_t> audio;
        for (const auto& clip : clips) {
            const auto samples = readWave(clip.audio);
            audio.insert(audio.end(), samples.begin(), samples.end());
            audio.resize(audio.size() + soakGap, 0);
        }
        auto run = options.liveApp;
        if (run.whisperModel.empty()) {
            run.whisperModel = options.whisperModelPath.empty() ? defaultWhisperModelPath() : options.whisperModelPath;
        }
        report.insert("liveApp", measureLiveApp(run, audio, everyPhrase(clips)));
    }
    report.insert("peakResidentMegabytes", peakResidentMegabytes());
    std::printf("peak resident memory %.1f MB\n", peakResidentMegabytes());
    return report;
}

} // namespace harkwell::bench
