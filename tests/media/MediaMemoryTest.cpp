// Which players a call pauses and the return resumes, which streams it lowers and the return
// brings back.
#include "media/MediaMemory.h"

#include <gtest/gtest.h>

namespace harkwell {
namespace {

using Status = MediaPlayer::Status;
using Names = std::vector<std::string>;

// Players at the call (and at a second call), then at the return.
TEST(PausedPlayersTest, ResumesOnlyWhatItPausedWhereTheUserChangedNothing) {
    const MediaPlayer a{"a", Status::playing, "one"};
    const MediaPlayer b{"b", Status::paused, "two"};
    const MediaPlayer c{"c", Status::stopped, ""};
    const auto as = [](MediaPlayer player, Status status, std::string track = "one") {
        player.status = status;
        player.track = std::move(track);
        return player;
    };
    const std::vector<
        std::tuple<const char*, std::vector<std::vector<MediaPlayer>>, Names, std::vector<MediaPlayer>, Names>>
        cases{
            {"paused by the call", {{a, b, c}}, {"a"}, {as(a, Status::paused), b, c}, {"a"}},
            {"started by the user meanwhile", {{a, b}}, {"a"}, {as(a, Status::playing), b}, {}},
            {"stopped by the user", {{a}}, {"a"}, {as(a, Status::stopped)}, {}},
            {"another track", {{a}}, {"a"}, {as(a, Status::paused, "three")}, {}},
            {"gone", {{a}}, {"a"}, {b}, {}},
            {"nothing playing", {{b, c}}, {}, {b, c}, {}},
            {"a second call",
             {{a, b}, {as(a, Status::paused), as(b, Status::playing, "two")}},
             {"a", "b"},
             {as(a, Status::paused), as(b, Status::paused, "two")},
             {"a", "b"}},
        };
    for (const auto& [name, atCalls, paused, atReturn, resumed] : cases) {
        SCOPED_TRACE(name);
        PausedPlayers memory;
        Names pausedNow;
        for (const auto& players : atCalls) {
            for (auto& each : memory.toPause(players)) {
                pausedNow.push_back(each);
            }
        }
        EXPECT_EQ(pausedNow, paused);
        EXPECT_EQ(memory.toResume(atReturn), resumed);
        EXPECT_TRUE(memory.isEmpty()) << "remembered after the return";
    }
}

// Streams at the call, then at the return; 0x10000 is 100%.
TEST(LoweredStreamsTest, LowersThePlayingStreamsAndRestoresThoseTheUserLeftAlone) {
    const SoundStream playing{1, false, {0x10000, 0x8000}};
    const SoundStream corked{2, true, {0x10000}};
    const SoundStream lowered{1, false, {0x4000, 0x2000}};
    const auto restore = VolumeChange{1, {0x4000, 0x2000}, {0x10000, 0x8000}};
    const std::vector<std::tuple<const char*, std::vector<SoundStream>, std::vector<VolumeChange>,
                                 std::vector<SoundStream>, std::vector<VolumeChange>>>
        cases{
            {"lowered and restored",
             {playing, corked},
             {{1, {0x10000, 0x8000}, {0x4000, 0x2000}}},
             {lowered, corked},
             {restore}},
            {"rounded by the server",
             {playing},
             {{1, {0x10000, 0x8000}, {0x4000, 0x2000}}},
             {{1, true, {0x4001, 0x1fff}}},
             {{1, {0x4001, 0x1fff}, {0x10000, 0x8000}}}},
            {"changed by the user",
             {playing},
             {{1, {0x10000, 0x8000}, {0x4000, 0x2000}}},
             {{1, false, {0x9000, 0x2000}}},
             {}},
            {"gone", {playing}, {{1, {0x10000, 0x8000}, {0x4000, 0x2000}}}, {corked}, {}},
            {"nothing playing", {corked}, {}, {corked}, {}},
        };
    for (const auto& [name, atCall, lowering, atReturn, restoring] : cases) {
        SCOPED_TRACE(name);
        LoweredStreams memory;
        EXPECT_EQ(memory.toLower(atCall), lowering);
        EXPECT_TRUE(memory.toLower(atCall).empty()) << "a second call lowered a stream again";
        EXPECT_EQ(memory.toRestore(atReturn), restoring);
        EXPECT_TRUE(memory.isEmpty());
    }
}

} // namespace
} // namespace harkwell
