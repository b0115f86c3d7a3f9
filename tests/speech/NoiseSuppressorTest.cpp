#include "speech/NoiseSuppressor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>

namespace harkwell {
namespace {

std::vector<std::int16_t> whiteNoise(std::size_t count) {
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0, 1000);
    std::vector<std::int16_t> samples(count);
    for (auto& sample : samples) {
        sample = static_cast<std::int16_t>(std::lround(noise(random)));
    }
    return samples;
}

TEST(NoiseSuppressorTest, PushesSteadyNoiseDownTheSameHoweverTheAudioIsCutAndNoSampleTwice) {
    const auto noise = whiteNoise(3 * 16000);
    const auto expected = NoiseSuppressor(-15).process(noise);
    ASSERT_EQ(expected.size(), noise.size()); // 150 frames of 20 ms
    const auto lastSecondRms = [](std::span<const std::int16_t> samples) {
        return std::sqrt(std::inner_product(samples.end() - 16000, samples.end(), samples.end() - 16000, 0.0) / 16000);
    };
    EXPECT_LT(20 * std::log10(lastSecondRms(expected) / lastSecondRms(noise)), -6)
        << "once the noise is known it is suppressed";

    for (const std::size_t chunk : {1u, 319u, 4001u}) {
        NoiseSuppressor suppressor(-15);
        std::vector<std::int16_t> cleaned;
        for (std::size_t at = 0; at < noise.size(); at += chunk) {
            const auto part = suppressor.process(std::span(noise).subspan(at, std::min(chunk, noise.size() - at)));
            cleaned.insert(cleaned.end(), part.begin(), part.end());
        }
        EXPECT_EQ(cleaned, expected) << "chunk " << chunk;
    }
}

} // namespace
} // namespace harkwell
