#include "matching/WakePhraseMatching.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace harkwell {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Strings = std::vector<std::string>;

TEST(MatchingTokensTest, FoldsCaseAndDiacriticsAndSplitsAtEverythingElse) {
    const std::vector<std::pair<std::string, Strings>> cases{
        {"Hey, JAMES! Café-au-lait 2nd", {"hey", "james", "cafe", "au", "lait", "2nd"}},
        {"O’Neil", {"o", "neil"}},
        {"민수야!", {"민수야"}},
        {" \t\n!!! ", {}},
        // Full-width letters keep their width; Hangul syllables are not decomposed.
        {"ＡＢＣ 민수", {"ａｂｃ", "민수"}},
        // Emoji, including ones with modifiers and joiners, separate tokens.
        {"hi👋🏽there👨‍👩‍👧x", {"hi", "there", "x"}},
        // Letter numbers and other numbers count as numbers; underscores and periods separate.
        {"Ⅻ½ snake_case v1.2", {"ⅻ½", "snake", "case", "v1", "2"}},
        // A decomposed accent folds like a precomposed one.
        {"Cafe\xCC\x81", {"cafe"}},
        // Ill-formed UTF-8 reads as U+FFFD, which is a separator.
        {"ja\xFFmes", {"ja", "mes"}},
    };
    for (const auto& [text, tokens] : cases) {
        EXPECT_EQ(matchingTokens(text), tokens) << text;
    }
}

TEST(NormalizedWakeTextTest, JoinsTokensWithNothing) {
    EXPECT_EQ(normalizedWakeText("Dr. Kim"), "drkim");
    EXPECT_EQ(normalizedWakeText("민수 님"), "민수님");
    EXPECT_EQ(normalizedWakeText("?!"), "");
    EXPECT_EQ(normalizedWakeText("James Kim"), normalizedWakeText("jameskim"));
}

TEST(NormalizedWakePhrasesTest, TrimsDropsBlanksAndKeepsTheFirstOfEachTokenKey) {
    EXPECT_THAT(normalizedWakePhrases({"  James ", "james", "Dr. Kim", "dr kim", "!!!", "Mr Park", "JAMES!"}),
                ElementsAre("James", "Dr. Kim", "Mr Park"));
    // Spacing between tokens makes a different key.
    EXPECT_THAT(normalizedWakePhrases({"James Kim", "jameskim"}), ElementsAre("James Kim", "jameskim"));
    EXPECT_THAT(normalizedWakePhrases({"", "  ", "...", "\n"}), IsEmpty());
}

TEST(AppLocaleTest, RawValuesAreExactAndChooseThePolicy) {
    for (const auto locale : {AppLocale::english, AppLocale::korean}) {
        EXPECT_EQ(AppLocale::fromRawValue(AppLocale(locale).rawValue()), locale);
        EXPECT_EQ(wakePhrasePolicy(locale)->locale(), locale);
    }
    EXPECT_EQ(AppLocale(AppLocale::english).rawValue(), "en-US");
    EXPECT_EQ(AppLocale(AppLocale::korean).rawValue(), "ko-KR");
    for (const auto* raw : {"en", "EN-US", "en_US", "ko", "", "en-US "}) {
        EXPECT_EQ(AppLocale::fromRawValue(raw), std::nullopt) << raw;
    }
}

struct EnglishCase {
    std::string transcript;
    Strings phrases;
    std::optional<std::string> target;
};

TEST(EnglishPolicyTest, MatchesWholeTokenSequencesInPhraseOrder) {
    const std::vector<EnglishCase> cases{
        {"hey james, got a sec", {"James"}, "James"},
        {"Jameson", {"James"}, std::nullopt},
        {"james’s desk", {"james"}, "james"},
        {"mr. park!", {"Mr Park"}, "Mr Park"},
        {"mister park", {"Mr Park"}, std::nullopt},
        {"CAFÉ au lait", {"Cafe"}, "Cafe"},
        {"James, Kim is here", {"Kim", "James"}, "Kim"},
        {"james", {"   ", "..."}, std::nullopt},
        {"", {"James"}, std::nullopt},
        // A repeated first word must not hide a later full sequence.
        {"dr dr kim", {"Dr Kim"}, "Dr Kim"},
        {"  James  ", {" James "}, "James"},
    };
    for (const auto& c : cases) {
        const auto match = matchWakePhrases(c.transcript, c.phrases, AppLocale::english);
        ASSERT_EQ(match.has_value(), c.target.has_value()) << c.transcript;
        if (match) {
            EXPECT_EQ(match->targetPhrase, *c.target) << c.transcript;
            EXPECT_EQ(match->matchedText, c.transcript);
            EXPECT_EQ(match->matchedForm, *c.target);
            EXPECT_EQ(match->reason, "configured-phrase");
        }
    }
}

TEST(ContextualStringsTest, EnglishHintsAreTheNormalisedPhrasesKoreanHintsTheirForms) {
    EXPECT_THAT(wakePhraseContextualStrings({" James ", "JAMES", "Dr. Kim"}, AppLocale::english),
                ElementsAre("James", "Dr. Kim"));
    EXPECT_THAT(wakePhraseContextualStrings({}, AppLocale::english), IsEmpty());
    EXPECT_THAT(wakePhraseContextualStrings({}, AppLocale::korean), IsEmpty());
    const auto hints = wakePhraseContextualStrings({"민수", "지훈"}, AppLocale::korean);
    EXPECT_THAT(hints, ElementsAre("민수", "민수님", "민수 님", "민수씨", "민수 씨", "민수야", "민수 야", "지훈",
                                   "지훈님", "지훈 님", "지훈씨", "지훈 씨", "지훈아", "지훈 아"));
}

} // namespace
} // namespace harkwell
