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
    void start(const std::vector<std::string>& phrases) {
        detector.start(
            phrases, [this](const std::string& phrase) { detected.push_back(phrase); }, nullptr);
    }
    void hear(Clock::duration at, std::string transcript) {
        clock->elapsed = at;
        detector.handleRecognitionEvent({std::move(transcript), std::nullopt});
    }

    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    WakePhraseDetector detector{AppLocale::english, clock};
    std::vector<std::string> detected;
};

TEST_F(WakePhraseDetectorTest, ReportsAtMostOneDetectionPerCooldownAndEmptiesStaleWindows) {
    start({"minsu"});
    const std::vector<std::tuple<Clock::duration, std::string, std::string, std::size_t>> steps{
        {0ms, "hey", "hey", 0},
        {400ms, "hey min", "hey min", 0},
        {800ms, "hey minsu", "", 1},
        {1000ms, "hey minsu come", " come", 1},
        // The cooldown runs 8 s from the last report, not from the last match.
        {3000ms, "hey minsu come here minsu", "", 1},
        {8799ms, "hey minsu come here minsu minsu", "", 1},
        {8800ms, "hey minsu come here minsu minsu minsu", "", 2},
    };
    for (const auto& [at, transcript, window, reports] : steps) {
        hear(at, transcript);
        EXPECT_EQ(detector.recentMatchingText(), window) << transcript;
        EXPECT_EQ(detected.size(), reports) << transcript;
    }
}

TEST_F(WakePhraseDetectorTest, APauseOfExactlyTheResetIntervalEmptiesTheWindowBeforeNewWords) {
    // The last row also shows that a new start forgets the earlier session's cooldown.
    for (const auto& [pause, window, reports] :
         {std::tuple{1199ms, "", 1u}, std::tuple{1200ms, " park", 0u}, std::tuple{1199ms, "", 1u}}) {
        detected.clear();
        start({"Mr Park"});
        hear(0s, "hello mr");
        hear(pause, "hello mr park");
        EXPECT_EQ(detected.size(), reports) << pause.count() << " ms";
        EXPECT_EQ(detector.recentMatchingText(), window) << pause.count() << " ms";
    }
}

TEST_F(WakePhraseDetectorTest, MatchingFollowsTheDetectorsLanguage) {
    // "지훈아" is one word to English matching.
    WakePhraseDetector korean(AppLocale::korean, clock);
    korean.start(
        {"지훈"}, [this](const std::string& phrase) { detected.push_back(phrase); }, nullptr);
    korean.handleRecognitionEvent({"지훈아", std::nullopt});
    EXPECT_EQ(detected, std::vector<std::string>{"지훈"});
}

} // namespace
} // namespace harkwell
