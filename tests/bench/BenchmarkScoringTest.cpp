#include "BenchmarkScoring.h"

#include <gtest/gtest.h>

#include <cmath>

namespace harkwell::bench {
namespace {

TEST(BenchmarkScoringTest, EachCallIsHeardOnceByAReportInsideItsWindow) {
    const std::vector<Call> oneCall{{"James", 10}};
    const std::vector<Call> twoCalls{{"James", 10}, {"James", 11}};
    const struct {
        const char* what;
        std::vector<Call> calls;
        std::vector<Detection> detections;
        std::vector<bool> hits, heard;
        std::vector<double> latencies;
    } cases[]{
        {"at the end", oneCall, {{"James", 10}}, {true}, {true}, {0}},
        {"just inside the early tolerance", oneCall, {{"James", 9.75}}, {true}, {true}, {0}},
        {"before the early tolerance", oneCall, {{"James", 9.65}}, {false}, {false}, {}},
        {"at the window's end", oneCall, {{"James", 12}}, {true}, {true}, {2}},
        {"after the window", oneCall, {{"James", 12.01}}, {false}, {false}, {}},
        {"another phrase", oneCall, {{"Minsu", 10}}, {false}, {false}, {}},
        {"a second report of one call", oneCall, {{"James", 10.5}, {"James", 11}}, {true, false}, {true}, {0.5}},
        {"two calls, two reports",
         twoCalls,
         {{"James", 11.5}, {"James", 11.6}},
         {true, true},
         {true, true},
         {1.5, 0.6}},
        {"two calls, one report", twoCalls, {{"James", 11}}, {true}, {true, false}, {1}},
        {"no report", twoCalls, {}, {}, {false, false}, {}},
        {"no call", {}, {{"James", 3}}, {false}, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto result = score(c.calls, c.detections);
        EXPECT_EQ(result.hits, c.hits);
        EXPECT_EQ(result.heard, c.heard);
        ASSERT_EQ(result.latencies.size(), c.latencies.size());
        for (std::size_t i = 0; i < c.latencies.size(); ++i) {
            EXPECT_NEAR(result.latencies[i], c.latencies[i], 1e-9);
        }
    }
}

TEST(BenchmarkScoringTest, FalseCallsKeepTransparencyUntilNoticedOrQuiet) {
    const auto silent = [](double) { return neverHeard; };
    const auto talkingUntil = [](double until) { return [until](double t) { return std::min(t, until); }; };
    const struct {
        const char* what;
        std::vector<double> falseCalls;
        double end;
        std::function<double(double)> lastSpeechAt;
        double seconds;
    } cases[]{
        {"none", {}, 1000, nullptr, 0},
        {"until noticed", {10}, 1000, nullptr, noticedAfter},
        {"until the audio ends", {950}, 1000, nullptr, 50},
        {"a call while in Transparency changes nothing", {10, 50}, 1000, nullptr, noticedAfter},
        {"a call after switching back counts again", {10, 200}, 1000, nullptr, 2 * noticedAfter},
        {"a quiet room returns after the wait", {10}, 1000, silent, returnAfterQuiet},
        {"speech holds the return", {10}, 1000, talkingUntil(30), 20 + returnAfterQuiet},
        {"speech throughout: noticed first", {10}, 1000, talkingUntil(1e9), noticedAfter},
        {"speech before the call does not hold it", {100}, 1000, talkingUntil(50), returnAfterQuiet},
    };
    for (const auto& c : cases) {
        // The return is looked for in 100 ms steps.
        EXPECT_NEAR(transparencySeconds(c.falseCalls, c.end, c.lastSpeechAt), c.seconds, 0.11) << c.what;
    }
}

TEST(BenchmarkScoringTest, NearSpeechTimelineIsReadBy100Milliseconds) {
    const std::vector<double> timeline{neverHeard, 0.2, 0.3, 0.3};
    const std::pair<double, double> cases[]{
        {0.05, neverHeard}, {0.1, neverHeard}, {0.19, neverHeard}, {0.2, 0.2}, {0.35, 0.3}, {10, 0.3},
    };
    for (const auto& [t, expected] : cases) {
        EXPECT_EQ(lastAt(timeline, t), expected) << t;
    }
    EXPECT_EQ(lastAt({}, 5), neverHeard);
}

TEST(BenchmarkScoringTest, AddressCueComesFromTheTranscriptHeardByTheReport) {
    const std::vector<Transcript> transcripts{
        {"james can you come here", 1}, {"", 2}, {"i think james left", 3}, {"could you help me james", 4}, {"", 5}};
    const std::pair<double, const char*> cases[]{
        {0.5, "none"},  // nothing heard yet
        {1.5, "start"}, // the first utterance
        {2.5, "start"}, // the empty transcript that ends it has no words
        {3.5, "none"},  // talk about James
        {4.5, "pause"}, // the utterance ended right after the name
    };
    for (const auto& [at, cue] : cases) {
        EXPECT_EQ(addressCueName("James", transcripts, at), cue) << at;
    }
    // Before a pause only when the utterance ended there: still going on, or words came next.
    EXPECT_EQ(addressCueName("James", {{"could you help me james", 1}}, 1), "none");
    EXPECT_EQ(addressCueName("James", {{"could you help me james", 1}, {"and", 2}}, 1), "none");
}

TEST(BenchmarkScoringTest, ClipTallyCountsCallsCuesAndTimeWronglyInTransparency) {
    Clip office;
    office.condition = "office";
    office.calls = {{"James", 10}};
    office.nearSpeech = {{8, 10}};
    const std::vector<Detection> detections{{"James", 10.4}, {"James", 100}};
    const std::vector<Transcript> transcripts{{"james are you there", 10.2}, {"", 10.5}, {"tell james", 99}};
    // The watch heard near speech from 8 s to 10 s, nothing after.
    std::vector<double> lastNearAt(2000, neverHeard);
    for (std::size_t i = 80; i < lastNearAt.size(); ++i) {
        lastNearAt[i] = std::min(10.0, static_cast<double>(i + 1) / 10);
    }
    Tally tally;
    tally.cpuSeconds = 5;
    tally.errors = 1;
    const auto result = tallyClip(office, detections, transcripts, lastNearAt, 200, tally);
    EXPECT_EQ(result.hits, (std::vector<bool>{true, false}));
    EXPECT_EQ(tally.clips, 1);
    EXPECT_EQ(tally.calls, 1);
    EXPECT_EQ(tally.hits, 1);
    EXPECT_EQ(tally.falseAlarms, 1);
    EXPECT_EQ(tally.audioSeconds, 200);
    ASSERT_EQ(tally.latencies.size(), 1u);
    EXPECT_NEAR(tally.latencies[0], 0.4, 1e-9);
    EXPECT_EQ(tally.cueHits, (std::map<std::string, int>{{"start", 1}}));
    EXPECT_EQ(tally.cueFalseAlarms, (std::map<std::string, int>{{"none", 1}}));
    EXPECT_EQ(tally.nearHits, 1);
    EXPECT_EQ(tally.nearFalseAlarms, 0);
    // The false call at 100 s: noticed after two minutes, but the audio ends at 200 s.
    EXPECT_NEAR(tally.transparencyOff, 100, 1e-9);
    // Nobody spoke near since 10 s: the return comes after its wait.
    EXPECT_NEAR(tally.transparencyNearSpeech, returnAfterQuiet, 0.11);
    EXPECT_NEAR(tally.transparencyPerfect, returnAfterQuiet, 0.11);
    // The decoder heard words at 99 s, before the call: the same wait.
    EXPECT_NEAR(tally.transparencyDecoder, returnAfterQuiet, 0.11);
    EXPECT_EQ(tally.cpuSeconds, 5) << "the runner's own figures stay";
    EXPECT_EQ(tally.errors, 1);

    // Without near-speech labels the time in Transparency is not measured.
    office.nearSpeech.clear();
    Tally unlabelled;
    tallyClip(office, detections, transcripts, lastNearAt, 200, unlabelled);
    EXPECT_EQ(unlabelled.transparencyOff, 0);
    EXPECT_EQ(unlabelled.falseAlarms, 1);
}

TEST(BenchmarkScoringTest, QuietWatchCountsNoticedUtterancesAndTheQuietInLongPauses) {
    // Near speech 1-3 s and 40-42 s; the watch hears the first, misses the second.
    std::vector<double> lastNearAt(500, neverHeard);
    for (std::size_t i = 10; i < lastNearAt.size(); ++i) {
        lastNearAt[i] = std::min(3.0, static_cast<double>(i + 1) / 10);
    }
    QuietWatchCount count;
    countQuietWatch({{1, 3}, {40, 42}}, lastNearAt, count);
    EXPECT_EQ(count.utterances, 2);
    EXPECT_EQ(count.noticed, 1);
    EXPECT_EQ(count.longPauses, 1) << "37 s after the first, 8 s to the clip's end after the second";
    EXPECT_EQ(count.quietSeen, 1);
    ASSERT_EQ(count.delays.size(), 1u);
    EXPECT_NEAR(count.delays[0], returnAfterQuiet, 0.11);

    // Near speech all through the pause hides the quiet.
    std::vector<double> talking(500);
    for (std::size_t i = 0; i < talking.size(); ++i) {
        talking[i] = static_cast<double>(i + 1) / 10;
    }
    QuietWatchCount busy;
    countQuietWatch({{1, 3}, {40, 42}}, talking, busy);
    EXPECT_EQ(busy.noticed, 2);
    EXPECT_EQ(busy.longPauses, 1);
    EXPECT_EQ(busy.quietSeen, 0);
}

TEST(BenchmarkScoringTest, PercentileIsTheValueAtOrAboveTheFraction) {
    EXPECT_TRUE(std::isnan(percentile({}, 0.5)));
    const struct {
        std::vector<double> values;
        double p, expected;
    } cases[]{
        {{7}, 0.5, 7}, {{7}, 0.95, 7}, {{3, 1, 2}, 0.5, 2}, {{3, 1, 2}, 0.95, 3}, {{4, 1, 3, 2}, 0.5, 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(percentile(c.values, c.p), c.expected) << c.p;
    }
}

} // namespace
} // namespace harkwell::bench
