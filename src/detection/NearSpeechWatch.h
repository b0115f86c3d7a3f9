#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace harkwell {

// Tells speech near the microphone (the caller, the user answering) from the room's background
// (distant chatter, noise) by level alone. The audio is cut into 100 ms frames; each frame's level
// (RMS, dBFS) is compared with a running estimate of the background that falls quickly and rises
// slowly, so that it follows the quiet moments of the room and is not lifted by someone talking
// close by for a while. A frame is loud when it is well above the background and above an
// absolute floor; someone speaks near the microphone while most of the last few frames are loud,
// which a lone peak of the background chatter is not.
//
// Pure: no threads, no clock (time is the audio's own). Not thread-safe.
class NearSpeechWatch {
public:
    static constexpr int sampleRate = 16000;
    static constexpr std::size_t frameSamples = 1600; // 100 ms
    // How far above the background a frame must be to be loud, and the quietest level that can
    // be loud at all.
    static constexpr double nearMarginDecibels = 12;
    static constexpr double quietestNearLevelDbfs = -50;
    // How fast the background estimate follows the room, per frame: down to a quieter frame by
    // up to 5 dB a second, up to a louder one by 1 dB a second.
    static constexpr double backgroundFallPerFrameDecibels = 0.5;
    static constexpr double backgroundRisePerFrameDecibels = 0.1;
    // Near speech: at least this many loud frames among the last window.
    static constexpr int loudFramesNeeded = 3;
    static constexpr int loudFrameWindow = 5;
    // hear() reports near speech at most once in this many frames (twice a second).
    static constexpr int reportIntervalFrames = 5;
    // The level of a frame of digital silence.
    static constexpr double silenceDbfs = -120;

    // The RMS level of samples in dB relative to a full-scale square wave (0 dBFS); silence
    // reads as silenceDbfs.
    static double levelOf(std::span<const std::int16_t> samples);

    // Takes the next frame's level; true when someone speaks near the microphone now.
    bool hearFrame(double levelDbfs);
    // Takes audio as it comes (16 kHz mono), frame by frame; true when near speech was heard in
    // it and the last report lies at least reportIntervalFrames back.
    bool hear(std::span<const std::int16_t> samples);

    // The background estimate, once a frame has been heard.
    std::optional<double> backgroundLevel() const { return background_; }
    // The largest sample of the last whole frame heard, 0 to 1 of full scale; 0 before the first.
    double lastFramePeak() const { return lastFramePeak_; }

private:
    std::optional<double> background_;
    std::vector<bool> recentLoudFrames_; // the last loudFrameWindow frames, oldest first
    // Audio of the frame being gathered: the sum of squares and the count of samples.
    double frameEnergy_ = 0;
    std::size_t frameFill_ = 0;
    int framePeak_ = 0; // the largest magnitude in it
    double lastFramePeak_ = 0;
    // Frames since the last report, from reportIntervalFrames on when there was none.
    int framesSinceReport_ = reportIntervalFrames;
};

} // namespace harkwell
