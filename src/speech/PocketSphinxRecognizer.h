#pragma once

#include "detection/SpeechRecognizer.h"

#include <chrono>
#include <string>

namespace harkwell {

// The files of a PocketSphinx model.
struct PocketSphinxModel {
    std::string acousticModel; // folder with mdef, means, ...
    std::string dictionary;
    std::string languageModel;

    // Debian's US English model (pocketsphinx-en-us).
    static PocketSphinxModel englishUS();
    // Whether every file can be read.
    bool isReadable() const;
};

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

// On-device speech recognition with PocketSphinx. Each task decodes on a worker thread of its own
// ("Harkwell.speech") and posts its results to the main thread of the Qt application: the
// transcript of the utterance being heard, revised as decoding goes on, then, when the utterance
// ends at a pause (or after `maxUtterance` of unbroken speech), an empty transcript, so that every
// utterance starts afresh and neither audio nor text piles up over hours.
class PocketSphinxRecognizer final : public SpeechRecognizer {
public:
    using Search = PocketSphinxSearch;
    using Options = PocketSphinxOptions;

    explicit PocketSphinxRecognizer(AppLocale locale, PocketSphinxModel model = PocketSphinxModel::englishUS(),
                                    Options options = {});

    bool isAvailable() const override;
    bool supportsOnDeviceRecognition() const override { return true; }
    std::shared_ptr<RecognitionRequest> makeRequest(const std::vector<std::string>& contextualStrings) override;
    std::unique_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                     ResultHandler handler) override;

private:
    AppLocale locale_;
    PocketSphinxModel model_;
    Options options_;
};

// The recogniser for a locale: PocketSphinx's US English model for English; none for Korean, for
// which no model ships.
std::unique_ptr<SpeechRecognizer> makeSpeechRecognizer(AppLocale locale);

} // namespace harkwell
