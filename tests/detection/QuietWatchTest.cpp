#include "detection/QuietWatch.h"

#include "SettableClock.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace harkwell {
namespace {

using namespace std::chrono_literals;

using FakeClock = testing::SettableClock;

class QuietWatchTest : public ::testing::Test {
protected:
    // Hears `seconds` of 100 ms stretches, the level of stretch n from `level(n)`.
    void hear(double seconds, const std::function<double(int)>& level) {
        for (int n = 0; n < static_cast<int>(seconds * 10); ++n) {
            clock->elapsed += 100ms;
            watch.hear(level(n));
        }
    }
    // Distant chatter: about -45 dB, never steady.
    static double chatter(int n) { return -45 + (n * 7 % 5) - 2; }
    // Someone talking at the desk, 15 dB over the chatter, with a short pause between words.
    static double nearTalk(int n) { return n % 4 == 3 ? chatter(n) : -30 + (n % 3); }

    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    QuietWatch watch{clock};
};

TEST_F(QuietWatchTest, DistantChatterIsQuietAndNearTalkIsNotHoweverLongItGoesOn) {
    EXPECT_EQ(watch.backgroundDecibels(), std::nullopt);
    hear(60, chatter);
    EXPECT_EQ(watch.quietFor(), 60s) << "chatter across the room never counts";
    EXPECT_NEAR(*watch.backgroundDecibels(), -47, 1);

    hear(90, nearTalk);
    EXPECT_TRUE(watch.isHearingNearSpeech() || watch.quietFor() <= 200ms) << "a long talk at the desk still counts";
    EXPECT_LT(*watch.backgroundDecibels(), -40) << "the pauses between words keep the background down";

    hear(30, chatter);
    EXPECT_FALSE(watch.isHearingNearSpeech());
    EXPECT_GE(watch.quietFor(), 30s);
    EXPECT_LE(watch.quietFor(), 30200ms) << "quiet from the last word on";
}

TEST_F(QuietWatchTest, IgnoresASingleLoudStretchAndTheClicksOfASilentRoom) {
    const std::vector<std::pair<const char*, std::function<double(int)>>> sounds{
        {"one loud stretch a second", [](int n) { return n % 10 == 5 ? -25.0 : chatter(n); }},
        {"clicks in a silent room", [](int n) { return n % 10 < 3 ? -65.0 : -95.0; }},
    };
    for (const auto& [name, level] : sounds) {
        watch.restart();
        const auto before = clock->elapsed;
        hear(20, level);
        EXPECT_EQ(watch.quietFor(), clock->elapsed - before) << name;
    }
}

TEST_F(QuietWatchTest, RestartCountsQuietFromNow) {
    hear(20, chatter);
    clock->elapsed += 5s;
    EXPECT_EQ(watch.quietFor(), 25s) << "time passes without stretches too";
    watch.restart();
    hear(1, chatter);
    EXPECT_EQ(watch.quietFor(), 1s);
}

TEST(QuietWatchLevelTest, MeasuresInDecibelsOfFullScale) {
    const std::vector<std::pair<std::vector<std::int16_t>, double>> cases{
        {{}, -100}, {{0, 0, 0}, -100}, {{32767, -32767}, 0}, {{16384, -16384}, -6.02}, {{33, -33, 33, -33}, -59.9},
    };
    for (const auto& [samples, expected] : cases) {
        EXPECT_NEAR(levelDecibels(samples), expected, 0.05) << samples.size();
    }
}

} // namespace
} // namespace harkwell
