#include "speech/Pronunciation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

namespace harkwell {
namespace {

using testing::ElementsAre;

TEST(PronunciationTest, SpellsTitlesNumbersAndNames) {
    const std::map<std::string, std::vector<std::string>, std::less<>> dictionary{
        {"doctor", {"D AA K T ER"}},
        {"dr", {"D R AY V"}}, // the dictionary's 'dr' is the street: 'drive'
        {"mister", {"M IH S T ER"}},
        {"two", {"T UW"}},
        {"forty", {"F AO R T IY"}},
        {"one", {"W AH N"}},
        {"hundred", {"HH AH N D R AH D", "HH AH N D ER D"}},
        {"zero", {"Z IY R OW"}},
        {"seven", {"S EH V AH N"}},
        {"kim", {"K IH M"}},
        {"read", {"R IY D", "R EH D"}},
    };
    const DictionaryLookup lookUp = [&](std::string_view word) {
        const auto found = dictionary.find(word);
        return found == dictionary.end() ? std::vector<std::string>() : found->second;
    };
    struct Case {
        std::string token;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases{
        {"dr", {"D AA K T ER"}},
        {"mr", {"M IH S T ER"}},
        {"kim", {"K IH M"}},
        {"read", {"R IY D", "R EH D"}}, // every pronunciation the dictionary has, in its order
        {"42", {"F AO R T IY T UW"}},
        {"102", {"W AH N HH AH N D R AH D T UW"}},
        {"007", {"Z IY R OW Z IY R OW S EH V AH N"}}, // a code, digit by digit
        {"kim2", {"K IH M T UW"}},
        {"", {}},
        {"민수", {}}, // this model has no phones for Hangul
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(englishPronunciations(testCase.token, lookUp), testCase.expected) << testCase.token;
    }

    // Names no dictionary has get phones from the letter-to-sound rules: 'minsu' sounds like m-i-n-s-u.
    const auto minsu = englishPronunciations("minsu", lookUp);
    ASSERT_THAT(minsu, testing::SizeIs(1));
    EXPECT_EQ(minsu[0].substr(0, 2), "M ");
    EXPECT_NE(minsu[0].find("N S"), std::string::npos) << minsu[0];
    const auto siobhan = englishPronunciations("siobhan", lookUp);
    ASSERT_THAT(siobhan, testing::SizeIs(1));
    EXPECT_EQ(siobhan[0].find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ "), std::string::npos) << siobhan[0];
}

TEST(PronunciationTest, AddsFlitesPronunciationWhenTheDictionarySaysItOtherwise) {
    // A dictionary that says 'james' oddly keeps its own first, then gets Flite's.
    const DictionaryLookup lookUp = [](std::string_view word) {
        return word == "james" ? std::vector<std::string>{"JH AE M Z"} : std::vector<std::string>();
    };
    EXPECT_THAT(englishPronunciations("james", lookUp), ElementsAre("JH AE M Z", "JH EY M Z"));
}

} // namespace
} // namespace harkwell
