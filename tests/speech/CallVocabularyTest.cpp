// The vocabulary the decoder is given, on a dictionary of a few words.
#include "speech/CallVocabulary.h"
#include "speech/PhoneticScreen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace harkwell {
namespace {

// 'dr' is the street here, 'drive'; a call phrase's 'dr' is a title, said as 'doctor'.
constexpr const char* dictionaryText = "a AH\n"
                                       "doctor D AA K T ER\n"
                                       "dr D R AY V\n"
                                       "games G EY M Z\n"
                                       "hello HH AH L OW\n"
                                       "james JH EY M Z\n"
                                       "jameson JH EY M S AH N\n"
                                       "jamie JH EY M IY\n"
                                       "kim K IH M\n"
                                       "kin K IH N\n"
                                       "the DH AH\n"
                                       "the(2) DH IY\n"
                                       "zebra Z IY B R AH\n";

PronunciationDictionary tinyDictionary() {
    std::istringstream text(dictionaryText);
    return readPronunciationDictionary(text);
}

// The language model's own probabilities; 'kim' is more common than a call phrase word needs to be.
const std::vector<WordProbability> commonWords{{"the", -1.2}, {"a", -1.5}, {"hello", -3.1}, {"kim", -1.8}};

// "민수" has no phones in this model: that phrase is left out.
const std::vector<std::string> phrases{"James", "Dr. Kim", "민수"};

PocketSphinxOptions search(PocketSphinxSearch search, double keyphraseThreshold = -5) {
    PocketSphinxOptions options;
    options.search = search;
    options.keyphraseThresholdPerPhone = keyphraseThreshold;
    return options;
}

TEST(CallVocabularyTest, GivesTheDecoderWhatEachSearchNeeds) {
    struct Case {
        std::string name;
        PocketSphinxOptions options;
        std::vector<std::string> soundAlikes; // sorted
        std::string dictionary;
        std::string languageModel;
        std::string keyphrases;
    };
    const std::string callWordsOnly = "dr D AA K T ER\njames JH EY M Z\nkim K IH M\n";
    // Every word but the rare one, the call words as they are said.
    const std::string spoken = "a AH\ndoctor D AA K T ER\ndr D AA K T ER\ngames G EY M Z\nhello HH AH L OW\n"
                               "james JH EY M Z\njameson JH EY M S AH N\njamie JH EY M IY\nkim K IH M\nkin K IH N\n"
                               "the DH AH\nthe(2) DH IY\n";
    const std::vector<Case> cases{
        {"common words: the common words, the call words favoured, their sound-alikes as likely as any word",
         PocketSphinxOptions{},
         {"doctor", "games", "jameson", "jamie", "kin"},
         spoken,
         "\\data\\\nngram 1=13\nngram 2=1\n\n\\1-grams:\n-99 <s> 0\n-1 </s> 0\n"
         "-1.5000 a 0\n-0.6021 doctor 0\n-2.0000 dr 0\n-0.6021 games 0\n-3.1000 hello 0\n-2.0000 james 0\n"
         "-0.6021 jameson 0\n-0.6021 jamie 0\n-1.8000 kim 0\n-0.6021 kin 0\n-1.2000 the 0\n"
         "\n\\2-grams:\n-0.3 dr kim\n\n\\end\\\n",
         ""},
        {"keyphrases: each phrase once, its threshold a phone rounded to whole powers",
         search(PocketSphinxSearch::keyphrase, -3.3),
         {},
         callWordsOnly,
         "",
         "james /1e-13/\ndr kim /1e-26/\n"},
        {"the whole model: every word of the dictionary, the call words as they are said",
         search(PocketSphinxSearch::languageModel),
         {},
         spoken + "zebra Z IY B R AH\n",
         "",
         ""},
    };
    const auto dictionary = tinyDictionary();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto vocabulary = makeCallVocabulary(phrases, dictionary, commonWords, c.options);
        ASSERT_TRUE(vocabulary);
        EXPECT_EQ(vocabulary->calls.phrases, (std::vector<std::vector<std::string>>{{"james"}, {"dr", "kim"}}));
        auto soundAlikes = vocabulary->soundAlikeWords;
        std::sort(soundAlikes.begin(), soundAlikes.end());
        EXPECT_EQ(soundAlikes, c.soundAlikes);
        EXPECT_EQ(vocabulary->dictionaryText, c.dictionary);
        EXPECT_EQ(vocabulary->languageModelText, c.languageModel);
        EXPECT_EQ(vocabulary->keyphraseList, c.keyphrases);
    }
}

TEST(CallVocabularyTest, NoSearchWithoutWhatItNeeds) {
    const auto dictionary = tinyDictionary();
    const struct {
        std::string name;
        PronunciationDictionary dictionary;
        std::vector<WordProbability> common;
        std::vector<std::string> phrases;
        PocketSphinxOptions options;
        bool isMade;
    } cases[]{
        {"no dictionary", {}, commonWords, phrases, {}, false},
        {"common words search without common words", dictionary, {}, phrases, {}, false},
        {"the whole model needs no common words",
         dictionary,
         {},
         phrases,
         search(PocketSphinxSearch::languageModel),
         true},
        {"keyphrases without a phrase the model can say",
         dictionary,
         commonWords,
         {"민수", "!"},
         search(PocketSphinxSearch::keyphrase),
         false},
        {"common words without a phrase: ordinary words only", dictionary, commonWords, {"민수"}, {}, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(makeCallVocabulary(c.phrases, c.dictionary, c.common, c.options).has_value(), c.isMade) << c.name;
    }
}

TEST(CallVocabularyTest, ReadsDictionariesAndPicksTheMostFrequentWords) {
    std::istringstream text("read R IY D\nread(2) R EH D\nbroken-line\nhello HH AH L OW\n");
    EXPECT_EQ(readPronunciationDictionary(text),
              (PronunciationDictionary{{"read", {"R IY D", "R EH D"}}, {"hello", {"HH AH L OW"}}}));

    const std::vector<WordProbability> unigrams{
        {"<s>", -0.5}, {"of", -1.6}, {"</s>", -0.1}, {"the", -1.2}, {"cat", -4}};
    EXPECT_EQ(mostFrequentWords(unigrams, 2), (std::vector<WordProbability>{{"the", -1.2}, {"of", -1.6}}));
    EXPECT_EQ(mostFrequentWords(unigrams, 10).size(), 3u);
}

TEST(CallVocabularyTest, PartialHypothesesHoldTheirLastWordBackByDefault) {
    PocketSphinxOptions immediate;
    immediate.heldBackWords = 0;
    PocketSphinxOptions two;
    two.heldBackWords = 2;
    const struct {
        std::string hypothesis;
        PocketSphinxOptions options;
        std::string reported;
    } cases[]{
        {"excuse me james", {}, "excuse me"}, // 'james' may yet become 'jameson'
        {"james", {}, ""},
        {"", {}, ""},
        {"excuse me james", immediate, "excuse me james"},
        {"excuse me james", two, "excuse"},
        {"hey james", two, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(settledWords(c.hypothesis, c.options), c.reported) << c.hypothesis;
    }
}

// The screen hears the call phrases in the phones of the words heard, across words, whatever the
// words are; the index is that of the last word of the latest run.
TEST(CallVocabularyTest, TheScreenHearsAPhraseInOtherWordsThatSoundLikeIt) {
    const auto dictionary = tinyDictionary();
    const auto calls = makeCallVocabulary(phrases, dictionary, commonWords, {})->calls;
    const auto phonesOf = [&](const std::vector<std::string>& words) {
        std::vector<std::vector<std::string>> phones;
        for (const auto& word : words) {
            const auto found = dictionary.find(word);
            phones.push_back(splitPhones(found == dictionary.end() ? "" : found->second.front()));
        }
        return phones;
    };
    const struct {
        std::vector<std::string> words;
        double editsPerPhone;
        std::optional<std::size_t> lastMatchEnd;
    } cases[]{
        {{"hello", "james", "the", "zebra"}, 0, 1},
        {{"hello", "games"}, 0.34, 1},       // one phone of four
        {{"hello", "games"}, 0.2, {}},       // too far at that
        {{"the", "doctor", "kin"}, 0.34, 2}, // two words of the phrase, one phone off
        {{"james", "hello", "doctor", "kim", "the"}, 0, 3},
        {{"hello", "the", "zebra", "unknown"}, 0.34, {}},
        {{}, 0.34, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PhoneticScreen(calls, c.editsPerPhone).lastMatchEnd(phonesOf(c.words)), c.lastMatchEnd)
            << c.words.size() << " words at " << c.editsPerPhone;
    }
}

} // namespace
} // namespace harkwell
