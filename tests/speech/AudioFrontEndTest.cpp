#include "speech/AudioFrontEnd.h"

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

double lastSecondRms(std::span<const std::int16_t> samples) {
    return std::sqrt(std::inner_product(samples.end() - 16000, samples.end(), samples.end() - 16000, 0.0) / 16000);
}

TEST(AudioFrontEndTest, PushesSteadyNoiseDownTheSameHoweverTheAudioIsCutAndNoSampleTwice) {
    const auto noise = whiteNoise(3 * 16000);
    const std::vector<std::pair<const char*, AudioFrontEndSettings>> frontEnds{
        {"speex", {.kind = AudioFrontEndKind::speex}},
        {"webrtc", {.kind = AudioFrontEndKind::webrtc, .webRtcGainControl = false}},
        {"webrtc with gain control", {.kind = AudioFrontEndKind::webrtc}},
    };
    for (const auto& [name, settings] : frontEnds) {
        const auto expected = makeAudioFrontEnd(settings)->process(noise);
        ASSERT_EQ(expected.size(), noise.size()) << name; // whole frames of 10 and 20 ms
        if (!settings.webRtcGainControl || settings.kind == AudioFrontEndKind::speex) {
            EXPECT_LT(20 * std::log10(lastSecondRms(expected) / lastSecondRms(noise)), -6)
                << name << ": once the noise is known it is suppressed";
        }
        for (const std::size_t chunk : {1u, 159u, 319u, 4001u}) {
            const auto frontEnd = makeAudioFrontEnd(settings);
            std::vector<std::int16_t> cleaned;
            for (std::size_t at = 0; at < noise.size(); at += chunk) {
                const auto part = frontEnd->process(std::span(noise).subspan(at, std::min(chunk, noise.size() - at)));
                cleaned.insert(cleaned.end(), part.begin(), part.end());
            }
            EXPECT_EQ(cleaned, expected) << name << ", chunk " << chunk;
        }
    }
}

TEST(AudioFrontEndTest, NamesTheFrontEndsAndNothingElse) {
    EXPECT_EQ(audioFrontEndKind("none"), AudioFrontEndKind::none);
    EXPECT_EQ(audioFrontEndKind("speex"), AudioFrontEndKind::speex);
    EXPECT_EQ(audioFrontEndKind("webrtc"), AudioFrontEndKind::webrtc);
    EXPECT_EQ(audioFrontEndKind("WebRTC"), std::nullopt);
    EXPECT_EQ(makeAudioFrontEnd({.kind = AudioFrontEndKind::none}), nullptr);
}

} // namespace
} // namespace harkwell
