// The accurate recogniser with the model the build installs, on real recordings and synthesized
// speech; and what happens without a usable model.
#include "detection/DetectionGate.h"
#include "matching/WakePhraseMatching.h"
#include "speech/PocketSphinxRecognizer.h"
#include "speech/TwoStageRecognizer.h"
#include "speech/WhisperTranscriber.h"

#include "PrivatePulseAudio.h"
#include "RecognizeAudio.h"
#include "SettableClock.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <utility>

// whisper.cpp 1.9.1 leaves the buffers of a model it failed to load allocated (once per failed
// load: the application tries once a process). The frames of its optimised build end in ggml.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:ggml_init\nleak:ggml_aligned_malloc\nleak:ggml_backend_buffer_init\n";
}

namespace harkwell {
namespace {

using testing::recognize;
using testing::samplesOf;

const std::string modelPath = HARKWELL_TEST_WHISPER_MODEL;

std::shared_ptr<WhisperTranscriber> installedModel() {
    static const auto model = WhisperTranscriber::load(modelPath);
    return model;
}

std::vector<float> floats(const std::vector<std::int16_t>& samples) {
    std::vector<float> out;
    for (const auto sample : samples) {
        out.push_back(static_cast<float>(sample) / 32768.0f);
    }
    return out;
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// One test, so that the model is loaded once: the transcriber on a real recording and on a call
// prompted with its name, then the recognisers over it.
TEST(TwoStageRecognizerTest, TheInstalledModelHearsSpeechAndOnlyItsTranscriptsOfNearSpeechReachTheMatching) {
    QFile recording("/usr/share/pocketsphinx/test/data/goforward.raw"); // a man saying "go forward ten meters"
    ASSERT_TRUE(recording.open(QIODevice::ReadOnly)) << "pocketsphinx-testdata must be installed";
    const auto heard = installedModel()->transcribe(floats(samplesOf(recording.readAll())), {});
    EXPECT_NE(lowered(heard.text).find("forward"), std::string::npos) << heard.text;

    const auto call = testing::synthesizedSpeech("Excuse me Minsu, do you have a minute?");
    ASSERT_FALSE(call.isEmpty()) << "flite and sox must be installed";
    WhisperTranscriber::Options options;
    options.prompt = whisperPrompt({"Minsu", "Dr. Kim"});
    const auto called = installedModel()->transcribe(floats(samplesOf(call)), options);
    EXPECT_NE(called.text.find("Minsu"), std::string::npos) << called.text;

    // The same audio again, in another language or without the prompt, is only decoded: it must
    // read as a transcription from scratch does.
    const auto korean = floats(samplesOf(testing::synthesizedKoreanSpeech("민수야, 잠깐 이리 와 줄래?")));
    ASSERT_FALSE(korean.empty()) << "espeak-ng and sox must be installed";
    const struct {
        std::vector<float> audio;
        WhisperTranscriber::Options first, again;
    } repeats[] = {
        {floats(samplesOf(call)), options, {}},
        {korean, options, {"ko", whisperPrompt({"민수"}), 1}},
        {korean, {"ko", whisperPrompt({"민수"}), 1}, {"en", whisperPrompt({"James"}), 1}},
    };
    for (const auto& [audio, first, again] : repeats) {
        SCOPED_TRACE(first.language + " then " + again.language + " prompted with \"" + again.prompt + "\"");
        installedModel()->transcribe(audio, first);
        const auto decoded = installedModel()->transcribe(audio, again);
        installedModel()->rest();
        const auto transcribed = installedModel()->transcribe(audio, again);
        EXPECT_EQ(decoded.text, transcribed.text);
        EXPECT_FALSE(decoded.text.empty());
    }

    // A second of a quiet room first: the near-speech watch hears the room before the talker.
    const auto samples = samplesOf(testing::synthesizedSpeech("Hey Priya! Can you come here for a second?"), 1.0, 2.0);
    for (const auto choice : {RecognizerChoice::both, RecognizerChoice::whisper}) {
        SCOPED_TRACE(choice == RecognizerChoice::both ? "both" : "whisper alone");
        auto recognizer =
            listeningRecognizerFactory(DetectionSensitivity::medium, installedModel(), choice)({AppLocale::english});
        ASSERT_NE(dynamic_cast<TwoStageRecognizer*>(recognizer.get()), nullptr);
        const auto results = recognize(*recognizer, {"Priya", "James"}, samples, {}, nullptr, testing::realModelWait);
        EXPECT_NE(results.find("Priya"), std::string::npos) << results;
        EXPECT_TRUE(results.ends_with("||")) << "each transcript ends its utterance: " << results;
        EXPECT_EQ(results.find("priya"), std::string::npos)
            << "PocketSphinx's lower-case words never pass: " << results;
    }
}

// Writes what it is told: with the prompt the texts `prompted` in turn, the last one again and
// again; without the prompt `alone`. Checks the language it is asked for.
class ScriptedTranscriber final : public WhisperTranscriber {
public:
    ScriptedTranscriber(std::vector<std::string> prompted, std::string alone, std::string language = "en",
                        bool multilingual = true)
        : prompted_(std::move(prompted)), alone_(std::move(alone)), language_(std::move(language)),
          multilingual_(multilingual) {}
    Result transcribe(std::span<const float>, const Options& options) override {
        EXPECT_EQ(options.language, language_);
        if (options.prompt.empty()) {
            return {alone_, 0.0};
        }
        auto text = prompted_.front();
        if (prompted_.size() > 1) {
            prompted_.erase(prompted_.begin());
        }
        return {std::move(text), 0.0};
    }
    bool isMultilingual() const override { return multilingual_; }

private:
    std::vector<std::string> prompted_;
    const std::string alone_, language_;
    const bool multilingual_;
};

// Where PocketSphinx heard a name, Whisper's own close spelling of it is that name; another name
// Whisper wrote is not, however permissive PocketSphinx was.
TEST(TwoStageRecognizerTest, WhispersOwnSpellingOfTheNamePocketSphinxHeardIsThatName) {
    const auto speech = testing::synthesizedSpeech("Excuse me Siobhan, do you have a minute?");
    ASSERT_FALSE(speech.isEmpty());
    // What Whisper writes with the prompt (without it, further off still); whether the call is taken.
    const std::vector<std::pair<std::string, bool>> cases{
        {"Excuse me, Shobhan. Do you have a minute?", true},
        {"Excuse me, Sharon. Do you have a minute?", false},
    };
    for (const auto& [written, taken] : cases) {
        SCOPED_TRACE(written);
        auto recognizer = listeningRecognizerFactory(
            DetectionSensitivity::medium,
            std::make_shared<ScriptedTranscriber>(std::vector<std::string>{written},
                                                  "Excuse me, Shivaun. Do you have a minute?"),
            RecognizerChoice::both)({AppLocale::english});
        const auto results = recognize(*recognizer, {"Siobhan", "James"}, samplesOf(speech, 1.0, 2.0), "minute?|");
        EXPECT_EQ(results.find("|Excuse me, Siobhan.|") != std::string::npos, taken) << results;
        EXPECT_NE(results.find("minute?|"), std::string::npos) << "gave up: " << results;
    }
}

// With the screen (the default), once PocketSphinx is seen to hear the talker, talk in which it
// hears nothing like a call phrase is left to it; the call after the talk is still heard. Which
// windows are passed over depends on how far PocketSphinx's thread has got, so WindowScreenTest
// counts them, not this test.
TEST(TwoStageRecognizerTest, TheCallAfterTalkLeftToPocketSphinxIsHeard) {
    std::vector<std::int16_t> samples;
    for (const auto* text : {"The weather was fine all week, and the river was calm and quiet.",
                             "We walked along the water until the evening, and then we went home for dinner.",
                             "Excuse me James, do you have a minute?"}) {
        const auto speech = testing::synthesizedSpeech(text);
        ASSERT_FALSE(speech.isEmpty());
        const auto more = samplesOf(speech, 1.0, 1.0);
        samples.insert(samples.end(), more.begin(), more.end());
    }
    samples.resize(samples.size() + 16000, 0);
    auto options = twoStageOptionsFor(DetectionSensitivity::medium);
    ASSERT_TRUE(options.screenEditsPerPhone);
    options.waitForTranscription = true; // every window, none dropped
    auto recognizer = listeningRecognizerFactory(pocketSphinxOptionsFor(DetectionSensitivity::medium), options,
                                                 installedModel(), RecognizerChoice::both)({AppLocale::english});
    const auto results = recognize(*recognizer, {"James"}, samples, "minute?|", nullptr, testing::realModelWait);
    EXPECT_NE(results.find("James"), std::string::npos) << results;
}

// Without a model listening is PocketSphinx as before; Korean phrases, which PocketSphinx cannot
// serve, are listened for only with a model that hears Korean, and the others go on without them.
TEST(TwoStageRecognizerTest, WhichRecogniserListensFollowsTheModelTheChoiceAndTheLanguages) {
    const auto multilingual = std::make_shared<ScriptedTranscriber>(std::vector<std::string>{""}, "", "ko");
    const auto englishOnly =
        std::make_shared<ScriptedTranscriber>(std::vector<std::string>{""}, "", "en", false); // as tiny.en, base.en
    enum Kind { none, pocketSphinx, twoStage };
    const AppLocale en = AppLocale::english, ko = AppLocale::korean;
    const struct {
        std::shared_ptr<WhisperTranscriber> transcriber;
        RecognizerChoice choice;
        std::vector<AppLocale> asked;
        Kind kind;
        std::vector<AppLocale> heard;
    } cases[] = {
        {nullptr, RecognizerChoice::both, {en}, pocketSphinx, {en}},
        {nullptr, RecognizerChoice::whisper, {en}, pocketSphinx, {en}},
        {nullptr, RecognizerChoice::pocketSphinx, {en}, pocketSphinx, {en}},
        {englishOnly, RecognizerChoice::both, {en}, twoStage, {en}}, // not taken from its languages
        {multilingual, RecognizerChoice::both, {ko}, twoStage, {ko}},
        {multilingual, RecognizerChoice::whisper, {ko}, twoStage, {ko}},
        {multilingual, RecognizerChoice::pocketSphinx, {ko}, none, {}},
        {nullptr, RecognizerChoice::both, {ko}, none, {}},
        {englishOnly, RecognizerChoice::both, {ko}, none, {}},
        {multilingual, RecognizerChoice::both, {en, ko}, twoStage, {en, ko}},
        {multilingual, RecognizerChoice::whisper, {en, ko}, twoStage, {en, ko}},
        {multilingual, RecognizerChoice::pocketSphinx, {en, ko}, pocketSphinx, {en}},
        {englishOnly, RecognizerChoice::both, {en, ko}, twoStage, {en}},
        {nullptr, RecognizerChoice::both, {en, ko}, pocketSphinx, {en}},
        {nullptr, RecognizerChoice::both, {}, none, {}},
    };
    for (const auto& [transcriber, choice, asked, kind, heard] : cases) {
        SCOPED_TRACE(::testing::Message()
                     << static_cast<int>(choice) << " " << asked.size() << " languages, "
                     << (asked.empty() ? "" : asked.back().rawValue()) << (transcriber ? " with a model" : ""));
        const auto recognizer = listeningRecognizerFactory(DetectionSensitivity::medium, transcriber, choice)(asked);
        EXPECT_EQ(recognizer == nullptr, kind == none);
        EXPECT_EQ(dynamic_cast<PocketSphinxRecognizer*>(recognizer.get()) != nullptr, kind == pocketSphinx);
        EXPECT_EQ(dynamic_cast<TwoStageRecognizer*>(recognizer.get()) != nullptr, kind == twoStage);
        EXPECT_EQ(recognizer ? recognizer->languages() : std::vector<AppLocale>(), heard);
        if (kind == twoStage) {
            EXPECT_TRUE(recognizer->isAvailable());
        }
        for (const auto language : asked) {
            EXPECT_EQ(canListenIn(language, transcriber && transcriber->isMultilingual(), choice),
                      std::find(heard.begin(), heard.end(), language) != heard.end())
                << "what the panel is told of " << language.rawValue();
        }
    }
}

TEST(TwoStageRecognizerTest, AKoreanNameWrittenWithThePromptMustSoundAlikeWithoutIt) {
    const auto speech = testing::synthesizedKoreanSpeech("민수야, 이것 좀 봐.");
    ASSERT_FALSE(speech.isEmpty()) << "espeak-ng and sox must be installed";
    const std::string later = "그럼 이따 봐요."; // what a second utterance says
    auto samples = samplesOf(speech, 1.0, 2.0);
    const auto again = samplesOf(speech, 0, 2.0);
    samples.insert(samples.end(), again.begin(), again.end());
    const struct {
        std::string prompted, alone;
        bool taken;
    } cases[] = {
        {"민수야, 이것 좀 봐.", "민수야, 이것 좀 봐.", true},
        {"민수야, 이것 좀 봐.", "민서야 이것 좀 봐", true},        // the name one letter of five away
        {"민수 씨, 이것 좀 봐요.", "민 수 씨 이것 좀 봐요", true}, // a syllable apart
        {"민수야, 이것 좀 봐.", "민호야, 이것 좀 봐.", false},     // another name: the shared 야 brings it no closer
        {"민수 씨, 회의가 시작해요.", "이번 회의가 시작해요.", false},
        {"민수님", "민수는 어디 갔어요?", false}, // talk about him: 는 is no form's suffix
        // No call as a whole (a lone syllable follows the name), but one word by word: checked too.
        {"민수, 핵, 오, 서.", "이번 회의가 시작해요.", false},
    };
    auto options = twoStageOptionsFor(DetectionSensitivity::medium);
    options.queueCapacity = 16; // every window of the audio waits its turn: none is dropped
    for (const auto& [prompted, alone, taken] : cases) {
        auto recognizer =
            listeningRecognizerFactory(pocketSphinxOptionsFor(DetectionSensitivity::medium), options,
                                       std::make_shared<ScriptedTranscriber>(std::vector{prompted, later}, alone, "ko"),
                                       RecognizerChoice::whisper)({AppLocale::korean});
        ASSERT_NE(recognizer, nullptr);
        const auto results = recognize(*recognizer, {"민수", "지훈"}, samples, later);
        EXPECT_EQ(results.find(prompted) != std::string::npos, taken) << alone << ": " << results;
    }
}

// Writes, in each language, that language's text, and notes what it was asked.
class BilingualTranscriber final : public WhisperTranscriber {
public:
    Result transcribe(std::span<const float>, const Options& options) override {
        const std::lock_guard lock(mutex_);
        asked_.emplace_back(options.language, options.prompt);
        return {options.language == "ko" ? "민수야, 잠깐만." : "Excuse me, James.", 0.0};
    }
    bool isMultilingual() const override { return true; }
    std::vector<std::pair<std::string, std::string>> asked() const {
        const std::lock_guard lock(mutex_);
        return asked_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, std::string>> asked_; // language, prompt
};

// Each window near speech is transcribed in both languages, each prompted with its own phrases
// alone, and each transcript reaches the handler tagged with its language.
TEST(TwoStageRecognizerTest, EachLanguageIsTranscribedWithItsOwnPhrasesInThePrompt) {
    const auto speech = testing::synthesizedSpeech("Excuse me James, do you have a minute?");
    ASSERT_FALSE(speech.isEmpty()) << "flite and sox must be installed";
    const auto transcriber = std::make_shared<BilingualTranscriber>();
    auto recognizer = listeningRecognizerFactory(DetectionSensitivity::medium, transcriber,
                                                 RecognizerChoice::whisper)({AppLocale::english, AppLocale::korean});
    ASSERT_NE(recognizer, nullptr);
    auto contextualStrings = wakePhraseContextualStrings({"James", "Dr. Kim"}, AppLocale::english);
    const auto korean = wakePhraseContextualStrings({"민수"}, AppLocale::korean);
    contextualStrings.insert(contextualStrings.end(), korean.begin(), korean.end());
    std::vector<RecognitionEvent> events;
    const auto results = recognize(*recognizer, contextualStrings, samplesOf(speech, 1.0, 2.0), "민수야", &events);

    const std::map<std::string, std::string> prompts{{"en", whisperPrompt({"James", "Dr. Kim"})},
                                                     {"ko", whisperPrompt({"민수"})}};
    std::set<std::string> languages;
    for (const auto& [language, prompt] : transcriber->asked()) {
        languages.insert(language);
        if (!prompt.empty()) {
            EXPECT_EQ(prompt, prompts.at(language)) << language;
        }
    }
    EXPECT_EQ(languages, (std::set<std::string>{"en", "ko"}));
    for (const auto& event : events) {
        ASSERT_TRUE(event.transcript) << results;
        const bool isKorean = event.transcript->find("민수") != std::string::npos;
        if (isKorean || event.transcript->find("James") != std::string::npos) {
            EXPECT_EQ(event.language, isKorean ? AppLocale::korean : AppLocale::english) << *event.transcript;
        }
    }
    EXPECT_NE(results.find("Excuse me, James.|"), std::string::npos) << results;
}

// The call the recogniser's results give, as the detector's gate reports it, with the language of
// the transcript it was heard in.
std::optional<std::pair<WakePhraseMatch, AppLocale>> detectionIn(const std::vector<RecognitionEvent>& events,
                                                                 const std::vector<std::string>& phrases) {
    DetectionGate gate(std::make_shared<testing::SettableClock>());
    gate.reset(phrases);
    for (const auto& event : events) {
        if (auto heard = event.transcript ? gate.hear(*event.transcript, event.language) : std::nullopt) {
            return std::pair{std::move(*heard), event.language};
        }
    }
    return std::nullopt;
}

TEST(TwoStageRecognizerTest, AKoreanCallIsHeardInTheFormItWasSaid) {
    const std::vector<std::string> phrases{"민수", "지훈"};
    const auto speech = testing::synthesizedKoreanSpeech("민수야, 잠깐 이리 와 줄래?");
    ASSERT_FALSE(speech.isEmpty()) << "espeak-ng and sox must be installed";
    auto recognizer = listeningRecognizerFactory(DetectionSensitivity::medium, installedModel())({AppLocale::korean});
    ASSERT_NE(recognizer, nullptr);
    std::vector<RecognitionEvent> events;
    const auto results =
        recognize(*recognizer, phrases, samplesOf(speech, 1.0, 2.0), {}, &events, testing::realModelWait);
    const auto detection = detectionIn(events, phrases);
    ASSERT_TRUE(detection) << results;
    EXPECT_EQ(detection->first.targetPhrase, "민수") << results;
    EXPECT_EQ(detection->first.matchedForm, "민수야") << results;
    EXPECT_EQ(detection->second, AppLocale::korean);
}

// Listening for an English and a Korean name at once: every window near speech is transcribed in
// both languages, and each call is heard in the transcript of its own.
TEST(TwoStageRecognizerTest, AnEnglishAndAKoreanNameAreEachHeardInTheirOwnLanguage) {
    const std::vector<std::string> phrases{"James", "민수"};
    auto recognizer = listeningRecognizerFactory(DetectionSensitivity::medium,
                                                 installedModel())({AppLocale::english, AppLocale::korean});
    ASSERT_NE(recognizer, nullptr);
    // The detector gives the recogniser each language's phrases with their accepted forms.
    auto contextualStrings = wakePhraseContextualStrings({"James"}, AppLocale::english);
    const auto korean = wakePhraseContextualStrings({"민수"}, AppLocale::korean);
    contextualStrings.insert(contextualStrings.end(), korean.begin(), korean.end());
    const struct {
        QByteArray speech;
        std::string until, phrase, form;
        AppLocale language;
    } calls[] = {
        {testing::synthesizedKoreanSpeech("민수야, 잠깐 이리 와 줄래?"), "민수", "민수", "민수야", AppLocale::korean},
        {testing::synthesizedSpeech("Excuse me James, do you have a minute?"), "James", "James", "James",
         AppLocale::english},
    };
    for (const auto& [speech, until, phrase, form, language] : calls) {
        SCOPED_TRACE(phrase);
        ASSERT_FALSE(speech.isEmpty()) << "flite, espeak-ng and sox must be installed";
        std::vector<RecognitionEvent> events;
        const auto results = recognize(*recognizer, contextualStrings, samplesOf(speech, 1.0, 2.0), until, &events,
                                       testing::realModelWait);
        const auto detection = detectionIn(events, phrases);
        ASSERT_TRUE(detection) << results;
        EXPECT_EQ(detection->first.targetPhrase, phrase) << results;
        EXPECT_EQ(detection->first.matchedForm, form) << results;
        EXPECT_EQ(detection->second, language) << results;
    }
}

TEST(WhisperTranscriberTest, AModelThatCannotBeLoadedIsAnErrorWithItsReason) {
    QTemporaryDir dir;
    const std::filesystem::path folder = dir.path().toStdString();
    std::ofstream(folder / "empty.bin");
    std::ofstream(folder / "text.bin") << "not a model, just some words in a file";
    {
        // The real model, cut short in the middle of its weights.
        std::ifstream in(modelPath, std::ios::binary);
        std::vector<char> head(20 * 1024 * 1024);
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        std::ofstream(folder / "truncated.bin", std::ios::binary).write(head.data(), in.gcount());
    }
    for (const auto& [file, reason] : std::vector<std::pair<std::string, std::string>>{
             {"missing.bin", "cannot be read"},
             {"empty.bin", "cannot be read"},
             {"text.bin", "not a whisper.cpp model"},
             {"truncated.bin", "damaged"},
         }) {
        try {
            WhisperTranscriber::load((folder / file).string());
            ADD_FAILURE() << file << " loaded";
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(reason), std::string::npos) << file << ": " << error.what();
        }
    }
}

} // namespace
} // namespace harkwell
