#pragma once

#include "speech/PocketSphinxOptions.h"

#include <cstddef>
#include <istream>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace harkwell {

// Every word of a PocketSphinx dictionary with its pronunciations ("JH EY M Z"), in the
// dictionary's order ("word(2) ..." is the second pronunciation of "word").
using PronunciationDictionary = std::unordered_map<std::string, std::vector<std::string>>;

// A pronunciation's phones: "JH EY M Z" gives JH, EY, M, Z.
std::vector<std::string> splitPhones(const std::string& phones);

// A word with its probability (log10) in a language model.
using WordProbability = std::pair<std::string, double>;

// Reads a dictionary in PocketSphinx's format, one "word phones" a line; lines without phones
// are skipped.
PronunciationDictionary readPronunciationDictionary(std::istream& text);

// The `count` most probable words, the most probable first: the ordinary words that call phrases
// compete with. Markers such as "<s>" are no words.
std::vector<WordProbability> mostFrequentWords(std::vector<WordProbability> words, std::size_t count);

// The call phrases as the matching tokens spell them, every word with its pronunciations. A
// phrase with a word the model cannot say (another script) is left out.
struct CallPhrases {
    std::map<std::string, std::vector<std::string>> wordPhones;
    std::vector<std::vector<std::string>> phrases;
};

// What the decoder is given to listen for the call phrases, for the search the options choose.
struct CallVocabulary {
    CallPhrases calls;
    // Words easily mistaken for a call phrase's word, in the vocabulary so that a near miss is
    // heard as itself (commonWords search only).
    std::vector<std::string> soundAlikeWords;
    // The decoder's dictionary: the words it can output with their pronunciations.
    std::string dictionaryText;
    // commonWords search: the language model in ARPA text (the other searches have none of
    // their own: languageModel uses the model's, keyphrase none).
    std::string languageModelText;
    // keyphrase search: one phrase a line with its detection threshold.
    std::string keyphraseList;
};

// The vocabulary for the contextual strings (the call phrases as the user wrote them) from the
// model's dictionary and, for the commonWords search, its most frequent words. None when these
// make no search: an empty dictionary, no common words for the commonWords search, no phrase
// the model can say for the keyphrase search.
std::optional<CallVocabulary> makeCallVocabulary(const std::vector<std::string>& contextualStrings,
                                                 const PronunciationDictionary& dictionary,
                                                 const std::vector<WordProbability>& commonWords,
                                                 const PocketSphinxOptions& options);

// A partial hypothesis as it is reported. While speech goes on, the last word of a hypothesis is
// often the beginning of a longer one ('james' becoming 'jameson'): the last `heldBackWords`
// words are left out until as many words follow them or the utterance ends.
std::string settledWords(const std::string& hypothesis, const PocketSphinxOptions& options);

} // namespace harkwell
