#include "speech/CallVocabulary.h"

#include "matching/WakePhraseMatching.h"
#include "speech/Pronunciation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <sstream>

namespace harkwell {

std::vector<std::string> splitPhones(const std::string& phones) {
    std::vector<std::string> result;
    std::istringstream stream(phones);
    for (std::string phone; stream >> phone;) {
        result.push_back(phone);
    }
    return result;
}

namespace {

bool withinOneEdit(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    if (a.size() > b.size()) {
        return withinOneEdit(b, a);
    }
    if (b.size() - a.size() > 1) {
        return false;
    }
    std::size_t front = 0;
    while (front < a.size() && a[front] == b[front]) {
        ++front;
    }
    // The rest must match after skipping one phone of b (insertion) or of both (substitution).
    const auto restEqual = [&](std::size_t skipA, std::size_t skipB) {
        return std::equal(a.begin() + static_cast<std::ptrdiff_t>(std::min(front + skipA, a.size())), a.end(),
                          b.begin() + static_cast<std::ptrdiff_t>(std::min(front + skipB, b.size())), b.end());
    };
    return restEqual(0, 1) || (a.size() == b.size() && restEqual(1, 1));
}

// Words easily mistaken for a call phrase's word: spelled as its continuation ('jameson' for
// 'james') or one phone away from it ('games', 'jamie').
std::vector<std::string> soundAlikes(const PronunciationDictionary& dictionary, const std::string& word,
                                     const std::string& phones) {
    constexpr std::size_t mostOfEach = 25;
    const auto wordPhones = splitPhones(phones);
    std::vector<std::string> continuations, nearby;
    for (const auto& [candidate, candidatePhones] : dictionary) {
        if (candidate == word) {
            continue;
        }
        if (continuations.size() < mostOfEach && candidate.starts_with(word)) {
            continuations.push_back(candidate);
        } else if (nearby.size() < mostOfEach && wordPhones.size() >= 3 &&
                   withinOneEdit(wordPhones, splitPhones(candidatePhones.front()))) {
            nearby.push_back(candidate);
        }
    }
    continuations.insert(continuations.end(), nearby.begin(), nearby.end());
    return continuations;
}

// A language model in ARPA text: the common words as the full model weighs them, each word of
// the call phrases at least as likely as `phraseLogProbability`, and within a phrase of several
// words each word likely after the one before ('kim' after 'dr').
std::string commonWordsLanguageModel(const std::vector<WordProbability>& common,
                                     const std::vector<std::vector<std::string>>& phrases, double phraseLogProbability,
                                     const std::vector<std::string>& soundAlikeWords) {
    std::map<std::string, double> words(common.begin(), common.end());
    // As likely as a word added to a vocabulary of this size without a probability of its own.
    const double uniform = -std::log10(static_cast<double>(std::max<std::size_t>(common.size(), 1)));
    for (const auto& word : soundAlikeWords) {
        words.try_emplace(word, uniform);
    }
    std::set<std::pair<std::string, std::string>> pairs;
    for (const auto& phrase : phrases) {
        for (std::size_t i = 0; i < phrase.size(); ++i) {
            auto& probability = words.try_emplace(phrase[i], phraseLogProbability).first->second;
            probability = std::max(probability, phraseLogProbability);
            if (i > 0) {
                pairs.emplace(phrase[i - 1], phrase[i]);
            }
        }
    }
    std::string text = "\\data\\\nngram 1=" + std::to_string(words.size() + 2) + "\n";
    if (!pairs.empty()) {
        text += "ngram 2=" + std::to_string(pairs.size()) + "\n";
    }
    text += "\n\\1-grams:\n-99 <s> 0\n-1 </s> 0\n";
    char number[32];
    for (const auto& [word, probability] : words) {
        std::snprintf(number, sizeof number, "%.4f", probability);
        text += std::string(number) + " " + word + " 0\n";
    }
    if (!pairs.empty()) {
        text += "\n\\2-grams:\n";
        for (const auto& [first, second] : pairs) {
            text.append("-0.3 ").append(first).append(" ").append(second).append("\n");
        }
    }
    return text + "\n\\end\\\n";
}

CallPhrases callPhrases(const std::vector<std::string>& contextualStrings, const PronunciationDictionary& dictionary) {
    const DictionaryLookup lookUp = [&](std::string_view word) {
        const auto found = dictionary.find(std::string(word));
        return found == dictionary.end() ? std::vector<std::string>() : found->second;
    };
    CallPhrases calls;
    for (const auto& text : contextualStrings) {
        auto tokens = matchingTokens(text);
        bool complete = !tokens.empty();
        for (const auto& token : tokens) {
            auto phones = englishPronunciations(token, lookUp);
            complete = complete && !phones.empty();
            if (!phones.empty()) {
                calls.wordPhones[token] = std::move(phones);
            }
        }
        if (complete) {
            calls.phrases.push_back(std::move(tokens));
        }
    }
    return calls;
}

// The decoder's dictionary: just its vocabulary, the phrase words with their own pronunciations
// (a title as it is spoken, names as they are said), every other word as the model's dictionary
// has it ("word(2)" is a second pronunciation).
std::string dictionaryText(const std::set<std::string>& vocabulary,
                           const std::map<std::string, std::vector<std::string>>& phraseWordPhones,
                           const PronunciationDictionary& dictionary) {
    std::string text;
    for (const auto& word : vocabulary) {
        const auto ours = phraseWordPhones.find(word);
        const auto found = dictionary.find(word);
        const auto& phones = ours != phraseWordPhones.end() ? ours->second
                             : found != dictionary.end()    ? found->second
                                                            : std::vector<std::string>();
        for (std::size_t i = 0; i < phones.size(); ++i) {
            text.append(word);
            if (i > 0) {
                text.append("(").append(std::to_string(i + 1)).append(")");
            }
            text.append(" ").append(phones[i]).append("\n");
        }
    }
    return text;
}

// The call phrases for a keyphrase search, each with a threshold for its length in phones.
std::string keyphraseList(const CallPhrases& calls, double thresholdPerPhone) {
    std::string list;
    for (const auto& phrase : calls.phrases) {
        std::string text;
        long phones = 0;
        for (const auto& word : phrase) {
            const auto& pronunciation = calls.wordPhones.at(word).front();
            phones += std::count(pronunciation.begin(), pronunciation.end(), ' ') + 1;
            text += (text.empty() ? "" : " ") + word;
        }
        char threshold[32];
        std::snprintf(threshold, sizeof threshold, "/1e%+d/",
                      static_cast<int>(std::lround(thresholdPerPhone * static_cast<double>(phones))));
        list += text + " " + threshold + "\n";
    }
    return list;
}

} // namespace

PronunciationDictionary readPronunciationDictionary(std::istream& text) {
    PronunciationDictionary entries;
    for (std::string line; std::getline(text, line);) {
        const auto space = line.find(' ');
        if (space == std::string::npos) {
            continue;
        }
        entries[line.substr(0, std::min(space, line.find('(')))].push_back(line.substr(space + 1));
    }
    return entries;
}

std::vector<WordProbability> mostFrequentWords(std::vector<WordProbability> words, std::size_t count) {
    std::erase_if(words, [](const WordProbability& word) { return word.first.starts_with('<'); });
    std::sort(words.begin(), words.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    words.resize(std::min(words.size(), count));
    return words;
}

std::optional<CallVocabulary> makeCallVocabulary(const std::vector<std::string>& contextualStrings,
                                                 const PronunciationDictionary& dictionary,
                                                 const std::vector<WordProbability>& commonWords,
                                                 const PocketSphinxOptions& options) {
    if (dictionary.empty()) {
        return std::nullopt;
    }
    CallVocabulary result;
    result.calls = callPhrases(contextualStrings, dictionary);
    // The words the decoder can output.
    std::set<std::string> vocabulary;
    for (const auto& [word, phones] : result.calls.wordPhones) {
        vocabulary.insert(word);
    }
    switch (options.search) {
    case PocketSphinxSearch::languageModel:
        for (const auto& [word, phones] : dictionary) {
            vocabulary.insert(word);
        }
        break;
    case PocketSphinxSearch::commonWords:
        if (commonWords.empty()) {
            return std::nullopt;
        }
        for (const auto& [word, phones] : result.calls.wordPhones) {
            const auto more = soundAlikes(dictionary, word, phones.front());
            result.soundAlikeWords.insert(result.soundAlikeWords.end(), more.begin(), more.end());
        }
        for (const auto& [word, probability] : commonWords) {
            vocabulary.insert(word);
        }
        vocabulary.insert(result.soundAlikeWords.begin(), result.soundAlikeWords.end());
        result.languageModelText = commonWordsLanguageModel(commonWords, result.calls.phrases,
                                                            options.phraseWordLogProbability, result.soundAlikeWords);
        break;
    case PocketSphinxSearch::keyphrase:
        if (result.calls.phrases.empty()) {
            return std::nullopt;
        }
        result.keyphraseList = keyphraseList(result.calls, options.keyphraseThresholdPerPhone);
        break;
    }
    result.dictionaryText = dictionaryText(vocabulary, result.calls.wordPhones, dictionary);
    return result;
}

std::string settledWords(const std::string& hypothesis, const PocketSphinxOptions& options) {
    auto end = hypothesis.size();
    for (std::size_t held = 0; held < options.heldBackWords; ++held) {
        const auto space = hypothesis.rfind(' ', end == 0 ? 0 : end - 1);
        if (space == std::string::npos || end == 0) {
            return {};
        }
        end = space;
    }
    return hypothesis.substr(0, end);
}

} // namespace harkwell
