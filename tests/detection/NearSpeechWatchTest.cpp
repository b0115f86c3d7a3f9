#include "detection/NearSpeechWatch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <tuple>
#include <vector>

namespace harkwell {
namespace {

// A stretch of frames at a level that wanders a little, as a room's does, and how many of its
// frames may be taken for near speech.
struct Stretch {
    double level; // dBFS
    double seconds;
    double leastNear; // share of the frames, 0 to 1
    double mostNear;
    double jitter = 3; // spread of the frame levels, dB
    // Every this many frames one is at this level instead: the pauses between a talker's words.
    int pauseEvery = 0;
    double pauseLevel = 0;
};

constexpr double never = 0;
constexpr double rarely = 0.02; // a chance coincidence of the babble's peaks
constexpr double always = 1;

// Babble of a distant room, and near speech over it: a talker pauses between words.
Stretch babble(double seconds, double level = -45) { return {level, seconds, never, rarely}; }
Stretch talker(double level, double seconds, double leastNear, double mostNear, double room = -45) {
    return {level, seconds, leastNear, mostNear, 4, 7, room};
}

TEST(NearSpeechWatchTest, TellsNearSpeechFromTheRoomsBackground) {
    std::vector<Stretch> callerInBabble{babble(30)};
    for (int call = 0; call < 5; ++call) {
        callerInBabble.push_back(talker(-25, 2, 0.4, always));
        callerInBabble.push_back(babble(8));
    }
    const std::vector<std::pair<std::string, std::vector<Stretch>>> cases{
        {"ten minutes of babble", {babble(600)}},
        {"a caller in babble", callerInBabble},
        // The pauses between words keep the background down however long the talk goes on.
        {"a long talk at the desk", {babble(10), talker(-30, 90, 0.3, always), babble(30)}},
        {"a distant talker a little above the babble",
         {babble(30), talker(-42, 5, never, rarely), babble(10), talker(-42, 5, never, rarely)}},
        {"quiet room, someone speaking softly", {babble(10, -75), talker(-52, 5, 0.4, always, -75)}},
        {"clicks in babble", {babble(10), {-45, 30, never, rarely, 3, 20, -15}}},
        // The caller's first pause shows the room's level.
        {"listening starts while the caller speaks",
         {talker(-25, 3, 0.4, always), babble(10), talker(-25, 2, 0.4, always)}},
        // The background follows within the ten seconds it is taken from.
        {"the room gets louder for good",
         {babble(10, -65), talker(-35, 5, 0.4, always, -65), {-35, 15, 0.2, 0.8}, babble(30, -35)}},
    };
    for (const auto& [name, stretches] : cases) {
        SCOPED_TRACE(name);
        NearSpeechWatch watch;
        std::mt19937 random(7);
        std::normal_distribution<double> spread;
        for (size_t index = 0; index < stretches.size(); ++index) {
            const Stretch& stretch = stretches[index];
            const int frames = int(std::lround(stretch.seconds * 10));
            int near = 0;
            for (int frame = 0; frame < frames; ++frame) {
                const bool paused = stretch.pauseEvery > 0 && frame % stretch.pauseEvery == 0;
                const double level = (paused ? stretch.pauseLevel : stretch.level) + stretch.jitter * spread(random);
                near += watch.hearFrame(level) ? 1 : 0;
            }
            const double share = double(near) / frames;
            EXPECT_GE(share, stretch.leastNear) << "stretch " << index;
            EXPECT_LE(share, stretch.mostNear) << "stretch " << index;
            if (stretch.pauseEvery > 0 && stretch.leastNear > 0) {
                // Still near at its end, as a call at the end of a long talk needs.
                EXPECT_LE(watch.framesSinceNearSpeech().value_or(frames), 3u) << "stretch " << index;
            }
        }
    }
}

// Near speech needs loud frames in a row above the floor: lone peaks and the faint clicks of a
// silent room never count, and the frames since near speech are counted from its last frame.
TEST(NearSpeechWatchTest, TakesNeitherLonePeaksNorSoundsUnderTheFloorForSpeech) {
    const std::vector<std::tuple<std::string, std::function<double(int)>, int>> cases{
        {"one loud frame a second", [](int n) { return n % 10 == 5 ? -25.0 : -45.0; }, 0},
        {"clicks in a silent room", [](int n) { return n % 10 < 3 ? -65.0 : -95.0; }, 0},
        {"two loud frames a second", [](int n) { return n % 10 == 5 || n % 10 == 6 ? -25.0 : -45.0; }, 20},
    };
    for (const auto& [name, level, nearFrames] : cases) {
        NearSpeechWatch watch;
        int near = 0;
        for (int n = 0; n < 200; ++n) {
            near += watch.hearFrame(level(n)) ? 1 : 0;
        }
        EXPECT_EQ(near, nearFrames) << name;
        EXPECT_EQ(watch.framesSinceNearSpeech(), near ? std::optional<std::uint64_t>(3) : std::nullopt) << name;
    }
}

// Samples of a square wave: every sample at ±amplitude.
std::vector<std::int16_t> square(std::int16_t amplitude, double seconds) {
    std::vector<std::int16_t> samples(size_t(seconds * NearSpeechWatch::sampleRate));
    for (size_t index = 0; index < samples.size(); ++index) {
        samples[index] = index % 20 < 10 ? amplitude : std::int16_t(-amplitude);
    }
    return samples;
}

TEST(NearSpeechWatchTest, MeasuresLevelsInDecibelsOfFullScale) {
    EXPECT_DOUBLE_EQ(NearSpeechWatch::levelOf(square(32767, 0.1)), 20 * std::log10(32767.0 / 32768));
    EXPECT_NEAR(NearSpeechWatch::levelOf(square(3277, 0.1)), -20, 0.01);
    EXPECT_NEAR(NearSpeechWatch::levelOf(square(33, 0.1)), -60, 0.1);
    EXPECT_EQ(NearSpeechWatch::levelOf(square(0, 0.1)), NearSpeechWatch::silenceDbfs);
    EXPECT_EQ(NearSpeechWatch::levelOf({}), NearSpeechWatch::silenceDbfs);
}

// The meter's reading: the largest sample of the last whole frame, whatever the buffers.
TEST(NearSpeechWatchTest, ThePeakFollowsTheAudioFrameByFrame) {
    NearSpeechWatch watch;
    EXPECT_EQ(watch.lastFramePeak(), 0);
    auto frame = square(100, 0.1);
    frame[700] = -16384; // one click
    watch.hear(std::span(frame).first(1000));
    EXPECT_EQ(watch.lastFramePeak(), 0) << "no whole frame yet";
    watch.hear(std::span(frame).subspan(1000));
    EXPECT_DOUBLE_EQ(watch.lastFramePeak(), 0.5);
    const auto quiet = square(328, 0.1);
    watch.hear(quiet);
    EXPECT_NEAR(watch.lastFramePeak(), 0.01, 0.0001) << "the click is a frame behind";
    watch.hear(square(-32768, 0.1));
    EXPECT_DOUBLE_EQ(watch.lastFramePeak(), 1);
    watch.hear(square(0, 0.1));
    EXPECT_EQ(watch.lastFramePeak(), 0);
}

// Audio is cut into 100 ms frames whatever the buffers' sizes; near speech is reported at most
// twice a second.
TEST(NearSpeechWatchTest, CutsAudioIntoFramesAcrossBuffersAndReportsTwiceASecond) {
    std::vector<std::int16_t> audio = square(33, 2);
    const auto loud = square(3277, 3);
    audio.insert(audio.end(), loud.begin(), loud.end());
    for (const size_t bufferSize : {1000u, 1600u, 4000u}) {
        SCOPED_TRACE(bufferSize);
        NearSpeechWatch watch;
        std::vector<size_t> reportedAt; // the buffer's end, in frames
        for (size_t start = 0; start < audio.size(); start += bufferSize) {
            const size_t count = std::min(bufferSize, audio.size() - start);
            if (watch.hear(std::span(audio).subspan(start, count))) {
                reportedAt.push_back((start + count) / NearSpeechWatch::frameSamples);
            }
        }
        // Near from the second loud frame (the 22nd), then every fifth frame.
        ASSERT_EQ(reportedAt.size(), 6u);
        EXPECT_LT(reportedAt.front() - 22, 3u);
        EXPECT_NEAR(watch.backgroundLevel().value_or(0), -60, 0.1) << "the room before the talk";
        watch.hear(square(33, 1));
        EXPECT_EQ(watch.framesSinceNearSpeech(), 10u);
    }
}

} // namespace
} // namespace harkwell
