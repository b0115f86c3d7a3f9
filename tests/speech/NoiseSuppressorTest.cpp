#include "speech/NoiseSuppressor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace harkwell {
namespace {

std::vector<std::int16_t> whiteNoise(std::size_t count, double deviation) {
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0, deviation);
    std::vector<std::int16_t> samples(count);
    for (auto& sample : samples) {
        sample = static_cast<std::int16_t>(std::lround(noise(random)));
    }
    return samples;
}

double rms(std::span<const std::int16_t> samples) {
    double sum = 0;
    for (const auto sample : samples) {
        sum += static_cast<double>(sample) * sample;
    }
    return std::sqrt(sum / static_cast<double>(samples.size()));
}

TEST(NoiseSuppressorTest, GivesTheSameAudioHoweverItIsCutAndNoSampleTwice) {
    const auto noise = whiteNoise(16000, 1000);
    NoiseSuppressor whole(-15);
    const auto expected = whole.process(noise);
    ASSERT_EQ(expected.size(), 16000u); // 50 frames of 20 ms
    for (const std::size_t chunk : {1u, 7u, 319u, 320u, 1600u, 4001u}) {
        NoiseSuppressor suppressor(-15);
        std::vector<std::int16_t> cleaned;
        for (std::size_t at = 0; at < noise.size(); at += chunk) {
            const auto part = suppressor.process(std::span(noise).subspan(at, std::min(chunk, noise.size() - at)));
            cleaned.insert(cleaned.end(), part.begin(), part.end());
            EXPECT_EQ(cleaned.size(), (std::min(at + chunk, noise.size()) / 320) * 320) << "chunk " << chunk;
        }
        EXPECT_EQ(cleaned, expected) << "chunk " << chunk;
    }
}

TEST(NoiseSuppressorTest, PushesSteadyNoiseDown) {
    const auto noise = whiteNoise(3 * 16000, 1000);
    NoiseSuppressor suppressor(-15);
    const auto cleaned = suppressor.process(noise);
    const auto lastSecond = std::span(cleaned).last(16000);
    const double decibels = 20 * std::log10(rms(lastSecond) / rms(std::span(noise).last(16000)));
    EXPECT_LT(decibels, -6) << "once the noise is known it is suppressed";
}

} // namespace
} // namespace harkwell
