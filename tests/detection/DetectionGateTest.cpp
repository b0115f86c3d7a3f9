#include "detection/DetectionGate.h"

#include "SettableClock.h"

#include <gtest/gtest.h>

#include <tuple>

namespace harkwell {
namespace {

using namespace std::chrono_literals;

using FakeClock = testing::SettableClock;

class DetectionGateTest : public ::testing::Test {
protected:
    // The transcript at a time since the start; records what it reports.
    void hear(Clock::duration at, const std::string& transcript, bool heardNearSpeech = true) {
        clock->elapsed = at;
        if (const auto match = gate.hear(transcript, heardNearSpeech)) {
            detected.push_back(match->targetPhrase);
            matchedWindows.push_back(match->matchedText);
        }
    }

    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    DetectionGate gate{AppLocale::english, clock};
    std::vector<std::string> detected;
    std::vector<std::string> matchedWindows;
};

TEST_F(DetectionGateTest, ReportsAtMostOneDetectionPerCooldownAndEmptiesTheWindowOnEveryMatch) {
    gate.reset({"minsu"});
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
        EXPECT_EQ(gate.recentMatchingText(), window) << transcript;
        EXPECT_EQ(detected.size(), reports) << transcript;
    }
    EXPECT_EQ(matchedWindows, (std::vector<std::string>{"hey minsu", " minsu"}));
}

// A phrase heard without near speech is not a call, and does not hold back the call right after.
TEST_F(DetectionGateTest, AMatchWithoutNearSpeechIsDroppedWithoutACooldown) {
    gate.reset({"minsu"});
    const std::vector<std::tuple<Clock::duration, std::string, bool, std::string, std::size_t>> steps{
        {0ms, "so minsu", false, "", 0}, // distant chatter: the window is emptied all the same
        {400ms, "so minsu said", false, " said", 0},
        {800ms, "so minsu said hey minsu", true, "", 1},
    };
    for (const auto& [at, transcript, near, window, reports] : steps) {
        hear(at, transcript, near);
        EXPECT_EQ(gate.recentMatchingText(), window) << transcript;
        EXPECT_EQ(detected.size(), reports) << transcript;
    }
}

TEST_F(DetectionGateTest, APauseOfExactlyTheResetIntervalEmptiesTheWindowBeforeNewWords) {
    // The last row also shows that a reset forgets the earlier session's cooldown.
    for (const auto& [pause, window, reports] :
         {std::tuple{1199ms, "", 1u}, std::tuple{1200ms, " park", 0u}, std::tuple{1199ms, "", 1u}}) {
        detected.clear();
        gate.reset({"Mr Park"});
        hear(0s, "hello mr");
        hear(pause, "hello mr park");
        EXPECT_EQ(detected.size(), reports) << pause.count() << " ms";
        EXPECT_EQ(gate.recentMatchingText(), window) << pause.count() << " ms";
    }
}

TEST_F(DetectionGateTest, TheWindowTakesWhatATranscriptAddsAndStartsAfreshWhenTheTranscriptIsRewritten) {
    gate.reset({"Minsu"});
    const std::vector<std::pair<std::string, std::string>> steps{
        {"min", "min"},
        {"", ""},     // the utterance ended
        {"su", "su"}, // joined to the earlier "min" this would be a false call
        {"su hey", "su hey"},
        {"hey minsu", ""},        // the recogniser dropped "su": only " minsu" is new
        {"so there", "so there"}, // rewritten: it replaces the window
    };
    for (const auto& [transcript, window] : steps) {
        hear(1s, transcript);
        EXPECT_EQ(gate.recentMatchingText(), window) << transcript;
    }
    EXPECT_EQ(matchedWindows, std::vector<std::string>{"su hey minsu"});

    // A reset also forgets the last transcript: the next one is taken whole.
    gate.reset({"Minsu"});
    hear(1s, "so there minsu");
    EXPECT_EQ(matchedWindows.back(), "so there minsu");
}

TEST_F(DetectionGateTest, RequiringAnAddressHoldsAPhraseBackUntilItIsSaidAsOne) {
    gate.setRequiresAddress(true);
    gate.reset({"Dr. Kim"});
    // One utterance growing word by word, as the recogniser reports it, then the next ones.
    const std::vector<std::pair<std::string, std::size_t>> steps{
        {"i think dr kim", 0},      // the next word is held back: nothing after the phrase yet
        {"i think dr kim left", 0}, // talk about someone
        {"", 0},                    // the utterance ended
        {"could you ask dr kim", 0},
        {"", 1}, // the phrase ended the utterance: an address before a pause
    };
    for (const auto& [transcript, reports] : steps) {
        hear(1s, transcript);
        EXPECT_EQ(detected.size(), reports) << transcript;
    }
    clock->elapsed = 20s;
    EXPECT_TRUE(gate.hear("excuse me dr kim do you"));
    clock->elapsed = 40s;
    EXPECT_TRUE(gate.hear("dr kim"));
    // Cut from the middle of someone's talk, a first word opens nothing; a greeting still counts.
    clock->elapsed = 60s;
    EXPECT_FALSE(gate.hear("dr kim is in the lab", true, false));
    EXPECT_TRUE(gate.hear("hey dr kim", true, false));
}

TEST_F(DetectionGateTest, MatchingFollowsTheGatesLocaleAndPhrasesAreNormalised) {
    // "지훈아" is one word to English matching.
    DetectionGate korean(AppLocale::korean, clock);
    korean.reset({" 지훈 ", "지훈"});
    EXPECT_EQ(korean.phrases(), std::vector<std::string>{"지훈"});
    const auto match = korean.hear("지훈아");
    ASSERT_TRUE(match);
    EXPECT_EQ(match->targetPhrase, "지훈");
    gate.reset({"지훈"});
    hear(0s, "지훈아");
    EXPECT_TRUE(detected.empty());
}

} // namespace
} // namespace harkwell
