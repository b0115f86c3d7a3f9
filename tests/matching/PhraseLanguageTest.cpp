#include "matching/PhraseLanguage.h"

#include <gtest/gtest.h>

namespace harkwell {
namespace {

TEST(PhraseLanguageTest, APhraseIsHeardInTheLanguageOfItsLetters) {
    const std::optional<AppLocale> korean = AppLocale::korean;
    const std::optional<AppLocale> english = AppLocale::english;
    const std::optional<AppLocale> none;
    const std::vector<std::pair<std::string, std::optional<AppLocale>>> cases{
        {"민수", korean},
        {"김 팀장님", korean},
        // An English name glued to a Korean suffix is said in a Korean sentence.
        {"James님", korean},
        {"ㅋㅋ", korean},
        {"James", english},
        {"Dr. O'Neil", english},
        {"José", english},
        {"Zoë", english},
        {"Dr. O’Neil 2", english},
        {"Cafe\xCC\x81", english}, // a combining accent
        {"ＡＢＣ", english},
        {"007", english},
        {"R2-D2", english},
        {"\xE1\x84\x86\xE1\x85\xB5\xE1\x86\xAB", korean}, // 민 in conjoining jamo
        // Letters no recogniser here knows, alone or beside heard ones.
        {"Иван", none},
        {"王", none},
        {"田中さん", none},
        {"שרה", none},
        {"مريم", none},
        {"James 王", none},
        {"Anna דנה", none},
        {"민수 王", none},
        {"Ann \xD9\xA3", none}, // an Arabic-Indic digit
        {"?!", none},
        {"", none},
        {"👋", none},
    };
    for (const auto& [phrase, language] : cases) {
        EXPECT_EQ(listeningLanguageOf(phrase), language) << phrase;
    }
}

TEST(PhraseLanguageTest, PhrasesAreSplitByLanguageInTheirOrder) {
    const std::vector<std::string> phrases{"민수", "James", "Иван", "Dr. Kim", "지훈아"};
    EXPECT_EQ(phrasesHeardIn(phrases, AppLocale::english), (std::vector<std::string>{"James", "Dr. Kim"}));
    EXPECT_EQ(phrasesHeardIn(phrases, AppLocale::korean), (std::vector<std::string>{"민수", "지훈아"}));
    EXPECT_EQ(listeningLanguagesOf(phrases), (std::vector<AppLocale>{AppLocale::english, AppLocale::korean}));
    EXPECT_EQ(listeningLanguagesOf({"민수"}), (std::vector<AppLocale>{AppLocale::korean}));
    EXPECT_TRUE(listeningLanguagesOf({"Иван", ""}).empty());
}

} // namespace
} // namespace harkwell
