#pragma once

#include "detection/SpeechRecognizer.h"
#include "speech/PocketSphinxOptions.h"

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

// On-device speech recognition with PocketSphinx. Each task decodes on a worker thread of its own
// ("Harkwell.speech") and hands its results to the handler there, until it is cancelled: the
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
    std::vector<AppLocale> languages() const override { return {locale_}; }
    std::shared_ptr<RecognitionRequest> makeRequest(const std::vector<std::string>& contextualStrings) override;
    std::unique_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                     ResultHandler handler) override;

private:
    AppLocale locale_;
    PocketSphinxModel model_;
    Options options_;
};

// The recogniser for a locale: PocketSphinx's US English model for English; none for Korean, for
// which no model ships. The first at medium sensitivity; the factory's at the level given, for
// English when it is among the languages asked for.
std::unique_ptr<SpeechRecognizer> makeSpeechRecognizer(AppLocale locale);
SpeechRecognizerFactory speechRecognizerFactory(DetectionSensitivity sensitivity);

} // namespace harkwell
