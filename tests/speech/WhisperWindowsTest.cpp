// Which audio the accurate recogniser is given, how its queue behaves under load, and what of
// its text is kept.
#include "speech/WhisperWindows.h"
#include "detection/DetectionGate.h"
#include "matching/WakePhraseMatching.h"
#include "speech/TwoStageRecognizer.h"
#include "speech/WhisperTranscriber.h"

#include "SettableClock.h"

#include <gtest/gtest.h>

#include <thread>

namespace harkwell {
namespace {

constexpr std::uint64_t frame = WhisperWindowPlanner::frameSamples;

AudioWindow frames(std::uint64_t begin, std::uint64_t end) { return {begin * frame, end * frame}; }

struct Step {
    std::uint64_t from, to; // frames [from, to) are near speech
};

// The windows planned over `total` frames, each with the frame it was given at; a candidate is
// proposed after the frames in `candidates`.
// Every 2 s the last 4 s, no shortest window: round numbers for the table below.
constexpr WhisperWindowPlanner::Settings tableSettings{.periodFrames = 20,
                                                       .longestFrames = 40,
                                                       .candidateFrames = 30,
                                                       .shortestFrames = 0,
                                                       .prerollFrames = 3,
                                                       .endGapFrames = 4,
                                                       .tailFrames = 2};

std::vector<std::pair<std::uint64_t, AudioWindow>> plan(std::uint64_t total, std::vector<Step> near,
                                                        std::vector<std::uint64_t> candidates = {},
                                                        WhisperWindowPlanner::Settings settings = tableSettings) {
    WhisperWindowPlanner planner(settings);
    std::vector<std::pair<std::uint64_t, AudioWindow>> windows;
    for (std::uint64_t f = 0; f < total; ++f) {
        const bool isNear = std::any_of(near.begin(), near.end(), [f](Step s) { return f >= s.from && f < s.to; });
        if (auto window = planner.hearFrame(isNear)) {
            windows.emplace_back(f, *window);
        }
        for (auto n = std::count(candidates.begin(), candidates.end(), f); n > 0; --n) {
            if (auto window = planner.candidate()) {
                windows.emplace_back(f, *window);
            }
        }
    }
    return windows;
}

TEST(WhisperWindowPlannerTest, TranscribesNearSpeechAsItGoesOnAndWhenItEnds) {
    using Windows = std::vector<std::pair<std::uint64_t, AudioWindow>>;
    struct Case {
        std::string name;
        std::uint64_t total;
        std::vector<Step> near;
        std::vector<std::uint64_t> candidates;
        Windows expected;
        WhisperWindowPlanner::Settings settings = tableSettings;
    };
    const std::vector<Case> cases{
        {"a quiet room is never transcribed", 300, {}, {}, {}},
        // Ends 4 frames after the last near one; from 3 frames before it to 2 after it.
        {"a short call, once it ends", 40, {{10, 15}}, {}, {{18, frames(7, 17)}}},
        {"a pause shorter than the gap is one utterance", 60, {{10, 15}, {17, 22}}, {}, {{25, frames(7, 24)}}},
        {"two utterances, two windows", 60, {{10, 15}, {30, 35}}, {}, {{18, frames(7, 17)}, {38, frames(27, 37)}}},
        {"long talk: every 2 s the last 4 s, and its end",
         80,
         {{10, 61}},
         {},
         {{29, frames(7, 30)}, {49, frames(10, 50)}, {64, frames(23, 63)}}},
        {"a candidate in a quiet room: the last 3 s at once", 100, {}, {60}, {{60, frames(31, 61)}}},
        {"a second candidate with no new audio: the window just given, again",
         100,
         {},
         {60, 60},
         {{60, frames(31, 61)}, {60, frames(31, 61)}}},
        {"a candidate as a window inside talk is given: that window again",
         40,
         {{10, 40}},
         {29},
         {{29, frames(7, 30)}, {29, frames(7, 30)}}},
        {"a candidate just after an utterance's window: the last 3 s again",
         40,
         {{10, 15}},
         {18},
         {{18, frames(7, 17)}, {18, frames(0, 19)}}},
        {"a candidate inside talk puts the next periodic window a period later",
         80,
         {{10, 61}},
         {20},
         {{20, frames(7, 21)}, {40, frames(7, 41)}, {60, frames(21, 61)}, {64, frames(23, 63)}}},
        {"a fragment of an utterance is given with the audio before it",
         40,
         {{10, 15}},
         {},
         {{18, frames(0, 17)}},
         {.shortestFrames = 25}},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        const auto windows = plan(each.total, each.near, each.candidates, each.settings);
        ASSERT_EQ(windows.size(), each.expected.size());
        for (std::size_t i = 0; i < windows.size(); ++i) {
            EXPECT_EQ(windows[i].first, each.expected[i].first) << "window " << i;
            EXPECT_EQ(windows[i].second.begin / frame, each.expected[i].second.begin / frame) << "window " << i;
            EXPECT_EQ(windows[i].second.end / frame, each.expected[i].second.end / frame) << "window " << i;
        }
    }
}

TEST(WhisperWindowPlannerTest, SaysWhetherAWindowOpensAndEndsItsUtterance) {
    WhisperWindowPlanner planner(tableSettings);
    std::vector<AudioWindow> windows;
    // Near speech from frame 10 to 60: periodic windows at 30 and 50, the end at 64.
    for (std::uint64_t f = 0; f < 80; ++f) {
        if (auto window = planner.hearFrame(f >= 10 && f < 61)) {
            windows.push_back(*window);
        }
    }
    ASSERT_EQ(windows.size(), 3u);
    EXPECT_TRUE(windows[0].opensUtterance) << "the first 2 s, from before the first word";
    EXPECT_FALSE(windows[0].endsUtterance) << "cut while the talk goes on";
    EXPECT_FALSE(windows[1].opensUtterance) << "the last 4 s of 4.3: the first words are cut off";
    EXPECT_FALSE(windows[2].opensUtterance);
    EXPECT_TRUE(windows[2].endsUtterance);
}

TEST(AudioWindowQueueTest, AFloodKeepsTheNewestWindowsAndCountsTheRest) {
    AudioWindowQueue queue(2);
    for (std::uint64_t i = 0; i < 100; ++i) {
        queue.push({i, i + 1});
    }
    EXPECT_EQ(queue.dropped(), 98u);
    EXPECT_EQ(queue.pop(), (AudioWindow{98, 99}));
    EXPECT_EQ(queue.pop(), (AudioWindow{99, 100}));
    queue.close();
    EXPECT_EQ(queue.pop(), std::nullopt) << "closed: nothing more, and no wait";
    queue.push({1, 2});
    EXPECT_EQ(queue.pop(), std::nullopt) << "nothing is taken after close";
}

TEST(AudioWindowQueueTest, AudioFromAFileWaitsForTheRecogniserInsteadOfDropping) {
    AudioWindowQueue queue(1);
    std::vector<AudioWindow> taken;
    std::thread recogniser([&] {
        while (const auto window = queue.pop()) {
            taken.push_back(*window);
        }
    });
    for (std::uint64_t i = 0; i < 50; ++i) {
        queue.push({i, i + 1}, true);
    }
    // Returns once the recogniser took the last window and asked for the next one.
    queue.push({50, 51}, true);
    queue.close();
    recogniser.join();
    EXPECT_EQ(queue.dropped(), 0u);
    ASSERT_GE(taken.size(), 50u);
    for (std::uint64_t i = 0; i < 50; ++i) {
        EXPECT_EQ(taken[i], (AudioWindow{i, i + 1}));
    }
}

TEST(AudioHistoryTest, GivesWhatItStillKeepsOfAWindow) {
    AudioHistory history(10);
    std::vector<std::int16_t> samples;
    for (std::int16_t i = 0; i < 25; ++i) {
        samples.push_back(static_cast<std::int16_t>(i * 1024));
    }
    history.append(std::span(samples).first(12));
    history.append(std::span(samples).subspan(12));
    EXPECT_EQ(history.end(), 25u);
    struct Case {
        AudioWindow window;
        std::vector<float> expected;
    };
    for (const auto& [window, expected] : std::vector<Case>{
             {{5, 20}, {15 / 32.f, 16 / 32.f, 17 / 32.f, 18 / 32.f, 19 / 32.f}}, // the start is gone
             {{23, 40}, {23 / 32.f, 24 / 32.f}},                                 // the rest is not there yet
             {{0, 10}, {}},                                                      // all gone
         }) {
        EXPECT_EQ(history.samples(window), expected) << window.begin << "-" << window.end;
    }
}

} // namespace
} // namespace harkwell

namespace harkwell {
namespace {

TEST(WhisperTranscriberTest, DropsTheRepeatsWhisperFallsIntoAtTheEndOfAWindow) {
    for (const auto& [heard, kept] : std::vector<std::pair<std::string, std::string>>{
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
    for (const auto& [heard, kept] : std::vector<std::pair<std::string, std::string>>{
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

} // namespace
} // namespace harkwell

namespace harkwell {
namespace {

TEST(TwoStageRecognizerTest, ATranscriptThatEchoesThePromptIsNoCall) {
    const std::vector<std::string> phrases{"James", "Minsu", "Dr. Kim"};
    for (const auto& [transcript, echoes] : std::vector<std::pair<std::string, bool>>{
             {"James, Minsu, Dr. Kim.", true},
             {"Nashev, Minsu, Minsu, Minsu", true},
             {"Dr. Kim James", true},
             {"Jamie and James and William.", false},
             {"James, can you come here?", false},
             {"Excuse me Dr. Kim, do you have a minute?", false},
             {"Minsu", false},
         }) {
        EXPECT_EQ(echoesThePrompt(transcript, phrases), echoes) << transcript;
    }
    // In Korean a call says the phrase in one of its forms: two forms in a row are the prompt too.
    const auto forms = wakePhraseContextualStrings({"민수", "지훈"}, AppLocale::korean);
    for (const auto& [transcript, echoes] : std::vector<std::pair<std::string, bool>>{
             {"민수, 민수야, 민수 씨.", true},
             {"지훈아 민수님", true},
             {"민수야, 잠깐 이리 와 줄래?", false},
             {"죄송한데 지훈 씨, 회의가 지금 시작해요.", false},
         }) {
        EXPECT_EQ(echoesThePrompt(transcript, forms), echoes) << transcript;
    }
}

TEST(TwoStageRecognizerTest, ANamePromptedMustSoundAlikeUnprompted) {
    struct Case {
        std::string heardAlone, phrase;
        bool alike;
    };
    for (const auto& [heardAlone, phrase, alike] : std::vector<Case>{
             {"Minsoo, can you come here?", "Minsu", true},
             {"Excuse me, Doctor Kim.", "Dr. Kim", true},
             {"I think Shiv on left the keys.", "Siobhan", false}, // spelt far from its sound: lost
             {"Sorry to bother you, Pria.", "Priya", true},
             {"some devices are designed to deny user's name.", "Minsu", false},
             {"others, freedom to change the software.", "Dr. Kim", false},
             {"Thank you.", "James", false},
             {"", "James", false},
         }) {
        EXPECT_EQ(soundsLike(heardAlone, phrase), alike) << heardAlone << " / " << phrase;
    }
    // Closer: a spelling variant passes, a different word with the same start does not.
    for (const auto& [heardAlone, phrase, alike] : std::vector<Case>{
             {"Sorry to bother you, Pria.", "Priya", true},
             {"Minsoo, can you come here?", "Minsu", true},
             {"Excuse me, Doctor Kim.", "Dr. Kim", true},
             {"Mister Lee, your table is ready.", "Mr. Lee", true},
             {"Prior to that, Minnie went for a walk.", "Priya", false},
         }) {
        EXPECT_EQ(soundsLike(heardAlone, phrase, 0.39), alike) << heardAlone << " / " << phrase;
    }
    // Hangul compares letter by letter (jamo): 민서 is one edit of five from 민수, where a syllable
    // of two, or the bytes of UTF-8, would weigh it far more or less than its sound.
    for (const auto& [heardAlone, phrase, alike] : std::vector<Case>{
             {"민서야, 잠깐 이리 와 줄래?", "민수야", true},           // ㅓ for ㅜ: 1 of 7
             {"민수야 잠깐 이리 와 줄래?", "민수 야", true},           // the form written with a space
             {"죄송한데 민 수 씨, 회의가 시작해요.", "민수 씨", true}, // a syllable apart
             {"지훈 씨, 회의가 지금 시작해요.", "지훈 씨", true},
             {"지운 씨, 회의가 지금 시작해요.", "지훈 씨", true},  // ㅇ for ㅎ: 1 of 7
             {"민호 씨, 회의가 지금 시작해요.", "민수", false},    // ㅎㅗ for ㅅㅜ: 2 of 5
             {"이 제품은 민수용으로 만든 거예요.", "민수", false}, // inside a longer word
             {"유나이티드 항공을 타고 왔어요.", "유나", false},
             {"재생 스트림이 배출되었습니다.", "서연", false},
         }) {
        EXPECT_EQ(soundsLike(heardAlone, phrase, 0.39), alike) << heardAlone << " / " << phrase;
    }
}

TEST(TwoStageRecognizerTest, ANameSpeltItsOwnWayIsWrittenAsThePhraseWhereItStands) {
    struct Case {
        std::string transcript, phrase;
        std::optional<std::string> respelled;
    };
    for (const auto& [transcript, phrase, respelled] : std::vector<Case>{
             {"Excuse me, Shobhan. Do you have a minute?", "Siobhan", "Excuse me, Siobhan. Do you have a minute?"},
             {"Could you help me with this one? Shaobhan.", "Siobhan", "Could you help me with this one? Siobhan."},
             {"I think Shio-bhan left the keys.", "Siobhan", "I think Siobhan left the keys."},
             {"Doctor Kimm, the meeting is starting.", "Dr. Kim", "Dr. Kim, the meeting is starting."},
             // The closest run, not the first near one.
             {"Pria, no, Priya!", "Priya", "Pria, no, Priya!"},
             {"I think Sheldon left the keys.", "Siobhan", std::nullopt},
             {"Jamie and Jameson went to the ground.", "James", std::nullopt}, // a longer name
             {"Kimberly said the report is done.", "Kim", std::nullopt},
             {"Thank you.", "James", std::nullopt},
             {"", "James", std::nullopt},
         }) {
        EXPECT_EQ(spelledAsPhrase(transcript, phrase, 0.39), respelled) << transcript << " / " << phrase;
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
        DetectionGate gate(AppLocale::english, std::make_shared<testing::SettableClock>());
        gate.reset({"Minsu", "Dr. Kim"});
        int detections = 0;
        for (const auto& partial : growingTranscripts(transcript)) {
            detections += gate.hear(partial).has_value();
        }
        EXPECT_EQ(detections, 1) << transcript;
    }
}

} // namespace
} // namespace harkwell
