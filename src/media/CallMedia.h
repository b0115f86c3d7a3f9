#pragma once

#include "media/MediaControl.h"
#include "media/MediaMemory.h"
#include "media/MediaOnCall.h"

#include <chrono>
#include <functional>
#include <memory>

namespace harkwell {

class SerialQueue;

// What a call does to the media playing, off the caller's thread: makeWay and giveBack return at
// once, and the work (asking the players and the sound server, each within a short time-out) runs
// in order on "Harkwell.media", which alone keeps what was paused and lowered. Made and called on
// one thread (the main one).
class CallMedia {
public:
    // How long a lowered or restored volume takes to move.
    static constexpr std::chrono::milliseconds volumeRamp{300};

    // Either may be none: nothing is done through it.
    CallMedia(std::shared_ptr<MediaPlayers> players, std::shared_ptr<SoundStreams> streams);
    // Gives the lowered streams their volumes back (paused players stay paused) and waits for the
    // work still queued, which the time-outs bound.
    ~CallMedia();
    CallMedia(const CallMedia&) = delete;
    CallMedia& operator=(const CallMedia&) = delete;

    // A call switched the AirPods to Transparency: pauses the players playing, or lowers the
    // streams playing, as `action` says. What a second call finds already paused or lowered it
    // leaves as it is.
    void makeWay(MediaOnCall action);
    // The AirPods left the Transparency of a call: resumes the players paused and brings back the
    // volumes lowered, where the user changed nothing meanwhile.
    void giveBack();
    // Runs once the work queued before it has run, on "Harkwell.media" (for tests and logs).
    void afterQueuedWork(std::function<void()> work);

private:
    void restoreVolumes();

    std::shared_ptr<MediaPlayers> players_;
    std::shared_ptr<SoundStreams> streams_;
    bool hasMadeWay_ = false; // the caller's thread
    // "Harkwell.media" only.
    PausedPlayers paused_;
    LoweredStreams lowered_;
    // Last, so that it goes first: the work it still runs finds everything else in place.
    std::unique_ptr<SerialQueue> queue_;
};

} // namespace harkwell
