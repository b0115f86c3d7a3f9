#include "audio/SampleConverter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace harkwell {

SampleConverter::SampleConverter(const QAudioFormat& input)
    : input_(input), bytesPerFrame_(std::max(1, input.bytesPerFrame())),
      step_(static_cast<double>(input.sampleRate()) / outputRate) {}

QAudioFormat SampleConverter::outputFormat() {
    QAudioFormat format;
    format.setSampleRate(outputRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    return format;
}

double SampleConverter::frameValue(const char* frame) const {
    const int channels = std::max(1, input_.channelCount());
    double sum = 0;
    for (int channel = 0; channel < channels; ++channel) {
        const char* at = frame + channel * input_.bytesPerSample();
        switch (input_.sampleFormat()) {
        case QAudioFormat::UInt8:
            sum += (static_cast<unsigned char>(*at) - 128) / 128.0;
            break;
        case QAudioFormat::Int16: {
            std::int16_t value;
            std::memcpy(&value, at, sizeof value);
            sum += value / 32768.0;
            break;
        }
        case QAudioFormat::Int32: {
            std::int32_t value;
            std::memcpy(&value, at, sizeof value);
            sum += value / 2147483648.0;
            break;
        }
        case QAudioFormat::Float: {
            float value;
            std::memcpy(&value, at, sizeof value);
            sum += value;
            break;
        }
        default:
            break;
        }
    }
    return sum / channels;
}

std::vector<std::int16_t> SampleConverter::convert(std::span<const char> bytes) {
    std::vector<char> joined;
    if (!partialFrame_.empty()) {
        joined.assign(partialFrame_.begin(), partialFrame_.end());
        joined.insert(joined.end(), bytes.begin(), bytes.end());
        bytes = joined;
    }
    const auto frames = bytes.size() / static_cast<std::size_t>(bytesPerFrame_);
    partialFrame_.assign(bytes.begin() + static_cast<std::ptrdiff_t>(frames * bytesPerFrame_), bytes.end());

    std::vector<std::int16_t> output;
    output.reserve(static_cast<std::size_t>(static_cast<double>(frames) / step_) + 1);
    const auto toSample = [](double value) {
        return static_cast<std::int16_t>(std::clamp(std::lround(value * 32768.0), -32768L, 32767L));
    };
    for (std::size_t index = 0; index < frames; ++index) {
        const double current = frameValue(bytes.data() + index * static_cast<std::size_t>(bytesPerFrame_));
        if (!hasPrevious_) {
            output.push_back(toSample(current));
            position_ = step_;
        } else {
            // The previous frame is at 0, this one at 1; outputs fall every `step_` frames.
            for (; position_ <= 1.0; position_ += step_) {
                output.push_back(toSample(previous_ + (current - previous_) * position_));
            }
            position_ -= 1.0;
        }
        previous_ = current;
        hasPrevious_ = true;
    }
    return output;
}

} // namespace harkwell
