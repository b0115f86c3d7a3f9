#include "speech/PocketSphinxOptions.h"

#include <gtest/gtest.h>

namespace harkwell {
namespace {

TEST(PocketSphinxOptionsTest, HigherLevelsFavourThePhraseMoreAndHoldLessBack) {
    const auto low = pocketSphinxOptionsFor(DetectionSensitivity::low);
    const auto medium = pocketSphinxOptionsFor(DetectionSensitivity::medium);
    const auto high = pocketSphinxOptionsFor(DetectionSensitivity::high);
    const PocketSphinxOptions defaults;
    EXPECT_EQ(medium.phraseWordLogProbability, defaults.phraseWordLogProbability) << "medium is the default";
    EXPECT_EQ(medium.heldBackWords, defaults.heldBackWords);
    EXPECT_EQ(medium.languageWeight, defaults.languageWeight);
    EXPECT_EQ(medium.frontEnd.speexSuppressionDecibels, defaults.frontEnd.speexSuppressionDecibels);

    EXPECT_LT(low.phraseWordLogProbability, medium.phraseWordLogProbability);
    EXPECT_LT(medium.phraseWordLogProbability, high.phraseWordLogProbability);
    EXPECT_GT(low.heldBackWords, medium.heldBackWords);
    EXPECT_GE(medium.heldBackWords, high.heldBackWords);
    for (const auto level : detectionSensitivities) {
        EXPECT_EQ(pocketSphinxOptionsFor(level).search, PocketSphinxSearch::commonWords) << level.rawValue();
        EXPECT_NE(pocketSphinxOptionsFor(level).frontEnd.kind, AudioFrontEndKind::none) << level.rawValue();
    }
}

} // namespace
} // namespace harkwell
