#pragma once

#include "media/MediaControl.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace harkwell {

// The players a call paused, so that the return resumes exactly those. Pure; not thread-safe.
class PausedPlayers {
public:
    // The players to pause among those there now: every one playing. Each is remembered with its
    // track; those paused earlier and not playing again are not paused twice.
    std::vector<std::string> toPause(const std::vector<MediaPlayer>& players);
    // The players to resume among those there now: those paused here that are still paused on the
    // same track. A player the user started, stopped or changed meanwhile, or that went away, is
    // left alone. Forgets them all.
    std::vector<std::string> toResume(const std::vector<MediaPlayer>& players);
    bool isEmpty() const { return paused_.empty(); }

private:
    std::map<std::string, std::string> paused_; // name: track
};

// The streams a call lowered, with their own volumes, so that the return brings those back.
// Pure; not thread-safe.
class LoweredStreams {
public:
    // A lowered stream plays at this fraction of its own volume.
    static constexpr std::uint32_t divisor = 4;
    // A stream whose volume differs from the lowered one by more than this on any channel was
    // changed by the user (the sound server may round what it was given).
    static constexpr std::uint32_t tolerance = 0x10000 / 100;

    // The changes that lower the streams playing now (not corked) and not lowered yet.
    std::vector<VolumeChange> toLower(const std::vector<SoundStream>& streams);
    // The changes that bring back the streams lowered here that are still there at the lowered
    // volume; one the user changed meanwhile keeps the user's volume. Forgets them all.
    std::vector<VolumeChange> toRestore(const std::vector<SoundStream>& streams);
    bool isEmpty() const { return lowered_.empty(); }

private:
    struct Lowered {
        std::vector<std::uint32_t> own;
        std::vector<std::uint32_t> lowered;
    };
    std::map<std::uint32_t, Lowered> lowered_; // by stream index
};

} // namespace harkwell
