#include "speech/Pronunciation.h"

#include <gtest/gtest.h>

#include <map>

namespace harkwell {
namespace {

TEST(PronunciationTest, SpellsTitlesNumbersAndNames) {
    // The dictionary's 'dr' is the street, 'drive'; its 'james' is odd, so Flite's is added after it.
    const std::map<std::string, std::vector<std::string>, std::less<>> dictionary{
        {"doctor", {"D AA K T ER"}},   {"dr", {"D R AY V"}},     {"two", {"T UW"}},
        {"forty", {"F AO R T IY"}},    {"one", {"W AH N"}},      {"zero", {"Z IY R OW"}},
        {"seven", {"S EH V AH N"}},    {"james", {"JH AE M Z"}}, {"hundred", {"HH AH N D R AH D", "HH AH N D ER D"}},
        {"read", {"R IY D", "R EH D"}}};
    const DictionaryLookup lookUp = [&](std::string_view word) {
        const auto found = dictionary.find(word);
        return found == dictionary.end() ? std::vector<std::string>() : found->second;
    };
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases{
        {"dr", {"D AA K T ER"}},
        {"read", {"R IY D", "R EH D"}}, // every pronunciation the dictionary has, in its order, none twice
        {"james", {"JH AE M Z", "JH EY M Z"}},
        {"42", {"F AO R T IY T UW"}},
        {"102", {"W AH N HH AH N D R AH D T UW"}},
        {"007", {"Z IY R OW Z IY R OW S EH V AH N"}}, // a code, digit by digit
        {"민수", {}},                                 // this model has no phones for Hangul
    };
    for (const auto& [token, expected] : cases) {
        EXPECT_EQ(englishPronunciations(token, lookUp), expected) << token;
    }
}

} // namespace
} // namespace harkwell
