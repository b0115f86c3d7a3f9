#include "matching/WakePhraseMatching.h"

#include <gtest/gtest.h>

namespace harkwell {
namespace {

using Update = IncrementalTranscriptUpdate;

TEST(IncrementalTranscriptUpdateTest, ReducesTranscriptsToAppendsAndReplacements) {
    const std::vector<std::tuple<std::string, std::string, Update>> cases{
        {"", "hey", Update::replace("hey")},
        {"hey", "hey min", Update::append(" min")},
        {"hey min", "hey minsu", Update::append("su")},
        {"hey minsu", "hey minsu   ", Update::append("")},
        {"I think that", "that is it", Update::append(" is it")},
        {"hello world", "hello", Update::replace("hello")},
        {"hey minsu", "hey Minsu come here", Update::replace("hey Minsu come here")},
        {"anything", "   ", Update::replace("")},
        {"  hey ", "  hey you ", Update::append(" you")},
        // The longest overlap decides; repeated words must not make a shorter one win.
        {"a b a b", "a b a b c", Update::append(" c")},
        {"x a b a", "a b a c", Update::append(" c")},
        {"one two", "two", Update::append("")},
        // Runs of any White_Space separate words, newlines included.
        {"call me\nnow", "now\u2003please", Update::append(" please")},
        // A prefix must end on a character boundary: the accent belongs to the last letter.
        {"hey mi", "hey mi\u0301", Update::replace("hey mi\u0301")},
        {"민", "민수", Update::append("수")},
    };
    for (const auto& [previous, current, expected] : cases) {
        EXPECT_EQ(incrementalTranscriptUpdate(previous, current), expected) << previous << " -> " << current;
    }
}

TEST(RecentWakePhraseWindowTest, KeepsTheLongestPhrasePlusMarginBetween32And96Characters) {
    EXPECT_EQ(wakeWindowLimit({}), 32);
    EXPECT_EQ(wakeWindowLimit({"민수"}), 32);
    EXPECT_EQ(wakeWindowLimit({std::string(40, 'a')}), 64);
    EXPECT_EQ(wakeWindowLimit({std::string(72, 'a')}), 96);
    // Phrases are trimmed before they are measured.
    EXPECT_EQ(wakeWindowLimit({"   " + std::string(10, 'a') + "   "}), 34);

    const std::string exactly32(32, 'x');
    EXPECT_EQ(recentWakePhraseWindow(exactly32, "", {}), exactly32);
    EXPECT_EQ(recentWakePhraseWindow("yz", exactly32.substr(1), {}), std::string(30, 'x') + "yz");
    EXPECT_EQ(recentWakePhraseWindow("!", exactly32, {}), std::string(31, 'x') + "!");

    // Characters are grapheme clusters: a Hangul syllable or an emoji with a modifier is one.
    std::string hangul;
    for (int i = 0; i < 33; ++i) {
        hangul += i == 0 ? "가" : "나";
    }
    EXPECT_EQ(recentWakePhraseWindow(hangul, "", {}), hangul.substr(3));
    std::string emoji;
    for (int i = 0; i < 33; ++i) {
        emoji += "👋🏽";
    }
    EXPECT_EQ(recentWakePhraseWindow(emoji, "", {}), emoji.substr(8));

    // Blank results are empty; the window is otherwise not trimmed; ill-formed text becomes
    // replacement characters.
    EXPECT_EQ(recentWakePhraseWindow("", "   ", {}), "");
    EXPECT_EQ(recentWakePhraseWindow(" min", " hey", {}), " hey min");
    EXPECT_EQ(recentWakePhraseWindow("b\xC3", "a", {}), "ab\xEF\xBF\xBD");
}

TEST(ApplyingTranscriptUpdateTest, GrowingTranscriptBuildsTheWindowAndReplacementRestartsIt) {
    const std::vector<std::string> phrases{"minsu"};
    std::string previous;
    std::string window;
    for (const auto* transcript : {"hey", "hey min", "hey minsu"}) {
        window = applyingTranscriptUpdate(incrementalTranscriptUpdate(previous, transcript), window, phrases);
        previous = transcript;
    }
    EXPECT_EQ(window, "hey minsu");

    const std::string revised = "hey minsoo there and a long sentence that runs past the limit";
    window = applyingTranscriptUpdate(incrementalTranscriptUpdate(previous, revised), window, phrases);
    EXPECT_EQ(window, revised.substr(revised.size() - 32));

    EXPECT_EQ(applyingTranscriptUpdate(Update::replace(""), "hey", phrases), "");
}

} // namespace
} // namespace harkwell
