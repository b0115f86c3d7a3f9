#include "audio/SampleConverter.h"

#include <gtest/gtest.h>

#include <cstring>

namespace harkwell {
namespace {

// Converts the values, as the format's bytes, in two buffers cut `cut` bytes in.
template <typename T>
std::vector<std::int16_t> convert(int rate, int channels, QAudioFormat::SampleFormat sampleFormat,
                                  const std::vector<T>& values, std::size_t cut) {
    QAudioFormat format;
    format.setSampleRate(rate);
    format.setChannelCount(channels);
    format.setSampleFormat(sampleFormat);
    SampleConverter converter(format);
    std::vector<char> bytes(values.size() * sizeof(T));
    std::memcpy(bytes.data(), values.data(), bytes.size());
    auto output = converter.convert(std::span(bytes).first(cut));
    const auto rest = converter.convert(std::span(bytes).subspan(cut));
    output.insert(output.end(), rest.begin(), rest.end());
    return output;
}

TEST(SampleConverterTest, MixesChannelsRescalesAndResamplesAcrossBuffers) {
    // Stereo float at 48 kHz, cut inside a frame: channels averaged, every third frame kept.
    std::vector<float> frames;
    for (int i = 0; i < 12; ++i) {
        frames.insert(frames.end(), {0.5f, i % 3 == 0 ? -0.5f : 0.5f});
    }
    EXPECT_EQ(convert(48000, 2, QAudioFormat::Float, frames, 13), (std::vector<std::int16_t>{0, 0, 0, 0}));

    // 8 kHz: a sample between every two, interpolated, also across the cut.
    EXPECT_EQ(convert(8000, 1, QAudioFormat::Int16, std::vector<std::int16_t>{0, 2000, 4000}, 4),
              (std::vector<std::int16_t>{0, 1000, 2000, 3000, 4000}));

    // 44.1 kHz, cut inside a frame: the output count follows the rate, whatever the cut.
    const auto oneSecond = convert(44100, 1, QAudioFormat::Int32, std::vector<std::int32_t>(44100, 1 << 30), 40001);
    EXPECT_NEAR(static_cast<double>(oneSecond.size()), 16000.0, 1.0);
    EXPECT_EQ(oneSecond.front(), 16384);
}

} // namespace
} // namespace harkwell
