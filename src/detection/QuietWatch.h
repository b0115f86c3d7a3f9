#pragma once

#include "core/Clock.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>

namespace harkwell {

// Tells how long nobody has spoken near the microphone. It hears the level of each stretch of
// audio (about 100 ms) and keeps the room's background level: a low percentile of the levels of
// the last seconds, which steady chatter across the room sets and a nearby talker, who pauses
// between words, does not. A stretch counts as near speech when it is `marginDecibels` above that
// background for `nearFrames` stretches in a row: a caller or the user at the desk is, distant
// talkers a good deal quieter than them are not, so their chatter never keeps the watch from
// seeing quiet. Elapsed time comes from the injected clock.
class QuietWatch {
public:
    struct Settings {
        double marginDecibels = 10;
        int nearFrames = 2;
        // How many recent stretches the background is taken from, and which percentile of them.
        std::size_t backgroundFrames = 100;
        double backgroundPercentile = 0.1;
        // Stretches quieter than this are never near speech (a silent room's clicks).
        double floorDecibels = -60;
    };

    explicit QuietWatch(std::shared_ptr<const Clock> clock);
    QuietWatch(std::shared_ptr<const Clock> clock, Settings settings);

    // One stretch of audio's level, in dB of full scale, heard now.
    void hear(double levelDecibels);
    // Starts watching afresh now: quiet is counted from here, the background is kept.
    void restart();
    // How long since near speech was last heard (or since the watch started or restarted).
    Clock::duration quietFor() const;
    // The room's background level, once a stretch was heard.
    std::optional<double> backgroundDecibels() const;
    bool isHearingNearSpeech() const { return nearRun_ >= settings_.nearFrames; }

private:
    const std::shared_ptr<const Clock> clock_;
    const Settings settings_;
    std::deque<double> recentLevels_;
    int nearRun_ = 0;
    Clock::TimePoint lastNearSpeechAt_;
};

// The level of 16-bit samples in dB of full scale (a full-scale square wave is 0 dB; silence is
// -100 dB).
double levelDecibels(std::span<const std::int16_t> samples);

} // namespace harkwell
