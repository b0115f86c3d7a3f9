#include "detection/AddressCue.h"

#include <gtest/gtest.h>

namespace harkwell {
namespace {

TEST(AddressCueTest, TellsAnAddressFromTalkAboutSomeone) {
    const struct {
        const char* utterance;
        const char* phrase;
        std::optional<AddressCue> cue;
    } cases[]{
        {"james can you come here", "James", AddressCue::utteranceStart},
        {"hey james", "James", AddressCue::afterGreeting},
        {"excuse me dr kim do you have", "Dr. Kim", AddressCue::afterGreeting},
        {"sorry to bother you siobhan the", "Siobhan", AddressCue::afterYou},
        {"could you help me with this one priya", "Priya", AddressCue::beforePause},
        {"i think james left the keys", "James", std::nullopt},
        {"the kim of it", "Dr. Kim", std::nullopt},                  // not the whole phrase
        {"tell me james is here", "James", std::nullopt},            // 'me' opens an address only after 'excuse'
        {"james said hi james", "James", AddressCue::afterGreeting}, // the last occurrence counts
        {"", "James", std::nullopt},
        {"james", "", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(addressCue(c.utterance, c.phrase), c.cue) << c.utterance;
    }
}

} // namespace
} // namespace harkwell
