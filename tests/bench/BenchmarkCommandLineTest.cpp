#include "BenchmarkCommandLine.h"
#include "BenchmarkCorpus.h"

#include "speech/AudioFrontEnd.h"

#include <gtest/gtest.h>

namespace harkwell::bench {
namespace {

CommandLine read(QStringList arguments) {
    arguments.prepend("detection_benchmark");
    return readCommandLine(arguments);
}

// The recogniser settings a level ends with once the command line's changes are applied.
PocketSphinxOptions changed(const BenchmarkOptions& options) {
    auto settings = pocketSphinxOptionsFor(DetectionSensitivity::medium);
    for (const auto& change : options.overrides) {
        change(settings);
    }
    return settings;
}

TEST(BenchmarkCommandLineTest, RefusesWhatItDoesNotKnowWithTheUsage) {
    const std::pair<QStringList, const char*> cases[]{
        {{}, "a manifest is needed"},
        {{"a.jsonl", "b.jsonl"}, "one manifest only"},
        {{"m.jsonl", "--serach", "lm"}, "serach"},
        {{"m.jsonl", "--search", "keyphase"}, "--search takes common, keyphrase or lm, not \"keyphase\""},
        {{"m.jsonl", "--recognizer", "pocketsphinx,wisper"}, "--recognizer takes pocketsphinx, whisper or both"},
        {{"m.jsonl", "--recognizer", ""}, "--recognizer takes"},
        {{"m.jsonl", "--sensitivity", "High"}, "--sensitivity takes low, medium, high or all"},
        {{"m.jsonl", "--front-end", "rnnoise"}, "--front-end takes speex, webrtc or none"},
        {{"m.jsonl", "--soak-hours", "3h"}, "--soak-hours takes a number"},
        {{"m.jsonl", "--common-words", "-5"}, "--common-words takes a whole number from 0 up"},
        {{"m.jsonl", "--webrtc-level", "4"}, "--webrtc-level takes a whole number from 0 to 3"},
        {{"m.jsonl", "--quiet-frames", "0"}, "--quiet-frames takes a whole number from 1 up"},
        {{"m.jsonl", "--whisper-prompt", "yes"}, "--whisper-prompt takes forms, phrases or off"},
        {{"m.jsonl", "--report"}, "report"},
        {{"m.jsonl", "--add-phrases", " , "}, "--add-phrases takes phrases separated by commas"},
        {{"m.jsonl", "--screen", "off,1.5"}, "--screen takes off or phone edits a phone from 0 to 1"},
    };
    for (const auto& [arguments, error] : cases) {
        const auto commandLine = read(arguments);
        EXPECT_FALSE(commandLine.options) << arguments.join(' ').toStdString();
        EXPECT_NE(commandLine.error.find(error), std::string::npos) << commandLine.error;
        EXPECT_NE(commandLine.usage.find("--recognizer"), std::string::npos);
    }
}

TEST(BenchmarkCommandLineTest, ReadsEveryOptionsValue) {
    const auto commandLine =
        read(QString("m.jsonl --realtime --report r.json --soak-hours 0.5 --silence-minutes 10 "
                     "--condition office --verbose --sensitivity all --recognizer pocketsphinx,both "
                     "--whisper-model w.bin --whisper-prompt off --edits-per-letter 0.4 "
                     "--no-speech-threshold 0.7 --quiet-margin 8 --quiet-frames 2 --quiet-watch-only "
                     "--require-address on --require-near-speech off --screen off,0.34 "
                     "--live-app bin/harkwell --live-minutes 3")
                 .split(' '));
    ASSERT_TRUE(commandLine.options) << commandLine.error;
    const auto& options = *commandLine.options;
    EXPECT_EQ(options.manifest, "m.jsonl");
    EXPECT_TRUE(options.listening.realtime);
    EXPECT_EQ(options.reportPath, "r.json");
    EXPECT_EQ(options.soakHours, 0.5);
    EXPECT_EQ(options.silenceMinutes, 10);
    EXPECT_EQ(options.condition, "office");
    EXPECT_TRUE(options.verbose);
    EXPECT_EQ(options.levels,
              (std::vector<DetectionSensitivity>(detectionSensitivities.begin(), detectionSensitivities.end())));
    EXPECT_EQ(options.recognizers, (std::vector{RecognizerChoice::pocketSphinx, RecognizerChoice::both}));
    EXPECT_EQ(options.whisperModelPath, "w.bin");
    EXPECT_EQ(options.listening.accurate.prompt, TwoStageRecognizer::Options::Prompt::none);
    EXPECT_EQ(options.editsPerLetter, 0.4);
    EXPECT_EQ(options.listening.accurate.noSpeechThreshold, 0.7);
    EXPECT_EQ(options.listening.quiet.marginDecibels, 8);
    EXPECT_EQ(options.listening.quiet.nearFrames, 2);
    EXPECT_TRUE(options.quietWatchOnly);
    EXPECT_EQ(options.listening.requiresAddress, true);
    EXPECT_FALSE(options.listening.requiresNearSpeech);
    EXPECT_EQ(options.screens, (std::vector<std::optional<double>>{std::nullopt, 0.34}));
    EXPECT_EQ(options.liveApp.binary, "bin/harkwell");
    EXPECT_EQ(options.liveApp.minutes, 3);
}

TEST(BenchmarkCommandLineTest, DefaultsAreTheApplicationsListening) {
    const auto commandLine = read({"m.jsonl"});
    ASSERT_TRUE(commandLine.options) << commandLine.error;
    const auto& options = *commandLine.options;
    EXPECT_EQ(options.levels, std::vector<DetectionSensitivity>{DetectionSensitivity::medium});
    EXPECT_EQ(options.recognizers, std::vector{RecognizerChoice::both});
    EXPECT_EQ(options.listening.requiresAddress, std::nullopt) << "the level's own";
    EXPECT_TRUE(options.listening.requiresNearSpeech);
    EXPECT_FALSE(options.listening.realtime);
    EXPECT_TRUE(options.overrides.empty());
    EXPECT_EQ(options.editsPerLetter, std::nullopt);
    EXPECT_EQ(options.listening.accurate.prompt, TwoStageRecognizer::Options::Prompt::phrases)
        << "the application's prompt";
    EXPECT_TRUE(options.whisperModelPath.empty());
    EXPECT_TRUE(options.addedPhrases.empty());
    EXPECT_TRUE(options.screens.empty()) << "the level's own";
    EXPECT_TRUE(options.liveApp.binary.empty());
}

// Listened for in every clip besides its own: comma-separated, trimmed, repeatable.
TEST(BenchmarkCommandLineTest, AddedPhrasesGatherFromEveryRepeatAndJoinEachClipsOwn) {
    const auto commandLine = read({"m.jsonl", "--add-phrases", "민수, James", "--add-phrases", "Dr. Kim,"});
    ASSERT_TRUE(commandLine.options) << commandLine.error;
    EXPECT_EQ(commandLine.options->addedPhrases, (std::vector<std::string>{"민수", "James", "Dr. Kim"}));

    std::vector<Clip> clips(2);
    clips[0].phrases = {"James", "Priya"};
    addPhrases(clips, commandLine.options->addedPhrases);
    EXPECT_EQ(clips[0].phrases, (std::vector<std::string>{"James", "Priya", "민수", "Dr. Kim"})) << "each once";
    EXPECT_EQ(clips[1].phrases, (std::vector<std::string>{"민수", "James", "Dr. Kim"}));
}

TEST(BenchmarkCommandLineTest, RecogniserChangesApplyInTheOrderGiven) {
    using enum PocketSphinxSearch;
    using enum AudioFrontEndKind;
    const struct {
        QString arguments;
        PocketSphinxSearch search;
        AudioFrontEndKind frontEnd;
        int speexDecibels;
    } cases[]{
        {"--search lm", languageModel, speex, -15},
        {"--search keyphrase --search common", commonWords, speex, -15},
        {"--front-end webrtc --noise-suppression 0", commonWords, none, 0},
        {"--noise-suppression 0 --front-end speex", commonWords, speex, 0},
        {"--noise-suppression -20", commonWords, speex, -20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.toStdString());
        const auto commandLine = read(QStringList{"m.jsonl"} + c.arguments.split(' '));
        ASSERT_TRUE(commandLine.options) << commandLine.error;
        const auto settings = changed(*commandLine.options);
        EXPECT_EQ(settings.search, c.search);
        EXPECT_EQ(settings.frontEnd.kind, c.frontEnd);
        EXPECT_EQ(settings.frontEnd.speexSuppressionDecibels, c.speexDecibels);
    }

    const auto commandLine = read(QString("m.jsonl --common-words 500 --phrase-probability -1.5 --threshold -20 "
                                          "--language-weight 7 --held-back-words 0 --webrtc-level 3 "
                                          "--webrtc-gain-control off")
                                      .split(' '));
    ASSERT_TRUE(commandLine.options) << commandLine.error;
    const auto settings = changed(*commandLine.options);
    EXPECT_EQ(settings.commonWordCount, 500u);
    EXPECT_EQ(settings.phraseWordLogProbability, -1.5) << "a negative value is the option's, not an option";
    EXPECT_EQ(settings.keyphraseThresholdPerPhone, -20);
    EXPECT_EQ(settings.languageWeight, 7);
    EXPECT_EQ(settings.heldBackWords, 0u);
    EXPECT_EQ(settings.frontEnd.webRtcSuppressionLevel, 3);
    EXPECT_FALSE(settings.frontEnd.webRtcGainControl);
}

} // namespace
} // namespace harkwell::bench
