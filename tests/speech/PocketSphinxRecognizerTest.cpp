// The recogniser on real synthesized speech, fed straight into a request.
#include "speech/PocketSphinxRecognizer.h"

#include "core/HandOff.h"

#include "EventLoop.h"
#include "PrivatePulseAudio.h"
#include "RecognizeAudio.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace harkwell {
namespace {

// The audio, then two seconds of silence.
std::string recognize(SpeechRecognizer& recognizer, const std::vector<std::string>& phrases, const QByteArray& audio) {
    return testing::recognize(recognizer, phrases, testing::samplesOf(audio, 0, 2));
}

TEST(PocketSphinxRecognizerTest, HearsATitleAndANameTheDictionaryLacks) {
    PocketSphinxRecognizer recognizer(AppLocale::english);
    ASSERT_TRUE(recognizer.isAvailable()) << "pocketsphinx-en-us must be installed";
    // A decoder made anew after every utterance hears the call in the next one as the first did.
    PocketSphinxRecognizer::Options renewing;
    renewing.renewDecoderAfter = std::chrono::seconds(0);
    PocketSphinxRecognizer renewed(AppLocale::english, PocketSphinxModel::englishUS(), renewing);
    // 'Dr' is a title: 'doctor', never the dictionary's 'drive'.
    for (const auto& [decoder, before, name, heard] :
         {std::tuple{&recognizer, "", "Minsu", "minsu"}, std::tuple{&recognizer, "", "Dr. Kim", "dr kim"},
          std::tuple{&renewed, "Good morning.", "Minsu", "minsu"}}) {
        auto speech = testing::synthesizedSpeech(QString("Excuse me %1, do you have a minute?").arg(name));
        ASSERT_FALSE(speech.isEmpty()) << "flite and sox must be installed";
        auto samples = testing::samplesOf(speech, 0, 2);
        if (*before) {
            auto first = testing::samplesOf(testing::synthesizedSpeech(before), 0, 1.5);
            samples.insert(samples.begin(), first.begin(), first.end());
        }
        // Past the first utterance's end when there is one before the call.
        const auto results = testing::recognize(*decoder, {name, "Siobhan"}, samples, *before ? heard : "");
        EXPECT_NE(results.find(heard), std::string::npos) << results;
        EXPECT_TRUE(*before || results.ends_with("||")) << "each utterance ends with an empty transcript: " << results;
    }
}

// A session starting while the one before it still starts its decoder, as when listening is
// switched off and on again: both decoders start, and each hears the call.
TEST(PocketSphinxRecognizerTest, DecodersStartingTogetherBothHear) {
    PocketSphinxRecognizer recognizer(AppLocale::english);
    const auto speech = testing::samplesOf(testing::synthesizedSpeech("Excuse me Minsu, do you have a minute?"), 0, 2);
    ASSERT_GT(speech.size(), 32000u) << "flite and sox must be installed";
    std::string heard[2];
    std::vector<std::shared_ptr<RecognitionRequest>> requests;
    std::vector<std::unique_ptr<RecognitionTask>> tasks;
    for (std::string& results : heard) {
        requests.push_back(recognizer.makeRequest({"Minsu"}));
        // Results come on the recogniser's thread; they are taken on this one.
        tasks.push_back(recognizer.recognitionTask(requests.back(), [&results](const RecognitionEvent& event) {
            handOff(QCoreApplication::instance(), [&results, event] {
                results += (event.error ? event.error->description() : event.transcript.value_or("")) + "|";
            });
        }));
    }
    std::thread capture([&] {
        for (std::size_t at = 0; at < speech.size(); at += 1600) {
            for (const auto& request : requests) {
                request->append(std::span(speech).subspan(at, std::min<std::size_t>(1600, speech.size() - at)));
            }
        }
        for (const auto& request : requests) {
            request->endAudio();
        }
    });
    EXPECT_TRUE(testing::eventually(
        [&] {
            return std::ranges::all_of(
                heard, [](const std::string& results) { return results.find("minsu") != std::string::npos; });
        },
        std::chrono::seconds(60)))
        << heard[0] << " / " << heard[1];
    capture.join();
}

TEST(PocketSphinxRecognizerTest, MissingModelFilesMakeItUnavailable) {
    auto model = PocketSphinxModel::englishUS();
    model.acousticModel = "/nonexistent/en-us";
    PocketSphinxRecognizer recognizer(AppLocale::english, model);
    EXPECT_FALSE(recognizer.isAvailable());
    // A task on a model that vanished after the check reports it instead of recognising.
    EXPECT_EQ(recognize(recognizer, {"James"}, {}),
              Error(AppError::speechUnavailable(AppLocale::english)).description() + "|");
}

} // namespace
} // namespace harkwell
