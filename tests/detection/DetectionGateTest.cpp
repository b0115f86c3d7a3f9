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
    void hear(Clock::duration at, const std::string& transcript, bool heardNearSpeech = true,
              AppLocale language = AppLocale::english) {
        clock->elapsed = at;
        if (const auto match = gate.hear(transcript, language, heardNearSpeech)) {
            detected.push_back(match->targetPhrase);
            matchedWindows.push_back(match->matchedText);
        }
    }

    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    DetectionGate gate{clock};
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
        EXPECT_EQ(gate.recentMatchingText(AppLocale::english), window) << transcript;
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
        EXPECT_EQ(gate.recentMatchingText(AppLocale::english), window) << transcript;
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
        EXPECT_EQ(gate.recentMatchingText(AppLocale::english), window) << pause.count() << " ms";
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
        EXPECT_EQ(gate.recentMatchingText(AppLocale::english), window) << transcript;
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
    EXPECT_TRUE(gate.hear("excuse me dr kim do you", AppLocale::english));
    clock->elapsed = 40s;
    EXPECT_TRUE(gate.hear("dr kim", AppLocale::english));
    // Cut from the middle of someone's talk, a first word opens nothing; a greeting still counts.
    clock->elapsed = 60s;
    EXPECT_FALSE(gate.hear("dr kim is in the lab", AppLocale::english, true, false));
    EXPECT_TRUE(gate.hear("hey dr kim", AppLocale::english, true, false));
}

// The transcripts of each language are a stream of their own, matched with that language's policy
// against its phrases; an English transcript between two Korean ones neither empties nor rewrites
// the Korean window, and one report silences both languages for the cooldown.
TEST_F(DetectionGateTest, EachLanguageIsAStreamOfItsOwnAndTheCooldownIsShared) {
    const AppLocale en = AppLocale::english, ko = AppLocale::korean;
    gate.reset({" 민수 ", "James", "민수", "Иван"});
    EXPECT_EQ(gate.phrases(), (std::vector<std::string>{"민수", "James"})) << "normalised, none of no language";
    const struct {
        Clock::duration at;
        AppLocale language;
        std::string transcript, englishWindow, koreanWindow;
        std::size_t reports;
    } steps[] = {
        {0ms, ko, "저기", "", "저기", 0},
        {400ms, en, "so i", "so i", "저기", 0},
        {800ms, ko, "저기 민수야", "so i", "", 1},
        {1000ms, en, "so i said james", "", "", 1},    // within the cooldown of the Korean call
        {2000ms, ko, "제임스 씨", "", "제임스 씨", 1}, // never James by romanisation
        {2400ms, en, "minsu ya", "minsu ya", "제임스 씨", 1},
        {2800ms, en, "민수야", "민수야", "제임스 씨", 1}, // a Korean phrase in an English transcript
        {8800ms, en, "hey james", "", "제임스 씨", 2},
        // A Latin name as spelt, with a particle glued to it, in a Korean sentence.
        {17000ms, ko, "James야 이리 와", "", "", 3},
    };
    for (const auto& [at, language, transcript, englishWindow, koreanWindow, reports] : steps) {
        hear(at, transcript, true, language);
        EXPECT_EQ(gate.recentMatchingText(en), englishWindow) << transcript;
        EXPECT_EQ(gate.recentMatchingText(ko), koreanWindow) << transcript;
        EXPECT_EQ(detected.size(), reports) << transcript;
    }
    EXPECT_EQ(detected, (std::vector<std::string>{"민수", "James", "James"}));
    EXPECT_EQ(matchedWindows.front(), "저기 민수야") << "the Korean window, untouched by the English transcript";
}

// Said as an address before a pause: the pause is the end of an utterance in the same language.
TEST_F(DetectionGateTest, AnAddressBeforeAPauseWaitsForThePauseOfItsOwnLanguage) {
    gate.setRequiresAddress(true);
    gate.reset({"민수", "James"});
    hear(0s, "저기 있잖아 민수", true, AppLocale::korean);
    hear(0s, "", true, AppLocale::english);
    EXPECT_TRUE(detected.empty()) << "the English utterance ended, not the Korean one";
    hear(0s, "", true, AppLocale::korean);
    EXPECT_EQ(detected, std::vector<std::string>{"민수"});
}

} // namespace
} // namespace harkwell
