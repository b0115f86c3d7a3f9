// Which audio the accurate recogniser is given and how its queue behaves under load.
#include "speech/WhisperWindows.h"

#include <gtest/gtest.h>

#include <functional>

#include <thread>
#include <tuple>

namespace harkwell {
namespace {

constexpr std::uint64_t frame = WhisperWindowPlanner::frameSamples;

// Every 2 s the last 4 s, no shortest window, cut on time: round numbers for the tables below.
constexpr WhisperWindowPlanner::Settings tableSettings{.periodFrames = 20,
                                                       .longestFrames = 40,
                                                       .candidateFrames = 30,
                                                       .shortestFrames = 0,
                                                       .prerollFrames = 3,
                                                       .endGapFrames = 4,
                                                       .tailFrames = 2,
                                                       .cutWaitFrames = 0};
constexpr auto cutBetweenWords = [] {
    auto settings = tableSettings;
    settings.cutWaitFrames = 5;
    return settings;
}();

struct Near {
    std::uint64_t from, to; // frames [from, to) are near speech
};

// The windows planned over `total` frames, each with the frame it was given at; a candidate is
// proposed after each frame listed in `candidates`.
std::vector<std::pair<std::uint64_t, AudioWindow>> plan(std::uint64_t total, const std::vector<Near>& near,
                                                        const std::vector<std::uint64_t>& candidates = {},
                                                        WhisperWindowPlanner::Settings settings = tableSettings) {
    WhisperWindowPlanner planner(settings);
    std::vector<std::pair<std::uint64_t, AudioWindow>> windows;
    for (std::uint64_t f = 0; f < total; ++f) {
        const bool isNear = std::any_of(near.begin(), near.end(), [f](Near n) { return f >= n.from && f < n.to; });
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
    using Cuts = std::vector<std::tuple<std::uint64_t, std::uint64_t, std::uint64_t>>; // at, first frame, end frame
    struct Case {
        std::string name;
        std::uint64_t total;
        std::vector<Near> near;
        std::vector<std::uint64_t> candidates;
        Cuts expected;
        WhisperWindowPlanner::Settings settings = tableSettings;
    };
    const std::vector<Case> cases{
        {"a quiet room is never transcribed", 300, {}, {}, {}},
        // Ends 4 frames after the last near one; from 3 frames before it to 2 after it.
        {"a short call, once it ends", 40, {{10, 15}}, {}, {{18, 7, 17}}},
        {"a pause shorter than the gap is one utterance", 60, {{10, 15}, {17, 22}}, {}, {{25, 7, 24}}},
        {"two utterances, two windows", 60, {{10, 15}, {30, 35}}, {}, {{18, 7, 17}, {38, 27, 37}}},
        {"long talk: every 2 s the last 4 s, and its end",
         80,
         {{10, 61}},
         {},
         {{29, 7, 30}, {49, 10, 50}, {64, 23, 63}}},
        {"a candidate in a quiet room: the last 3 s at once", 100, {}, {60}, {{60, 31, 61}}},
        {"a second candidate with no new audio: the window just given, again",
         100,
         {},
         {60, 60},
         {{60, 31, 61}, {60, 31, 61}}},
        {"a candidate as a window inside talk is given: that window again",
         40,
         {{10, 40}},
         {29},
         {{29, 7, 30}, {29, 7, 30}}},
        {"a candidate just after an utterance's window: the last 3 s again",
         40,
         {{10, 15}},
         {18},
         {{18, 7, 17}, {18, 0, 19}}},
        {"a candidate inside talk puts the next periodic window a period later",
         80,
         {{10, 61}},
         {20},
         {{20, 7, 21}, {40, 7, 41}, {60, 21, 61}, {64, 23, 63}}},
        {"a fragment of an utterance is given with the audio before it",
         40,
         {{10, 15}},
         {},
         {{18, 0, 17}},
         {.shortestFrames = 25}},
        // Due at frame 29: cut in the first frame without near speech, else 5 frames late.
        {"long talk is cut between words, or late when no word ends",
         80,
         {{10, 31}, {32, 61}},
         {},
         {{31, 7, 32}, {56, 17, 57}, {64, 23, 63}},
         cutBetweenWords},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        Cuts cuts;
        for (const auto& [at, window] : plan(each.total, each.near, each.candidates, each.settings)) {
            cuts.emplace_back(at, window.begin / frame, window.end / frame);
        }
        EXPECT_EQ(cuts, each.expected);
    }
}

TEST(WhisperWindowPlannerTest, SaysWhetherAWindowOpensAndEndsItsUtterance) {
    // Long talk: the first 2 s from before the first word, cut while the talk goes on; then the
    // last 4 s of 4.3, its first words cut off; then its end.
    std::vector<std::pair<bool, bool>> opensAndEnds;
    for (const auto& [at, window] : plan(80, {{10, 61}})) {
        opensAndEnds.emplace_back(window.opensUtterance, window.endsUtterance);
    }
    EXPECT_EQ(opensAndEnds, (std::vector<std::pair<bool, bool>>{{true, false}, {false, false}, {false, true}}));
}

TEST(AudioWindowQueueTest, AFloodKeepsTheNewestWindowsAndCountsTheRest) {
    AudioWindowQueue queue(2);
    for (std::uint64_t i = 0; i < 100; ++i) {
        queue.push({i, i + 1});
    }
    EXPECT_EQ(queue.dropped(), 98u);
    int idle = 0;
    EXPECT_EQ(queue.pop([&] { ++idle; }), (AudioWindow{98, 99}));
    EXPECT_EQ(queue.pop([&] { ++idle; }), (AudioWindow{99, 100}));
    EXPECT_EQ(idle, 0) << "the recogniser never rests while windows wait";
    queue.close();
    EXPECT_EQ(queue.pop(), std::nullopt) << "closed: nothing more, and no wait";
    queue.push({1, 2});
    EXPECT_EQ(queue.pop(), std::nullopt) << "nothing is taken after close";
}

TEST(AudioWindowQueueTest, AudioFromAFileWaitsForTheRecogniserInsteadOfDropping) {
    AudioWindowQueue queue(1);
    std::vector<AudioWindow> taken;
    std::size_t rests = 0;
    std::thread recogniser([&] {
        while (const auto window = queue.pop([&] { ++rests; })) {
            taken.push_back(*window);
        }
    });
    for (std::uint64_t i = 0; i <= 50; ++i) {
        queue.push({i, i + 1}, true); // returns once the recogniser has taken it and asks for more
    }
    queue.close();
    recogniser.join();
    EXPECT_EQ(queue.dropped(), 0u);
    ASSERT_GE(taken.size(), 50u);
    EXPECT_GE(rests, taken.size()) << "in lockstep the queue is empty before every window";
    for (std::uint64_t i = 0; i < 50; ++i) {
        EXPECT_EQ(taken[i], (AudioWindow{i, i + 1}));
    }
}

// Steps in order on one screen: what each gives to transcribe.
TEST(WindowScreenTest, LeavesTalkToTheBasicRecogniserOnlyWhileItHearsTheTalker) {
    WindowScreen screen({/*waitSamples*/ 10, /*checkEvery*/ 2, /*agreement*/ 0.5});
    const AudioWindow first{0, 100}, second{100, 200}, third{250, 350}, fourth{350, 450}, fifth{450, 550};
    using Windows = std::vector<AudioWindow>;
    const struct {
        std::string step;
        std::function<Windows()> run;
        Windows transcribed;
    } steps[]{
        {"nothing compared yet: every window", [&] { return screen.add(first, 100); }, {first}},
        {"too few words to tell", [&] { return screen.compare("James.", "hello"); }, {}},
        {"still every window", [&] { return screen.add(first, 100); }, {first}},
        {"the words agree (three of four)",
         [&] { return screen.compare("Well, the river, Tom.", "well the river was calm"); },
         {}},
        {"a window waits for the basic recogniser's look", [&] { return screen.add(second, 200); }, {}},
        {"a cue past its end but within the wait", [&] { return screen.soundAlike(205); }, {second}},
        {"no cue since it began", [&] { return screen.add(third, 350); }, {}},
        {"still within the wait", [&] { return screen.advance(360); }, {}},
        {"passed over", [&] { return screen.advance(361); }, {}},
        {"the second passed over is transcribed to compare",
         [&] {
             screen.add(fourth, 450);
             return screen.advance(461);
         },
         {fourth}},
        {"one window of other words is not enough to lose trust",
         [&] {
             screen.add(fifth, 550);
             return screen.compare("Excuse me, do you have a minute?", "the you a");
         },
         {}},
        {"a window waiting when the words disagree twice in a row is transcribed after all",
         [&] { return screen.compare("Excuse me, do you have a minute?", "the you a"); },
         {fifth}},
        {"and every window after it", [&] { return screen.add(first, 600); }, {first}},
    };
    for (const auto& step : steps) {
        EXPECT_EQ(step.run(), step.transcribed) << step.step;
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
    for (const auto& [window, expected] : std::vector<std::pair<AudioWindow, std::vector<float>>>{
             {{5, 20}, {15 / 32.f, 16 / 32.f, 17 / 32.f, 18 / 32.f, 19 / 32.f}}, // the start is gone
             {{23, 40}, {23 / 32.f, 24 / 32.f}},                                 // the rest is not there yet
             {{0, 10}, {}},                                                      // all gone
         }) {
        EXPECT_EQ(history.samples(window), expected) << window.begin << "-" << window.end;
    }
}

} // namespace
} // namespace harkwell
