#pragma once

#include <chrono>
#include <cstddef>

namespace harkwell {

// The recogniser's settings: what the vocabulary is made of (CallVocabulary) and how the decoder
// runs (PocketSphinxRecognizer).

enum class PocketSphinxSearch {
    commonWords,   // the language's most common words and the call phrases' words, favoured
    languageModel, // the model's whole vocabulary and trigrams, the call phrases' words added to it
    keyphrase,     // only the call phrases, each with a detection threshold
};

struct PocketSphinxOptions {
    PocketSphinxSearch search = PocketSphinxSearch::commonWords;
    // commonWords: how many of the most frequent words, and the probability (log10) each word
    // of a call phrase gets among them.
    std::size_t commonWordCount = 3000;
    // Partial results leave out their last word until the next begins (fewer false alarms,
    // a little more latency).
    bool holdBackLastWord = true;
    double phraseWordLogProbability = -2.0;
    // How much the language model weighs against the sounds in the first, fast pass, the one
    // partial results come from (the model's own is 6.5; more lets a favoured phrase word win
    // over a sound-alike ordinary word).
    double languageWeight = 10;
    // Keyphrase threshold per phone of the phrase, as a power of ten (-5 gives 1e-5 a phone).
    double keyphraseThresholdPerPhone = -5;
    // Noise suppression in front of the decoder: how far steady noise is pushed down (dB,
    // negative); 0 turns it off.
    int noiseSuppressionDecibels = -15;
    // Most audio waiting for the decoder; append waits while the decoder catches up.
    std::chrono::milliseconds maxPendingAudio{250};
    std::chrono::seconds maxUtterance{20};
};

} // namespace harkwell
