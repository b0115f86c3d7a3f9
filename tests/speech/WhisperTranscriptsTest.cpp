// What of Whisper's text is kept, and how it is checked against the call phrases.
#include "speech/WhisperTranscripts.h"
#include "detection/DetectionGate.h"
#include "matching/WakePhraseMatching.h"
#include "speech/WhisperTranscriber.h"

#include "SettableClock.h"

#include <gtest/gtest.h>

namespace harkwell {
namespace {

using Rewrites = std::vector<std::pair<std::string, std::string>>;

TEST(WhisperTranscriberTest, DropsTheRepeatsWhisperFallsIntoAtTheEndOfAWindow) {
    for (const auto& [heard, kept] : Rewrites{
             {"James, can you come here? James, can you come here", "James, can you come here?"},
             {"Hey James. Hey James. Hey", "Hey James."},
             {"They James. They James. They James. They James", "They James."},
             {" Could you help me with this one, James?", " Could you help me with this one, James?"},
             {"James James", "James"},
             {"Dr. Kimberley will see you now. Dr. Kim", "Dr. Kimberley will see you now."}, // cut short
             {"no no, that was James", "no no, that was James"}, // a repeat that is not the whole text
             {"", ""},
         }) {
        EXPECT_EQ(withoutRepetition(heard), kept) << heard;
    }
}

TEST(WhisperTranscriberTest, DropsTheStartOfACharacterTheTokenLimitCut) {
    const std::string whole = "민수야, 잠깐"; // 깐 is EA B9 90
    for (const auto& [heard, kept] : Rewrites{
             {whole, whole},
             {whole.substr(0, whole.size() - 1), "민수야, 잠"},
             {whole.substr(0, whole.size() - 2), "민수야, 잠"},
             {"James, come here.", "James, come here."},
             {"Café", "Café"},
             {"Caf\xC3", "Caf"},
             {"\xF0\x9F\x98", ""}, // three bytes of a four-byte character
             {"\x80", "\x80"},     // no lead byte at all: nothing to tell, left as it is
             {"", ""},
         }) {
        EXPECT_EQ(withoutCutCharacter(heard), kept) << heard;
    }
}

TEST(TwoStageRecognizerTest, ATranscriptThatEchoesThePromptIsNoCall) {
    // In Korean a call says the phrase in one of its forms: two forms in a row are the prompt too.
    const std::vector<std::string> english{"James", "Minsu", "Dr. Kim"};
    const auto korean = wakePhraseContextualStrings({"민수", "지훈"}, AppLocale::korean);
    const struct {
        std::string transcript;
        const std::vector<std::string>& phrases;
        bool echoes;
    } cases[]{
        {"James, Minsu, Dr. Kim.", english, true},
        {"Nashev, Minsu, Minsu, Minsu", english, true},
        {"Dr. Kim James", english, true},
        {"Jamie and James and William.", english, false},
        {"James, can you come here?", english, false},
        {"Excuse me Dr. Kim, do you have a minute?", english, false},
        {"Minsu", english, false},
        {"민수, 민수야, 민수 씨.", korean, true},
        {"지훈아 민수님", korean, true},
        {"민수야, 잠깐 이리 와 줄래?", korean, false},
        {"죄송한데 지훈 씨, 회의가 지금 시작해요.", korean, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(echoesThePrompt(c.transcript, c.phrases), c.echoes) << c.transcript;
    }
}

TEST(TwoStageRecognizerTest, ANamePromptedMustSoundAlikeUnprompted) {
    constexpr double closer = 0.39;
    const struct {
        std::string heardAlone, phrase;
        double editsPerLetter;
        bool alike;
    } cases[]{
        {"Minsoo, can you come here?", "Minsu", 0.6, true},
        {"Excuse me, Doctor Kim.", "Dr. Kim", 0.6, true},
        {"I think Shiv on left the keys.", "Siobhan", 0.6, false}, // spelt far from its sound: lost
        {"some devices are designed to deny user's name.", "Minsu", 0.6, false},
        {"others, freedom to change the software.", "Dr. Kim", 0.6, false},
        {"Thank you.", "James", 0.6, false},
        {"", "James", 0.6, false},
        {"Jamie, can you come here?", "James", 0.6, true}, // 2 of 5 letters: alike on High only
        {"Jamie, can you come here?", "James", closer, false},
        // Closer: a spelling variant passes, a different word with the same start does not.
        {"Sorry to bother you, Pria.", "Priya", closer, true},
        {"Minsoo, can you come here?", "Minsu", closer, true},
        {"Excuse me, Doctor Kim.", "Dr. Kim", closer, true},
        {"Mister Lee, your table is ready.", "Mr. Lee", closer, true},
        {"Prior to that, Minnie went for a walk.", "Priya", closer, false},
        // Hangul compares letter by letter (jamo): 민서 is one edit of five from 민수, where a
        // syllable of two, or the bytes of UTF-8, would weigh it far more or less than its sound.
        {"민서야, 잠깐 이리 와 줄래?", "민수야", closer, true},           // ㅓ for ㅜ: 1 of 7
        {"민수야 잠깐 이리 와 줄래?", "민수 야", closer, true},           // the form written with a space
        {"죄송한데 민 수 씨, 회의가 시작해요.", "민수 씨", closer, true}, // a syllable apart
        {"지운 씨, 회의가 지금 시작해요.", "지훈 씨", closer, true},      // ㅇ for ㅎ: 1 of 7
        {"민호 씨, 회의가 지금 시작해요.", "민수", closer, false},        // ㅎㅗ for ㅅㅜ: 2 of 5
        {"이 제품은 민수용으로 만든 거예요.", "민수", closer, false},     // inside a longer word
        {"유나이티드 항공을 타고 왔어요.", "유나", closer, false},
        {"재생 스트림이 배출되었습니다.", "서연", closer, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(soundsLike(c.heardAlone, c.phrase, c.editsPerLetter), c.alike) << c.heardAlone << " / " << c.phrase;
    }
}

TEST(TwoStageRecognizerTest, ANameSpeltItsOwnWayIsWrittenAsThePhraseWhereItStands) {
    const struct {
        std::string transcript, phrase;
        std::optional<std::string> respelled;
    } cases[]{
        {"Excuse me, Shobhan. Do you have a minute?", "Siobhan", "Excuse me, Siobhan. Do you have a minute?"},
        {"Could you help me with this one? Shaobhan.", "Siobhan", "Could you help me with this one? Siobhan."},
        {"I think Shio-bhan left the keys.", "Siobhan", "I think Siobhan left the keys."},
        {"Doctor Kimm, the meeting is starting.", "Dr. Kim", "Dr. Kim, the meeting is starting."},
        {"Pria, no, Priya!", "Priya", "Pria, no, Priya!"}, // the closest run, not the first near one
        {"I think Sheldon left the keys.", "Siobhan", std::nullopt},
        {"Jamie and Jameson went to the ground.", "James", std::nullopt}, // a longer name
        {"Kimberly said the report is done.", "Kim", std::nullopt},
        {"Thank you.", "James", std::nullopt},
        {"", "James", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(spelledAsPhrase(c.transcript, c.phrase, 0.39), c.respelled) << c.transcript << " / " << c.phrase;
    }
}

TEST(TwoStageRecognizerTest, AWindowsTranscriptArrivesWordByWordSoThatAnEarlyNameIsHeard) {
    using Partials = std::vector<std::string>;
    EXPECT_EQ(growingTranscripts(" James, come  here."), (Partials{"James,", "James, come", "James, come here."}));
    EXPECT_EQ(growingTranscripts("민수야 잠깐만"), (Partials{"민수야", "민수야 잠깐만"}));
    EXPECT_EQ(growingTranscripts(""), (Partials{""})) << "an empty window still says what it heard";

    // A whole window at once holds more than the matching's recent window keeps; word by word the
    // name at its start is heard, once.
    for (const std::string transcript : {" Minsu, can you come over here for a second, please? I need a hand.",
                                         " Excuse me Dr. Kim, do you have a minute to look at this for me?"}) {
        DetectionGate gate(std::make_shared<testing::SettableClock>());
        gate.reset({"Minsu", "Dr. Kim"});
        int detections = 0;
        for (const auto& partial : growingTranscripts(transcript)) {
            detections += gate.hear(partial, AppLocale::english).has_value();
        }
        EXPECT_EQ(detections, 1) << transcript;
    }
}

} // namespace
} // namespace harkwell
