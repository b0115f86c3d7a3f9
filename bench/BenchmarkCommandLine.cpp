#include "BenchmarkCommandLine.h"

#include "speech/AudioFrontEnd.h"

#include <QCommandLineParser>

#include <limits>
#include <map>
#include <stdexcept>

namespace harkwell::bench {

namespace {

constexpr RawValueTable<PocketSphinxSearch, 3> searchNames{{{PocketSphinxSearch::commonWords, "common"},
                                                            {PocketSphinxSearch::languageModel, "lm"},
                                                            {PocketSphinxSearch::keyphrase, "keyphrase"}}};

using Prompt = TwoStageRecognizer::Options::Prompt;
constexpr RawValueTable<Prompt, 3> promptNames{
    {{Prompt::none, "off"}, {Prompt::phrases, "phrases"}, {Prompt::acceptedForms, "forms"}}};

// A value the option does not take.
struct BadValue : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct OptionValue {
    QString name;
    QString text;

    [[noreturn]] void refuse(const std::string& takes) const {
        throw BadValue("--" + name.toStdString() + " takes " + takes + ", not \"" + text.toStdString() + "\"");
    }
    double number() const {
        bool ok = false;
        const double value = text.toDouble(&ok);
        if (!ok) {
            refuse("a number");
        }
        return value;
    }
    int integer(int least = std::numeric_limits<int>::min(), int most = std::numeric_limits<int>::max()) const {
        bool ok = false;
        const int value = text.toInt(&ok);
        if (!ok || value < least || value > most) {
            refuse(least == std::numeric_limits<int>::min() ? std::string("a whole number")
                   : most == std::numeric_limits<int>::max()
                       ? "a whole number from " + std::to_string(least) + " up"
                       : "a whole number from " + std::to_string(least) + " to " + std::to_string(most));
        }
        return value;
    }
    std::size_t count() const { return static_cast<std::size_t>(integer(0)); }
    bool onOff() const {
        if (text != "on" && text != "off") {
            refuse("on or off");
        }
        return text == "on";
    }
};

// Every option: its name, the value's name in the usage (empty: a switch) and its description.
struct OptionDescription {
    const char* name;
    const char* valueName;
    const char* description;
};

constexpr OptionDescription optionDescriptions[]{
    {"realtime", "", "Feed the audio at real-time pace, dropping Whisper windows as the application does."},
    {"report", "FILE", "Write the JSON report to FILE instead of stdout."},
    {"soak-hours", "H", "Run H hours of the corpus through one session: memory and CPU."},
    {"silence-minutes", "M", "Also listen to M minutes of a quiet room: the cost of listening."},
    {"live-app", "BINARY",
     "Also run the application (the harkwell executable) on the clips, in real time on a private sound server: "
     "its CPU and memory."},
    {"live-minutes", "M", "How long the application listens (10)."},
    {"condition", "NAME", "Only the clips of this condition."},
    {"verbose", "", "Each hit, false alarm and miss on stderr."},
    {"sensitivity", "low|medium|high|all", "The level or levels to measure (medium)."},
    {"search", "common|keyphrase|lm", "PocketSphinx's search."},
    {"common-words", "N", "How many of the most common words the vocabulary holds."},
    {"phrase-probability", "LOG10", "The probability (log10) of each call phrase's words."},
    {"threshold", "T", "Keyphrase threshold per phone, as a power of ten."},
    {"language-weight", "W", "The language model's weight in the first pass."},
    {"held-back-words", "N", "Words partial results hold back."},
    {"front-end", "speex|webrtc|none", "What cleans the audio before the recogniser."},
    {"noise-suppression", "DB", "Speex's noise suppression (0: no front end)."},
    {"webrtc-level", "0-3", "WebRTC's noise suppression level."},
    {"webrtc-gain-control", "on|off", "WebRTC's adaptive gain control."},
    {"quiet-margin", "DB", "The NearSpeechWatch's margin over the room."},
    {"quiet-frames", "N", "Near frames the NearSpeechWatch needs."},
    {"quiet-watch-only", "", "Only how the NearSpeechWatch hears the office, without the recogniser."},
    {"require-address", "on|off", "Report only calls said as an address (the level's choice otherwise)."},
    {"require-near-speech", "on|off", "Report only calls after near speech (on)."},
    {"recognizer", "pocketsphinx|whisper|both[,...]", "The recogniser or recognisers to measure (both)."},
    {"whisper-model", "FILE", "The Whisper model (the installed one)."},
    {"whisper-prompt", "phrases|forms|off",
     "Give Whisper the call phrases (phrases), also their accepted forms (forms: the Korean 민수야, 민수 씨), or "
     "nothing as a prompt."},
    {"edits-per-letter", "E", "How far Whisper's unprompted spelling may be from a phrase."},
    {"screen", "off|E[,...]",
     "The phonetic screen before Whisper, in phone edits a phone, or off; a list measures each in turn (the "
     "level's own)."},
    {"no-speech-threshold", "P", "Whisper's no-speech probability above which a window is dropped."},
    {"add-phrases", "PHRASE[,...]",
     "Listen for these phrases in every clip besides its own (repeatable): \"민수,James\" listens in both "
     "languages."},
};

void describe(QCommandLineParser& parser) {
    parser.setApplicationDescription("Runs every clip of a manifest through the real detector and reports recall, "
                                     "false alarms per hour, latency, CPU and memory per condition.");
    parser.addHelpOption();
    parser.addPositionalArgument("manifest", "The corpus: one JSON object a line.", "MANIFEST.jsonl");
    for (const auto& option : optionDescriptions) {
        parser.addOption(QCommandLineOption(option.name, option.description, option.valueName));
    }
}

// Applies one option's value to the options.
void apply(const OptionValue& option, BenchmarkOptions& options) {
    const auto& name = option.name;
    const auto text = option.text.toStdString();
    auto& listening = options.listening;
    const auto change = [&](std::function<void(PocketSphinxOptions&)> what) {
        options.overrides.push_back(std::move(what));
    };
    if (name == "realtime") {
        listening.realtime = true;
    } else if (name == "report") {
        options.reportPath = text;
    } else if (name == "soak-hours") {
        options.soakHours = option.number();
    } else if (name == "silence-minutes") {
        options.silenceMinutes = option.number();
    } else if (name == "live-app") {
        options.liveApp.binary = text;
    } else if (name == "live-minutes") {
        options.liveApp.minutes = option.number();
    } else if (name == "condition") {
        options.condition = text;
    } else if (name == "verbose") {
        options.verbose = true;
    } else if (name == "sensitivity") {
        if (text == "all") {
            options.levels.assign(detectionSensitivities.begin(), detectionSensitivities.end());
        } else if (const auto level = DetectionSensitivity::rawValues.value(text)) {
            options.levels = {*level};
        } else {
            option.refuse("low, medium, high or all");
        }
    } else if (name == "search") {
        const auto search = searchNames.value(text);
        if (!search) {
            option.refuse("common, keyphrase or lm");
        }
        change([search = *search](PocketSphinxOptions& settings) { settings.search = search; });
    } else if (name == "common-words") {
        change([count = option.count()](PocketSphinxOptions& settings) { settings.commonWordCount = count; });
    } else if (name == "phrase-probability") {
        change([p = option.number()](PocketSphinxOptions& settings) { settings.phraseWordLogProbability = p; });
    } else if (name == "threshold") {
        change([t = option.number()](PocketSphinxOptions& settings) { settings.keyphraseThresholdPerPhone = t; });
    } else if (name == "language-weight") {
        change([w = option.number()](PocketSphinxOptions& settings) { settings.languageWeight = w; });
    } else if (name == "held-back-words") {
        change([n = option.count()](PocketSphinxOptions& settings) { settings.heldBackWords = n; });
    } else if (name == "front-end") {
        const auto kind = audioFrontEndKind(text);
        if (!kind) {
            option.refuse("speex, webrtc or none");
        }
        change([kind = *kind](PocketSphinxOptions& settings) { settings.frontEnd.kind = kind; });
    } else if (name == "noise-suppression") {
        change([db = option.integer()](PocketSphinxOptions& settings) {
            settings.frontEnd.speexSuppressionDecibels = db;
            if (db == 0) {
                settings.frontEnd.kind = AudioFrontEndKind::none;
            }
        });
    } else if (name == "webrtc-level") {
        change([level = option.integer(0, 3)](PocketSphinxOptions& settings) {
            settings.frontEnd.webRtcSuppressionLevel = level;
        });
    } else if (name == "webrtc-gain-control") {
        change([on = option.onOff()](PocketSphinxOptions& settings) { settings.frontEnd.webRtcGainControl = on; });
    } else if (name == "quiet-margin") {
        listening.quiet.marginDecibels = option.number();
    } else if (name == "quiet-frames") {
        listening.quiet.nearFrames = option.integer(1);
    } else if (name == "quiet-watch-only") {
        options.quietWatchOnly = true;
    } else if (name == "require-address") {
        listening.requiresAddress = option.onOff();
    } else if (name == "require-near-speech") {
        listening.requiresNearSpeech = option.onOff();
    } else if (name == "recognizer") {
        options.recognizers.clear();
        for (const auto& listed : option.text.split(QLatin1Char(','))) {
            const auto choice = recognizerNames.value(listed.toStdString());
            if (!choice) {
                option.refuse("pocketsphinx, whisper or both, or a list of them");
            }
            options.recognizers.push_back(*choice);
        }
    } else if (name == "whisper-model") {
        options.whisperModelPath = text;
    } else if (name == "whisper-prompt") {
        const auto prompt = promptNames.value(text);
        if (!prompt) {
            option.refuse("forms, phrases or off");
        }
        listening.accurate.prompt = *prompt;
    } else if (name == "edits-per-letter") {
        options.editsPerLetter = option.number();
    } else if (name == "screen") {
        options.screens.clear();
        for (const auto& listed : option.text.split(QLatin1Char(','))) {
            bool isNumber = false;
            const double edits = listed.toDouble(&isNumber);
            if (listed == QStringLiteral("off")) {
                options.screens.emplace_back();
            } else if (isNumber && edits >= 0 && edits < 1) {
                options.screens.emplace_back(edits);
            } else {
                option.refuse("off or phone edits a phone from 0 to 1, or a list of them");
            }
        }
    } else if (name == "no-speech-threshold") {
        listening.accurate.noSpeechThreshold = option.number();
    } else if (name == "add-phrases") {
        const auto added = options.addedPhrases.size();
        for (const auto& listed : option.text.split(QLatin1Char(','))) {
            if (const auto phrase = listed.trimmed(); !phrase.isEmpty()) {
                options.addedPhrases.push_back(phrase.toStdString());
            }
        }
        if (options.addedPhrases.size() == added) {
            option.refuse("phrases separated by commas");
        }
    }
}

} // namespace

CommandLine readCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    describe(parser);
    CommandLine result;
    result.usage = parser.helpText().toStdString();
    if (!parser.parse(arguments)) {
        result.error = parser.errorText().toStdString();
        return result;
    }
    if (parser.isSet("help")) {
        result.helpRequested = true;
        return result;
    }
    const auto manifests = parser.positionalArguments();
    if (manifests.size() != 1) {
        result.error =
            manifests.empty() ? "a manifest is needed" : "one manifest only, not " + manifests.join(' ').toStdString();
        return result;
    }
    BenchmarkOptions options;
    options.manifest = manifests.front().toStdString();
    // In the order given: the nth time a name appears, its nth value.
    std::map<QString, qsizetype> seen;
    try {
        for (const auto& name : parser.optionNames()) {
            const auto values = parser.values(name);
            const auto index = seen[name]++;
            apply({name, index < values.size() ? values[index] : QString()}, options);
        }
    } catch (const BadValue& error) {
        result.error = error.what();
        return result;
    }
    result.options = std::move(options);
    return result;
}

} // namespace harkwell::bench
