// The recogniser on real synthesized speech, fed straight into a request.
#include "speech/PocketSphinxRecognizer.h"

#include "PrivatePulseAudio.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

namespace harkwell {
namespace {

std::vector<std::int16_t> samplesOf(const QByteArray& bytes) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(bytes.size()) / 2);
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return samples;
}

// Feeds the audio (then two seconds of silence) on a thread of its own, as the capture thread
// would, and collects the results until the audio has ended and been decoded.
std::vector<RecognitionEvent> recognize(SpeechRecognizer& recognizer, const std::vector<std::string>& phrases,
                                        const std::vector<std::int16_t>& audio) {
    std::vector<RecognitionEvent> events;
    const auto request = recognizer.makeRequest(phrases);
    QEventLoop loop;
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(60000);
    auto task = recognizer.recognitionTask(request, [&](const RecognitionEvent& event) {
        events.push_back(event);
        // The recogniser ends every utterance with an empty transcript.
        if (event.error || (event.transcript && event.transcript->empty() && events.size() > 1)) {
            loop.quit();
        }
    });
    std::thread capture([&] {
        request->append(audio);
        request->append(std::vector<std::int16_t>(32000));
        request->endAudio();
    });
    loop.exec();
    capture.join();
    task->cancel();
    return events;
}

std::string transcripts(const std::vector<RecognitionEvent>& events) {
    std::string all;
    for (const auto& event : events) {
        all += (event.transcript ? *event.transcript : "(none)") +
               (event.error ? " [" + event.error->description() + "]" : "") + "|";
    }
    return all;
}

TEST(PocketSphinxRecognizerTest, HearsNamesTheDictionaryHasAndNamesItDoesNot) {
    for (const auto search : {PocketSphinxSearch::commonWords, PocketSphinxSearch::keyphrase}) {
        PocketSphinxOptions options;
        options.search = search;
        PocketSphinxRecognizer recognizer("en-US", PocketSphinxModel::englishUS(), options);
        ASSERT_TRUE(recognizer.isAvailable()) << "pocketsphinx-en-us must be installed";
        // 'Dr' is a title: 'doctor', never the dictionary's 'drive'.
        for (const std::string name : {"James", "Minsu", "Dr. Kim"}) {
            const auto speech =
                testing::synthesizedSpeech(QString::fromStdString("Excuse me " + name + ", do you have a minute?"));
            ASSERT_FALSE(speech.isEmpty()) << "flite and sox must be installed";
            const auto events = recognize(recognizer, {name, "Siobhan"}, samplesOf(speech));
            std::string lowered = name == "Dr. Kim" ? "dr kim" : name;
            std::transform(lowered.begin(), lowered.end(), lowered.begin(), ::tolower);
            EXPECT_NE(transcripts(events).find(lowered), std::string::npos)
                << (search == PocketSphinxSearch::keyphrase ? "keyphrase: " : "common words: ") << transcripts(events);
            ASSERT_FALSE(events.empty());
            EXPECT_EQ(events.back().transcript, "") << "each utterance ends with an empty transcript";
        }
    }
}

TEST(PocketSphinxRecognizerTest, MissingModelFilesMakeItUnavailable) {
    auto model = PocketSphinxModel::englishUS();
    model.acousticModel = "/nonexistent/en-us";
    PocketSphinxRecognizer recognizer("en-US", model);
    EXPECT_FALSE(recognizer.isAvailable());
    // A task on a model that vanished after the check reports it instead of recognising.
    const auto events = recognize(recognizer, {"James"}, {});
    ASSERT_EQ(events.size(), 1u) << transcripts(events);
    EXPECT_EQ(events.front().error, Error(AppError::speechUnavailable("en-US")));

    EXPECT_TRUE(makeSpeechRecognizer("en-US"));
    EXPECT_FALSE(makeSpeechRecognizer("ko-KR")) << "no Korean model ships";
}

} // namespace
} // namespace harkwell
