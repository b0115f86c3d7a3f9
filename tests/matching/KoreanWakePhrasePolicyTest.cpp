#include "matching/WakePhraseMatching.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace harkwell {
namespace {

using Strings = std::vector<std::string>;

TEST(KoreanAcceptedFormsTest, BuildsHonorificAndVocativeFormsOfOneTokenPhrases) {
    const std::vector<std::pair<std::string, Strings>> cases{
        {"민수", {"민수", "민수님", "민수 님", "민수씨", "민수 씨", "민수야", "민수 야"}},
        {"지훈", {"지훈", "지훈님", "지훈 님", "지훈씨", "지훈 씨", "지훈아", "지훈 아"}},
        {"민수!", {"민수!", "민수님", "민수 님", "민수씨", "민수 씨", "민수야", "민수 야"}},
        {"James", {"James", "james님", "james 님", "james씨", "james 씨", "james야", "james 야"}},
        {"선배님", {"선배님"}},
        {"수아", {"수아"}},
        {" 철수씨 ", {"철수씨"}},
        {"김 민수", {"김 민수"}},
        {"Mr Park", {"Mr Park"}},
        {"   ", {}},
    };
    for (const auto& [phrase, forms] : cases) {
        EXPECT_EQ(koreanAcceptedForms(phrase), forms) << phrase;
    }
}

struct KoreanCase {
    std::string transcript;
    std::optional<std::string> form; // the matched form, or no match
};

TEST(KoreanPolicyTest, MatchesFormsAcrossTokenSpacingWithTheLoneSyllableGuard) {
    const std::vector<KoreanCase> cases{
        {"민수", "민수"},          {"민 수", "민수"},
        {"민수야", "민수야"},      {"민수 야", "민수야"},
        {"민 수 야", "민수야"},    {"민수 씨", "민수씨"},
        {"민수 씨가", "민수"},     {"민수 형님", "민수"},
        {"민수 형", std::nullopt}, {"민수가", std::nullopt},
        {"김민수", std::nullopt},  {"수 민수", "민수"},
        {"민수, 이리 와", "민수"}, {"저기 민수님 계세요", "민수님"},
        {"", std::nullopt},        {"...", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto match = matchWakePhrases(c.transcript, {"민수"}, AppLocale::korean);
        ASSERT_EQ(match.has_value(), c.form.has_value()) << c.transcript;
        if (match) {
            EXPECT_EQ(match->targetPhrase, "민수");
            EXPECT_EQ(match->matchedForm, *c.form) << c.transcript;
            EXPECT_EQ(match->matchedText, c.transcript);
            EXPECT_EQ(match->reason, *c.form == "민수" ? "configured-phrase" : "accepted-form") << c.transcript;
        }
    }
}

TEST(KoreanPolicyTest, NonKoreanAndMultiTokenPhrases) {
    auto match = matchWakePhrases("제임스 james 씨", {"James"}, AppLocale::korean);
    ASSERT_TRUE(match);
    EXPECT_EQ(match->matchedForm, "james씨");
    EXPECT_EQ(match->reason, "accepted-form");

    for (const auto* transcript : {"mr park", "mrpark", "Mr. Park!"}) {
        match = matchWakePhrases(transcript, {"Mr Park"}, AppLocale::korean);
        ASSERT_TRUE(match) << transcript;
        EXPECT_EQ(match->matchedForm, "Mr Park");
        EXPECT_EQ(match->reason, "configured-phrase");
    }

    // A phrase that already ends in a suffix does not take another one.
    EXPECT_FALSE(matchWakePhrases("수아야", {"수아"}, AppLocale::korean));
    EXPECT_TRUE(matchWakePhrases("수아 왔어", {"수아"}, AppLocale::korean));

    // Phrase order decides, not transcript order.
    match = matchWakePhrases("지훈아 민수야", {"민수", "지훈"}, AppLocale::korean);
    ASSERT_TRUE(match);
    EXPECT_EQ(match->targetPhrase, "민수");
}

TEST(KoreanPolicyTest, FormAtTheEndOfTheTranscriptAlwaysMatches) {
    // The last tokens, however spaced, complete the form with nothing after them.
    for (const auto* transcript : {"저기요 지훈", "저기요 지 훈", "저기요 지훈 아", "저기요 지훈아"}) {
        EXPECT_TRUE(matchWakePhrases(transcript, {"지훈"}, AppLocale::korean)) << transcript;
    }
}

} // namespace
} // namespace harkwell
