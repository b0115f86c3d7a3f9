#include "speech/Pronunciation.h"

#include <gtest/gtest.h>

#include <map>

namespace harkwell {
namespace {

TEST(PronunciationTest, SpellsAbbreviationsNumbersAndUnknownNames) {
    const std::map<std::string, std::string, std::less<>> dictionary{
        {"doctor", "D AA K T ER"}, {"mister", "M IH S T ER"}, {"two", "T UW"},
        {"forty", "F AO R T IY"},  {"one", "W AH N"},         {"hundred", "HH AH N D R AH D"},
        {"zero", "Z IY R OW"},     {"seven", "S EH V AH N"},  {"kim", "K IH M"},
    };
    const DictionaryLookup lookUp = [&](std::string_view word) -> std::optional<std::string> {
        const auto found = dictionary.find(word);
        return found == dictionary.end() ? std::nullopt : std::optional(found->second);
    };
    struct Case {
        std::string token;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases{
        {"dr", "D AA K T ER"},
        {"mr", "M IH S T ER"},
        {"kim", "K IH M"},
        {"42", "F AO R T IY T UW"},
        {"102", "W AH N HH AH N D R AH D T UW"},
        {"007", "Z IY R OW Z IY R OW S EH V AH N"}, // a code, digit by digit
        {"kim2", "K IH M T UW"},
        {"", std::nullopt},
        {"민수", std::nullopt}, // this model has no phones for Hangul
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(englishPronunciation(testCase.token, lookUp), testCase.expected) << testCase.token;
    }

    // Names no dictionary has get phones from the letter-to-sound rules: 'minsu' sounds like m-i-n-s-u.
    const auto minsu = englishPronunciation("minsu", lookUp);
    ASSERT_TRUE(minsu);
    EXPECT_EQ(minsu->substr(0, 2), "M ");
    EXPECT_NE(minsu->find("N S"), std::string::npos) << *minsu;
    const auto siobhan = englishPronunciation("siobhan", lookUp);
    ASSERT_TRUE(siobhan);
    EXPECT_EQ(siobhan->find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ "), std::string::npos) << *siobhan;
}

} // namespace
} // namespace harkwell
