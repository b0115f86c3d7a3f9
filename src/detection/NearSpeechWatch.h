#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>

namespace harkwell {

// Tells speech near the microphone (the caller, the user answering) from the room's background
// (distant chatter, noise) by level alone. The audio is cut into 100 ms frames. The background is
// a low percentile of the levels of the last seconds: steady chatter across the room sets it, a
// nearby talker, who pauses between words, does not. A frame is loud when it is `marginDecibels`
// above the background heard before it and not below an absolute floor; someone speaks near the
// microphone while `nearFrames` frames in a row are loud, which a lone peak of the chatter is not.
// Distant talkers a good deal quieter than a caller therefore never count as near.
//
// The defaults were chosen on the detection benchmark's office hour (docs/benchmark.md, "The quiet after a call").
//
// Pure: no threads, no clock (time is the audio's own). Not thread-safe.
class NearSpeechWatch {
public:
    struct Settings {
        double marginDecibels = 10;
        int nearFrames = 2;
        // How many recent frames the background is taken from (10 s), and which percentile of them.
        std::size_t backgroundFrames = 100;
        double backgroundPercentile = 0.1;
        // Frames quieter than this are never near speech (the clicks of a silent room).
        double floorDecibels = -60;
    };

    static constexpr int sampleRate = 16000;
    static constexpr std::size_t frameSamples = 1600; // 100 ms
    // hear() reports near speech at most once in this many frames (twice a second).
    static constexpr int reportIntervalFrames = 5;
    // The level of a frame of digital silence.
    static constexpr double silenceDbfs = -100;

    NearSpeechWatch() = default;
    explicit NearSpeechWatch(Settings settings) : settings_(settings) {}

    // The RMS level of samples in dB relative to a full-scale square wave (0 dBFS); silence
    // reads as silenceDbfs.
    static double levelOf(std::span<const std::int16_t> samples);

    // Takes the next frame's level; true when someone speaks near the microphone now.
    bool hearFrame(double levelDbfs);
    // Takes audio as it comes (16 kHz mono), frame by frame; true when near speech was heard in
    // it and the last report lies at least reportIntervalFrames back.
    bool hear(std::span<const std::int16_t> samples);

    bool isHearingNearSpeech() const { return nearRun_ >= settings_.nearFrames; }
    // Whole frames heard since near speech was last heard; nothing before it ever was.
    std::optional<std::uint64_t> framesSinceNearSpeech() const;
    // The background level, once a frame has been heard.
    std::optional<double> backgroundLevel() const;
    // The largest sample of the last whole frame heard, 0 to 1 of full scale; 0 before the first.
    double lastFramePeak() const { return lastFramePeak_; }

private:
    Settings settings_;
    std::deque<double> recentLevels_; // the last backgroundFrames frames, oldest first
    int nearRun_ = 0;                 // loud frames in a row
    std::uint64_t framesHeard_ = 0;
    std::optional<std::uint64_t> lastNearFrame_;
    // Audio of the frame being gathered: the sum of squares and the count of samples.
    double frameEnergy_ = 0;
    std::size_t frameFill_ = 0;
    int framePeak_ = 0; // the largest magnitude in it
    double lastFramePeak_ = 0;
    // Frames since the last report, from reportIntervalFrames on when there was none.
    int framesSinceReport_ = reportIntervalFrames;
};

} // namespace harkwell
