// The accurate recogniser with the model the build installs, on real recordings and synthesized
// speech; and what happens without a usable model.
#include "speech/PocketSphinxRecognizer.h"
#include "speech/TwoStageRecognizer.h"
#include "speech/WhisperTranscriber.h"

#include "PrivatePulseAudio.h"
#include "RecognizeAudio.h"

#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

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
    EXPECT_EQ(listeningRecognizerFactory(DetectionSensitivity::medium, installedModel())(AppLocale::korean), nullptr);
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
