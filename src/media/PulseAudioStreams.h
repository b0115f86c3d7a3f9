#pragma once

#include "media/MediaControl.h"

#include <chrono>

namespace harkwell {

// The sound server's playback streams through libpulse (PulseAudio, or PipeWire's PulseAudio
// server), where PULSE_SERVER or the usual runtime folder says; Harkwell's own (by process id) are
// left out. Each use connects anew and gives up after the time-out.
class PulseAudioStreams final : public SoundStreams {
public:
    static constexpr std::chrono::milliseconds defaultTimeout{1000};

    explicit PulseAudioStreams(std::chrono::milliseconds timeout = defaultTimeout) : timeout_(timeout) {}

    std::vector<SoundStream> streams() override;
    void changeVolumes(const std::vector<VolumeChange>& changes, std::chrono::milliseconds ramp) override;

private:
    std::chrono::milliseconds timeout_;
};

} // namespace harkwell
