#include "audio/SampleConverter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace harkwell {
namespace {

QAudioFormat format(int rate, int channels, QAudioFormat::SampleFormat sampleFormat) {
    QAudioFormat result;
    result.setSampleRate(rate);
    result.setChannelCount(channels);
    result.setSampleFormat(sampleFormat);
    return result;
}

template <typename T>
std::vector<char> bytesOf(const std::vector<T>& values) {
    std::vector<char> bytes(values.size() * sizeof(T));
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

TEST(SampleConverterTest, MixesChannelsRescalesAndResamplesAcrossBuffers) {
    // 16 kHz mono 16-bit passes unchanged, however the bytes are split.
    SampleConverter same(SampleConverter::outputFormat());
    const std::vector<std::int16_t> input{0, 1000, -1000, 32767, -32768, 5};
    const auto bytes = bytesOf(input);
    auto first = same.convert(std::span(bytes.data(), 5)); // two frames and half a third
    const auto rest = same.convert(std::span(bytes.data() + 5, bytes.size() - 5));
    first.insert(first.end(), rest.begin(), rest.end());
    EXPECT_EQ(first, input);

    // Stereo float at 48 kHz: channels averaged, every third frame kept.
    SampleConverter stereo(format(48000, 2, QAudioFormat::Float));
    std::vector<float> frames;
    for (int i = 0; i < 12; ++i) {
        frames.insert(frames.end(), {0.5f, i % 3 == 0 ? -0.5f : 0.5f});
    }
    EXPECT_EQ(stereo.convert(bytesOf(frames)), (std::vector<std::int16_t>{0, 0, 0, 0}));

    // 8 kHz: a sample between every two, interpolated, also across the buffer boundary.
    SampleConverter slow(format(8000, 1, QAudioFormat::Int16));
    auto upsampled = slow.convert(bytesOf(std::vector<std::int16_t>{0, 2000}));
    const auto more = slow.convert(bytesOf(std::vector<std::int16_t>{4000}));
    upsampled.insert(upsampled.end(), more.begin(), more.end());
    EXPECT_EQ(upsampled, (std::vector<std::int16_t>{0, 1000, 2000, 3000, 4000}));

    // 44.1 kHz: the output count follows the rate.
    SampleConverter cd(format(44100, 1, QAudioFormat::Int32));
    const auto oneSecond = cd.convert(bytesOf(std::vector<std::int32_t>(44100, 1 << 30)));
    EXPECT_NEAR(static_cast<double>(oneSecond.size()), 16000.0, 1.0);
    EXPECT_EQ(oneSecond.front(), 16384);
}

} // namespace
} // namespace harkwell
