#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace harkwell {

// A media player on the session bus, as MPRIS describes it.
struct MediaPlayer {
    std::string name; // its bus name, "org.mpris.MediaPlayer2.<player>"
    enum class Status { playing, paused, stopped } status = Status::stopped;
    // What it plays: its mpris:trackid and xesam:url, so that another track reads as another.
    std::string track;
};

// The media players of the session. Blocking, with short time-outs; called on one worker thread.
class MediaPlayers {
public:
    virtual ~MediaPlayers() = default;
    // The players there now; one that does not answer in time is left out.
    virtual std::vector<MediaPlayer> players() = 0;
    // Asks a player to pause or to play, without waiting for its answer.
    virtual void pause(const std::string& name) = 0;
    virtual void play(const std::string& name) = 0;
};

// A playback stream of the sound server (a sink input).
struct SoundStream {
    std::uint32_t index = 0;
    bool isCorked = false;             // paused by its application
    std::vector<std::uint32_t> volume; // one a channel; 0x10000 is 100%
};

// A stream's volume moved from one to another.
struct VolumeChange {
    std::uint32_t index = 0;
    std::vector<std::uint32_t> from;
    std::vector<std::uint32_t> to;

    bool operator==(const VolumeChange&) const = default;
};

// The sound server's playback streams, apart from Harkwell's own (recording streams are not
// among them). Blocking, with short time-outs; called on one worker thread.
class SoundStreams {
public:
    virtual ~SoundStreams() = default;
    // The streams there now; none when the server does not answer in time.
    virtual std::vector<SoundStream> streams() = 0;
    // Moves the streams' volumes, all together in small steps over the ramp; a stream gone or a
    // change refused is skipped.
    virtual void changeVolumes(const std::vector<VolumeChange>& changes, std::chrono::milliseconds ramp) = 0;
};

} // namespace harkwell
