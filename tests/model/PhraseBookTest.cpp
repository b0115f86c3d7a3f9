#include "model/PhraseBook.h"
#include "TestLocale.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <vector>

namespace harkwell {
namespace {

using testing::useLocale;

QStringList numbered(const QString& pattern, int first, int last) {
    QStringList list;
    for (int index = first; index <= last; ++index) {
        list.append(pattern.arg(index));
    }
    return list;
}

class PhraseBookTest : public ::testing::Test {
protected:
    testing::TestLocale speaksEnglish;
    PhraseBook book;
};

// Drafts split at commas, semicolons, line breaks and tabs; refusals are hints.
TEST_F(PhraseBookTest, AddingSplitsTheDraftAtCommasAndExplainsWhatItRefuses) {
    const QString longest(PhraseBook::maximumLength, QChar('a'));
    QString graphemes; // 100 characters of two code points each
    for (int count = 0; count < PhraseBook::maximumLength; ++count) {
        graphemes += QStringLiteral("e\u0301");
    }
    const QStringList listed{"“\u2068Olivia\u2069” is already in the list.",
                             "“\u2068Olivia\u2069”은(는) 이미 목록에 있습니다."};
    const QStringList noLetter{"A call phrase needs at least one letter or number.",
                               "호출 문구에는 글자나 숫자가 하나 이상 있어야 합니다."};
    const QStringList tooLong{"A call phrase can be at most 100 characters long.",
                              "호출 문구는 100자 이하여야 합니다."};
    const auto addedHint = [](int count, const QStringList& after = {"", ""}) {
        return QStringList{QString("Added %1 call phrases.").arg(count) + after[0],
                           QString("호출 문구 %1개를 추가했습니다.").arg(count) + after[1]};
    };
    // The draft, what is added, the hint in English and Korean (none: empty).
    const std::vector<std::tuple<QString, QStringList, QStringList>> cases{
        {"Dr. Kim, Ann", {"Dr. Kim", "Ann"}, addedHint(2)},
        {"민수、지영，팀장님,", {"민수", "지영", "팀장님"}, addedHint(3)},
        {"ann , Ann, ANN", {"ann"}, {}},
        {"Anna\nBob\r\nCarl\tDee; Eve；Fay\u2028Gus\x01",
         {"Anna", "Bob", "Carl", "Dee", "Eve", "Fay", "Gus"},
         addedHint(7)},
        {longest + ", " + graphemes, {longest, graphemes}, addedHint(2)},
        {"  olivia  ", {}, listed},
        {"!!!", {}, noLetter},
        {" , ，", {}, noLetter},
        {"Ann, " + longest + "a", {"Ann"}, tooLong},
        {"Ann, OLIVIA, ?", {"Ann"}, listed},
        {"Ann\nBob\nolivia", {"Ann", "Bob"}, addedHint(2, {" " + listed[0], " " + listed[1]})},
    };
    for (const int korean : {0, 1}) {
        useLocale(korean ? "ko-KR" : "en-US");
        for (const auto& [draft, added, hints] : cases) {
            SCOPED_TRACE(draft.toStdString() + (korean ? " ko" : " en"));
            book.setPhrases({"Olivia"});
            book.setDraft(draft);
            EXPECT_TRUE(book.canAdd());
            const auto addition = book.additionFromDraft();
            EXPECT_EQ(addition.added, added);
            EXPECT_EQ(addition.hint, hints.value(korean));
        }
    }
}

// At most 50 phrases: one place left goes to the first piece; a full list takes none.
TEST_F(PhraseBookTest, TheListTakesAtMostTheMaximum) {
    const QString full = "You can add up to 50 call phrases.";
    const std::vector<std::tuple<int, QString, QStringList, QString>> cases{
        {PhraseBook::maximumCount - 1, "Ann, Kim", {"Ann"}, full},
        {PhraseBook::maximumCount - 1, "Ann, Name 3", {"Ann"}, "“\u2068Name 3\u2069” is already in the list."},
        {60, "Zed", {}, full},
    };
    for (const auto& [listed, draft, added, hint] : cases) {
        SCOPED_TRACE(draft.toStdString());
        book.setPhrases(numbered("Name %1", 1, listed));
        book.setDraft(draft);
        const auto addition = book.additionFromDraft();
        EXPECT_EQ(addition.added, added);
        EXPECT_EQ(addition.hint, hint);
    }
    useLocale("ko-KR");
    EXPECT_EQ(book.additionFromDraft().hint, "호출 문구는 50개까지 추가할 수 있습니다.");
}

// A phrase in a language listening does not hear is added, and the hint says why it is not heard:
// a script no recogniser knows, or Hangul while Korean is not heard. The first such piece speaks.
// (The Korean texts are checked with the translations.)
TEST_F(PhraseBookTest, APhraseListeningDoesNotHearIsAddedWithAHint) {
    const QString script = "“\u2068Иван\u2069” cannot be heard: write call phrases in Latin letters or Hangul.";
    const QString korean = "“\u2068민수\u2069” cannot be heard: Korean needs the accurate recognition model.";
    // The draft, whether Korean is heard, the hint (none: empty).
    const std::vector<std::tuple<QString, bool, QString>> cases{
        {"Иван", true, script},
        {"Иван", false, script},
        {"민수", false, korean},
        {"민수", true, {}},
        {"Ann, Иван, 민수", false, "Added 3 call phrases. " + script},
        {"Ann, 민수, Иван", false, "Added 3 call phrases. " + korean},
        {"James님", false, "“\u2068James님\u2069” cannot be heard: Korean needs the accurate recognition model."},
        {"Ann, 007", false, "Added 2 call phrases."},
    };
    for (const auto& [draft, isKoreanHeard, hint] : cases) {
        SCOPED_TRACE(draft.toStdString() + (isKoreanHeard ? " heard" : ""));
        book.setKoreanHeard(isKoreanHeard);
        book.setPhrases({"Olivia"});
        book.setDraft(draft);
        const auto addition = book.additionFromDraft();
        EXPECT_EQ(addition.added.join(", "), draft) << "every piece is added";
        EXPECT_EQ(addition.hint, hint);
    }
}

// Listening uses the first 50 phrases within the length limit in a language it hears, whatever the
// interface language: Latin always, Hangul while Korean is heard.
TEST_F(PhraseBookTest, ListeningUsesThePhrasesWithinTheLimitsInALanguageItHears) {
    QStringList sixty = numbered("Name %1", 1, 60);
    sixty[1] = QString(101, QChar('b'));
    std::vector<std::string> first50;
    for (const QString& phrase : sixty) {
        if (phrase.size() <= PhraseBook::maximumLength && first50.size() < 50) {
            first50.push_back(phrase.toStdString());
        }
    }
    // Whether Korean is heard, the phrases, those listened for, how many are hearable.
    const std::vector<std::tuple<bool, QStringList, std::vector<std::string>, int>> cases{
        {true, {"Olivia", "Anna", "שרה", "مريم"}, {"Olivia", "Anna"}, 2},
        {true, {"Olivia", "민수", "Анна"}, {"Olivia", "민수"}, 2},
        {false, {"Olivia", "민수", "James님"}, {"Olivia"}, 1},
        {true, sixty, first50, 59},
        {true, {QString(101, QChar('c'))}, {}, 0},
    };
    for (const char* locale : {"en-US", "ko-KR"}) {
        useLocale(locale);
        for (const auto& [isKoreanHeard, phrases, listened, hearable] : cases) {
            SCOPED_TRACE(phrases.first().toStdString() + " " + locale);
            book.setPhrases(phrases);
            const QSignalSpy changes(&book, &PhraseBook::phrasesChanged);
            book.setKoreanHeard(isKoreanHeard);
            EXPECT_EQ(changes.count(), 1) << "which phrases are listened for may have changed";
            EXPECT_EQ(book.phrases(), phrases) << "nothing listed is dropped";
            EXPECT_EQ(book.listened(), listened);
            EXPECT_EQ(int(book.hearable().size()), hearable);
        }
    }
    EXPECT_EQ(book.inHeardLanguageCount(), 1);
    EXPECT_EQ(book.whyNotHeard(book.phrases().first()), "호출 문구는 100자 이하여야 합니다.");
    useLocale("en-US");
    book.setKoreanHeard(false);
    EXPECT_EQ(book.whyNotHeard("שרה"),
              "“\u2068שרה\u2069” cannot be heard: write call phrases in Latin letters or Hangul.");
    EXPECT_FALSE(book.whyNotHeard("שרה")->isRightToLeft()) << "the quoted phrase turned the sentence";
    EXPECT_EQ(book.whyNotHeard("민수"),
              "“\u2068민수\u2069” cannot be heard: Korean needs the accurate recognition model.");
    EXPECT_FALSE(book.whyNotHeard("Olivia"));
}

// A paste that would make the draft longer than it may be is cut before a comma, never inside a
// phrase; the hint tells how many phrases went in and which did not.
TEST_F(PhraseBookTest, APasteThatDoesNotFitIsCutBeforeAComma) {
    const auto names = [](int first, int last) { return numbered("Person%1", first, last).join(", "); };
    const QString xs(PhraseBook::maximumDraftLength - 2, QChar('x'));
    struct Case {
        const char* name;
        QString draft;
        int position;
        int replaced;
        QString pasted;
        QString draftAfter;
        QString english;
        QString korean;
    };
    // "Person1" to "Person51" and the commas and spaces between them take 499 characters.
    const std::vector<Case> cases{
        {"a list that fits", "", 0, 0, names(1, 3), names(1, 3), {}, {}},
        {"exactly the room", "", 0, 0, xs + "yy", xs + "yy", {}, {}},
        {"503 names", "", 0, 0, names(1, 503), names(1, 51),
         "Pasted 51 of 503 phrases: the field holds 500 characters. Not pasted: Person52, Person53, Person54 and "
         "449 more.",
         "붙여 넣은 호출 문구 503개 중 51개만 넣었습니다(입력란은 최대 500자). 넣지 못한 문구: Person52, Person53, "
         "Person54 외 449개"},
        {"after what is there", xs.left(492), 492, 0, ", Ann, Bob", xs.left(492) + ", Ann",
         "Pasted 1 of 2 phrases: the field "
         "holds 500 characters. Not pasted: Bob.",
         "붙여 넣은 호출 문구 2개 중 1개만 넣었습니다(입력란은 최대 500자). "
         "넣지 못한 문구: Bob"},
        {"in place of a selection, before what follows", "Ann, Kim" + xs.left(484), 5, 3, "Bob, Cy、Dee，Eve",
         "Ann, Bob, Cy、Dee" + xs.left(484), "Pasted 3 of 4 phrases: the field holds 500 characters. Not pasted: Eve.",
         "붙여 넣은 호출 문구 4개 중 3개만 넣었습니다(입력란은 최대 500자). 넣지 못한 문구: Eve"},
        {"one phrase too long", "Ann", 3, 0, QString(600, QChar('z')), "Ann",
         "Pasted 0 of 1 phrases: the field holds 500 characters. Not pasted: zzzzzzzzzzzzzzzzzzzzzzzzzzzzzz….",
         "붙여 넣은 호출 문구 1개 중 0개만 넣었습니다(입력란은 최대 500자). 넣지 못한 문구: "
         "zzzzzzzzzzzzzzzzzzzzzzzzzzzzzz…"},
        {"a column of names, one a line", "", 0, 0, numbered("Person%1", 1, 503).join("\n"),
         numbered("Person%1", 1, 56).join("\n"),
         "Pasted 56 of 503 phrases: the field holds 500 characters. Not pasted: Person57, Person58, Person59 and "
         "444 more.",
         "붙여 넣은 호출 문구 503개 중 56개만 넣었습니다(입력란은 최대 500자). 넣지 못한 문구: Person57, Person58, "
         "Person59 외 444개"},
        {"only blanks after the cut", "", 0, 0, "Ann," + QString(600, QChar(' ')), "Ann", {}, {}},
        {"a position past the end", "Ann", 10, 5, ", Bob", "Ann, Bob", {}, {}},
    };
    for (const std::string locale : {"en-US", "ko-KR"}) {
        useLocale(locale);
        for (const auto& [name, draft, position, replaced, pasted, draftAfter, english, korean] : cases) {
            SCOPED_TRACE(std::string(name) + " " + locale);
            book.setDraft(draft);
            book.paste(pasted, position, replaced);
            EXPECT_EQ(book.draft(), draftAfter);
            EXPECT_LE(book.draft().size(), PhraseBook::maximumDraftLength);
            EXPECT_EQ(book.hint(), locale == "en-US" ? english : korean);
        }
    }
}

// A new draft clears the hint, once; the same draft again keeps it.
TEST_F(PhraseBookTest, ADifferentDraftClearsTheHint) {
    book.setDraft("Ann");
    book.setHint("why not");
    QSignalSpy hints(&book, &PhraseBook::hintChanged);
    book.setDraft("Ann");
    EXPECT_EQ(book.hint(), "why not");
    book.setDraft("Bob");
    book.setDraft("Cy");
    EXPECT_EQ(book.hint(), "");
    EXPECT_EQ(hints.count(), 1);
    book.setDraft(" \t ");
    EXPECT_FALSE(book.canAdd());
}

// Removing takes out the phrases that are the same but for case, spacing and punctuation.
TEST_F(PhraseBookTest, RemovingMatchesPhrasesByTheirTokens) {
    book.setPhrases({"  James ", "Dr. Kim", "james", "", "Ann"});
    EXPECT_EQ(book.phrases(), (QStringList{"James", "Dr. Kim", "Ann"}));
    EXPECT_EQ(book.without("dr kim"), (QStringList{"James", "Ann"}));
    EXPECT_EQ(book.without("JAMES"), (QStringList{"Dr. Kim", "Ann"}));
    EXPECT_EQ(book.without("Jim"), book.phrases());
}

} // namespace
} // namespace harkwell
