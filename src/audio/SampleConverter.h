#pragma once

#include <QAudioFormat>

#include <cstdint>
#include <span>
#include <vector>

namespace harkwell {

// Turns audio in the format a device delivers into 16 kHz mono 16-bit samples: channels are
// averaged, samples rescaled and the rate changed by linear interpolation, carrying its position
// from one buffer to the next.
class SampleConverter {
public:
    static constexpr int outputRate = 16000;

    explicit SampleConverter(const QAudioFormat& input);
    static QAudioFormat outputFormat();

    // Whole frames only; a trailing partial frame is kept for the next call.
    std::vector<std::int16_t> convert(std::span<const char> bytes);

private:
    double frameValue(const char* frame) const;

    QAudioFormat input_;
    int bytesPerFrame_;
    std::vector<char> partialFrame_;
    double step_;         // input frames per output sample
    double position_ = 0; // of the next output sample, in input frames after `previous_`
    double previous_ = 0; // the last input frame seen
    bool hasPrevious_ = false;
};

} // namespace harkwell
