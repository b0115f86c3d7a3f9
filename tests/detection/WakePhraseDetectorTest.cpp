#include "detection/WakePhraseDetector.h"

#include <gtest/gtest.h>

#include <tuple>

namespace harkwell {
namespace {

using namespace std::chrono_literals;

class FakeClock final : public Clock {
public:
    TimePoint now() const override { return TimePoint{} + elapsed; }
    Clock::duration elapsed{};
};

class WakePhraseDetectorTest : public ::testing::Test {
protected:
    void startDetector(std::vector<std::string> phrases, std::string locale = "en-US") {
        detector = std::make_unique<WakePhraseDetector>(std::move(locale), clock);
        detector->start(
            phrases, [this](const std::string& phrase) { detected.push_back(phrase); },
            [this](const Error& error) { errors.push_back(error.description()); });
    }

    void hear(Clock::duration at, std::string transcript) {
        clock->elapsed = at;
        detector->handleRecognitionEvent({std::move(transcript), std::nullopt});
    }

    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::unique_ptr<WakePhraseDetector> detector;
    std::vector<std::string> detected;
    std::vector<std::string> errors;
};

TEST_F(WakePhraseDetectorTest, ReportsAtMostOneDetectionPerCooldownAndEmptiesStaleWindows) {
    startDetector({"minsu"});
    struct Step {
        Clock::duration at;
        std::string transcript;
        std::string window;
        std::vector<std::string> detectedSoFar;
    };
    const std::vector<Step> steps{
        {0ms, "hey", "hey", {}},
        {400ms, "hey min", "hey min", {}},
        {800ms, "hey minsu", "", {"minsu"}},
        {1000ms, "hey minsu come", " come", {"minsu"}},
        // 2 s after the last new words: the window is emptied first; the match is inside the cooldown.
        {3000ms, "hey minsu come here minsu", "", {"minsu"}},
        // The cooldown runs 8 s from the last report, not from the last match.
        {8799ms, "hey minsu come here minsu minsu", "", {"minsu"}},
        {8800ms, "hey minsu come here minsu minsu minsu", "", {"minsu", "minsu"}},
    };
    for (const auto& step : steps) {
        hear(step.at, step.transcript);
        EXPECT_EQ(detector->recentMatchingText(), step.window) << step.transcript;
        EXPECT_EQ(detected, step.detectedSoFar) << step.transcript;
    }
    EXPECT_EQ(detector->lastDetectionAt(), Clock::TimePoint{} + 8800ms);
}

TEST_F(WakePhraseDetectorTest, APauseOfExactlyTheResetIntervalEmptiesTheWindow) {
    for (const auto& [pause, window, matches] : {std::tuple{1199ms, "", true}, std::tuple{1200ms, " park", false}}) {
        detected.clear();
        startDetector({"Mr Park"});
        hear(0s, "hello mr");
        hear(pause, "hello mr park");
        EXPECT_EQ(detected.size(), matches ? 1u : 0u) << pause.count() << " ms";
        EXPECT_EQ(detector->recentMatchingText(), window) << pause.count() << " ms";
    }
}

TEST_F(WakePhraseDetectorTest, RepeatedTranscriptNeitherRefreshesTheWindowNorReportsAgain) {
    startDetector({"minsu"});
    hear(0s, "hey");
    hear(1s, "hey");
    EXPECT_EQ(detector->recentMatchingText(), "hey");
    EXPECT_EQ(detector->lastMatchingTextUpdatedAt(), Clock::TimePoint{} + 0s);
    hear(1200ms, "hey");
    EXPECT_EQ(detector->recentMatchingText(), "") << "a repeat 1.2 s after new words empties the window";
    EXPECT_EQ(detector->lastMatchingTextUpdatedAt(), Clock::TimePoint{} + 0s);

    hear(2s, "hey minsu");
    hear(2100ms, "hey minsu");
    EXPECT_EQ(detected.size(), 1u);
}

TEST_F(WakePhraseDetectorTest, EventsWithErrorsAndWithoutCallbacks) {
    startDetector({"James"});
    clock->elapsed = 0s;
    detector->handleRecognitionEvent({"hey james", Error::platform("Recognition stopped.")});
    EXPECT_EQ(detected, std::vector<std::string>{"James"});
    EXPECT_EQ(errors, std::vector<std::string>{"Recognition stopped."});

    detector->handleRecognitionEvent({std::nullopt, std::nullopt});
    EXPECT_EQ(detected.size(), 1u);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(detector->lastMatchedTranscript(), "hey james");

    // Without callbacks the cooldown still starts.
    WakePhraseDetector silent("en-US", clock);
    silent.start({"James"}, nullptr, nullptr);
    silent.handleRecognitionEvent({"james", AppError::speechUnavailable("en-US")});
    EXPECT_EQ(silent.lastDetectionAt(), Clock::TimePoint{});
}

TEST_F(WakePhraseDetectorTest, StartNormalisesPhrasesAndClearsTheSession) {
    startDetector({" James ", "JAMES", "  "});
    EXPECT_EQ(detector->phrases(), std::vector<std::string>{"James"});
    hear(0s, "hey james");
    hear(100ms, "hey james and");
    detector->start(
        {"민수"}, [this](const std::string& phrase) { detected.push_back(phrase); }, nullptr);
    EXPECT_EQ(detector->recentMatchingText(), "");
    EXPECT_EQ(detector->lastMatchedTranscript(), "");
    EXPECT_EQ(detector->lastDetectionAt(), std::nullopt);
    hear(200ms, "민수 씨");
    EXPECT_EQ(detected, (std::vector<std::string>{"James", "민수"})) << "the first match after start is reported";
}

TEST_F(WakePhraseDetectorTest, KoreanDetectorUsesTheKoreanForms) {
    startDetector({"지훈"}, "ko-KR");
    hear(0s, "지훈 형");
    EXPECT_TRUE(detected.empty()) << "a lone syllable after the name";
    hear(300ms, "지훈 형 지훈 아");
    EXPECT_EQ(detected, std::vector<std::string>{"지훈"});
}

} // namespace
} // namespace harkwell
