// The accurate recogniser with the model the build installs, on real recordings and synthesized
// speech; and what happens without a usable model.
#include "detection/DetectionGate.h"
#include "speech/PocketSphinxRecognizer.h"
#include "speech/TwoStageRecognizer.h"
#include "speech/WhisperTranscriber.h"

#include "PrivatePulseAudio.h"
#include "RecognizeAudio.h"
#include "SettableClock.h"

#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
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

TEST(WhisperTranscriberTest, TranscribesARealRecordingAndSpellsNamesAsPrompted) {
    QFile recording("/usr/share/pocketsphinx/test/data/goforward.raw"); // a man saying "go forward ten meters"
    ASSERT_TRUE(recording.open(QIODevice::ReadOnly)) << "pocketsphinx-testdata must be installed";
    const auto heard = installedModel()->transcribe(floats(samplesOf(recording.readAll())), {});
    EXPECT_NE(lowered(heard.text).find("forward"), std::string::npos) << heard.text;

    const auto speech = testing::synthesizedSpeech("Excuse me Minsu, do you have a minute?");
    ASSERT_FALSE(speech.isEmpty()) << "flite and sox must be installed";
    WhisperTranscriber::Options options;
    options.prompt = whisperPrompt({"Minsu", "Dr. Kim"});
    const auto called = installedModel()->transcribe(floats(samplesOf(speech)), options);
    EXPECT_NE(called.text.find("Minsu"), std::string::npos) << called.text;
}

TEST(TwoStageRecognizerTest, OnlyWhispersTranscriptsOfNearSpeechReachTheMatching) {
    const auto speech = testing::synthesizedSpeech("Hey Priya! Can you come here for a second?");
    ASSERT_FALSE(speech.isEmpty());
    // A second of a quiet room first: the near-speech watch hears the room before the talker.
    const auto samples = samplesOf(speech, 1.0, 2.0);
    for (const auto choice : {RecognizerChoice::both, RecognizerChoice::whisper}) {
        SCOPED_TRACE(choice == RecognizerChoice::both ? "both" : "whisper alone");
        auto recognizer =
            listeningRecognizerFactory(DetectionSensitivity::medium, installedModel(), choice)(AppLocale::english);
        ASSERT_NE(dynamic_cast<TwoStageRecognizer*>(recognizer.get()), nullptr);
        const auto results = recognize(*recognizer, {"Priya", "James"}, samples);
        EXPECT_NE(results.find("Priya"), std::string::npos) << results;
        EXPECT_TRUE(results.ends_with("||")) << "each transcript ends its utterance: " << results;
        EXPECT_EQ(results.find("priya"), std::string::npos)
            << "PocketSphinx's lower-case words never pass: " << results;
    }
}

// Writes the same words for every window: with the prompt as Whisper writes a name it does not
// know, without it further off still.
class ScriptedTranscriber final : public WhisperTranscriber {
public:
    Result transcribe(std::span<const float>, const Options& options) override {
        return {options.prompt.empty() ? "Excuse me, Shivaun. Do you have a minute?"
                                       : "Excuse me, Shobhan. Do you have a minute?",
                0.0};
    }
};

TEST(TwoStageRecognizerTest, WhispersOwnSpellingOfTheNamePocketSphinxHeardIsThatName) {
    const auto speech = testing::synthesizedSpeech("Excuse me Siobhan, do you have a minute?");
    ASSERT_FALSE(speech.isEmpty());
    auto recognizer = listeningRecognizerFactory(DetectionSensitivity::medium, std::make_shared<ScriptedTranscriber>(),
                                                 RecognizerChoice::both)(AppLocale::english);
    const auto results = recognize(*recognizer, {"Siobhan", "James"}, samplesOf(speech, 1.0, 2.0), "Siobhan");
    EXPECT_NE(results.find("|Excuse me, Siobhan.|"), std::string::npos) << results;
}

TEST(TwoStageRecognizerTest, WithoutAModelListeningIsPocketSphinxAsBefore) {
    for (const auto choice : {RecognizerChoice::both, RecognizerChoice::whisper, RecognizerChoice::pocketSphinx}) {
        auto recognizer = listeningRecognizerFactory(DetectionSensitivity::medium, nullptr, choice)(AppLocale::english);
        EXPECT_NE(dynamic_cast<PocketSphinxRecognizer*>(recognizer.get()), nullptr);
    }
}

// A model that hears English only, as tiny.en and base.en do.
class EnglishOnlyTranscriber final : public WhisperTranscriber {
public:
    Result transcribe(std::span<const float>, const Options&) override { return {}; }
    bool isMultilingual() const override { return false; }
};

TEST(TwoStageRecognizerTest, TheKoreanBuildListensWithWhisperAloneOnlyWithAMultilingualModel) {
    ASSERT_TRUE(installedModel()->isMultilingual()) << "the installed base model hears Korean";
    const struct {
        std::shared_ptr<WhisperTranscriber> transcriber;
        RecognizerChoice choice;
        bool listens;
    } cases[] = {
        {installedModel(), RecognizerChoice::both, true},
        {installedModel(), RecognizerChoice::whisper, true},
        {installedModel(), RecognizerChoice::pocketSphinx, false}, // PocketSphinx has no Korean model
        {nullptr, RecognizerChoice::both, false},
        {std::make_shared<EnglishOnlyTranscriber>(), RecognizerChoice::both, false},
    };
    for (const auto& [transcriber, choice, listens] : cases) {
        auto recognizer =
            listeningRecognizerFactory(DetectionSensitivity::medium, transcriber, choice)(AppLocale::korean);
        EXPECT_EQ(recognizer != nullptr, listens) << static_cast<int>(choice);
        if (recognizer) {
            EXPECT_NE(dynamic_cast<TwoStageRecognizer*>(recognizer.get()), nullptr);
            EXPECT_TRUE(recognizer->isAvailable());
        }
    }
    // English listening is not taken from the model's languages.
    auto english = listeningRecognizerFactory(DetectionSensitivity::medium,
                                              std::make_shared<EnglishOnlyTranscriber>())(AppLocale::english);
    EXPECT_NE(dynamic_cast<TwoStageRecognizer*>(english.get()), nullptr);
}

// In Korean: the first time it is prompted one text, without the prompt another; then what a
// second utterance says.
class ScriptedKoreanTranscriber final : public WhisperTranscriber {
public:
    static constexpr std::string_view later = "그럼 이따 봐요.";

    ScriptedKoreanTranscriber(std::string prompted, std::string alone)
        : prompted_(std::move(prompted)), alone_(std::move(alone)) {}
    Result transcribe(std::span<const float>, const Options& options) override {
        EXPECT_EQ(options.language, "ko");
        if (options.prompt.empty()) {
            return {alone_, 0.0};
        }
        return {prompted_.empty() ? std::string(later) : std::exchange(prompted_, {}), 0.0};
    }
    bool isMultilingual() const override { return true; }

private:
    std::string prompted_;
    const std::string alone_;
};

TEST(TwoStageRecognizerTest, AKoreanNameWrittenWithThePromptMustSoundAlikeWithoutIt) {
    const auto speech = testing::synthesizedKoreanSpeech("민수야, 이것 좀 봐.");
    ASSERT_FALSE(speech.isEmpty()) << "espeak-ng and sox must be installed";
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
        auto recognizer = listeningRecognizerFactory(pocketSphinxOptionsFor(DetectionSensitivity::medium), options,
                                                     std::make_shared<ScriptedKoreanTranscriber>(prompted, alone),
                                                     RecognizerChoice::whisper)(AppLocale::korean);
        ASSERT_NE(recognizer, nullptr);
        const auto results =
            recognize(*recognizer, {"민수", "지훈"}, samples, std::string(ScriptedKoreanTranscriber::later));
        EXPECT_EQ(results.find(prompted) != std::string::npos, taken) << alone << ": " << results;
    }
}

// The call the transcripts give, as the detector's gate reports it.
std::optional<WakePhraseMatch> detectionIn(const std::string& results, const std::vector<std::string>& phrases,
                                           AppLocale locale) {
    DetectionGate gate(locale, std::make_shared<testing::SettableClock>());
    gate.reset(phrases);
    std::optional<WakePhraseMatch> detection;
    for (std::size_t at = 0, end = 0; (end = results.find('|', at)) != std::string::npos; at = end + 1) {
        if (auto heard = gate.hear(results.substr(at, end - at)); heard && !detection) {
            detection = std::move(heard);
        }
    }
    return detection;
}

TEST(TwoStageRecognizerTest, AKoreanCallIsHeardInTheFormItWasSaid) {
    const std::vector<std::string> phrases{"민수", "지훈"};
    const auto speech = testing::synthesizedKoreanSpeech("민수야, 잠깐 이리 와 줄래?");
    ASSERT_FALSE(speech.isEmpty()) << "espeak-ng and sox must be installed";
    auto recognizer = listeningRecognizerFactory(DetectionSensitivity::medium, installedModel())(AppLocale::korean);
    ASSERT_NE(recognizer, nullptr);
    const auto results = recognize(*recognizer, phrases, samplesOf(speech, 1.0, 2.0));
    const auto detection = detectionIn(results, phrases, AppLocale::korean);
    ASSERT_TRUE(detection) << results;
    EXPECT_EQ(detection->targetPhrase, "민수") << results;
    EXPECT_EQ(detection->matchedForm, "민수야") << results;
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
