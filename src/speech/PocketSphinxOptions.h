#pragma once

#include "detection/DetectionSensitivity.h"
#include "speech/AudioFrontEnd.h"

#include <chrono>
#include <cstddef>
#include <optional>

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
    // Partial results leave out their last words until as many more have begun (fewer false
    // alarms, more latency): 0 reports every word at once.
    std::size_t heldBackWords = 1;
    double phraseWordLogProbability = -2.0;
    // How much the language model weighs against the sounds in the first, fast pass, the one
    // partial results come from (the model's own is 6.5; more lets a favoured phrase word win
    // over a sound-alike ordinary word).
    double languageWeight = 10;
    // Keyphrase threshold per phone of the phrase, as a power of ten (-5 gives 1e-5 a phone).
    double keyphraseThresholdPerPhone = -5;
    // What cleans the audio in front of the decoder.
    AudioFrontEndSettings frontEnd;
    // Most audio waiting for the decoder; append waits while the decoder catches up.
    std::chrono::milliseconds maxPendingAudio{250};
    std::chrono::seconds maxUtterance{20};
    // After this much audio, the decoder is made anew where an utterance ends. Its tables and word
    // pools keep the pages the densest talk so far has touched, and hours of talk keep finding
    // denser talk.
    std::chrono::seconds renewDecoderAfter{30 * 60};
    // When given, the recogniser also tells when its words sound like a call phrase within this
    // many phone edits a phone (PhoneticScreen), whatever words it wrote: the accurate recogniser's
    // cue that a name may have been said.
    std::optional<double> screenEditsPerPhone;
};

// The recogniser's settings for a sensitivity level (chosen by measurement; docs/listening.md, "Sensitivity").
PocketSphinxOptions pocketSphinxOptionsFor(DetectionSensitivity sensitivity);

} // namespace harkwell
