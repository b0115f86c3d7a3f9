#pragma once

#include "detection/DetectionSensitivity.h"
#include "detection/SpeechRecognizer.h"
#include "speech/PocketSphinxOptions.h"
#include "speech/WhisperTranscriber.h"
#include "speech/WhisperTranscripts.h"
#include "speech/WhisperWindows.h"

#include <memory>
#include <optional>
#include <string_view>

namespace harkwell {

// Which recognisers listen: PocketSphinx alone (fast, weak on unfamiliar voices and in noise),
// Whisper alone (on near speech only), or both: PocketSphinx proposes, Whisper decides.
enum class RecognizerChoice { pocketSphinx, whisper, both };

// Listening with the accurate recogniser, in one language or more. The audio goes to the basic
// recogniser (when there is one: it hears the English phrases) and into a short history. Whisper
// transcribes windows of that history: the speech near the microphone, as it goes on and when it
// ends (WhisperWindowPlanner), in every language listened in, each with its own phrases in the
// prompt (two transcriptions a window for two languages); and the last seconds at once whenever
// the basic recogniser's transcript holds a call phrase, in English only. Only Whisper's
// transcripts reach the handler, each tagged with its language and followed by the empty
// transcript that ends an utterance in it, so the matching policy of that language decides on
// them; the basic recogniser's own transcripts serve only as candidates.
//
// Whisper runs on a thread of its own ("Harkwell.whisper"), never on the capture thread, and
// takes its windows from a bounded queue: under load the oldest are dropped and counted in the log.
class TwoStageRecognizer final : public SpeechRecognizer {
public:
    struct Options {
        WhisperWindowPlanner::Settings windows;
        std::size_t queueCapacity = 2;
        // What Whisper is told the audio continues (its prompt), so that names come out spelled as
        // the user typed them: nothing, the call phrases, or the phrases with their accepted forms
        // (in Korean 민수야, 민수 씨, 민수님 for 민수; in English the phrases alone). In Korean the
        // forms hear no more calls than the phrases, for twice the CPU in continuous speech.
        enum class Prompt { none, phrases, acceptedForms };
        Prompt prompt = Prompt::phrases;
        // How far Whisper's spelling without the prompt may be from a call phrase it wrote with
        // the prompt (soundsLike), in letter edits a letter; its spelling of a phrase the basic
        // recogniser heard in the same audio (spelledAsPhrase) may be at most 0.39 away.
        double editsPerLetter = 0.6;
        // A phrase Whisper wrote with the prompt in two windows over some of the same audio is
        // taken without the look without the prompt: more calls heard in noise, and more names
        // heard in words that start alike ("Prior to that" for Priya).
        bool promptedTwiceSuffices = false;
        // A window Whisper itself believes holds no speech above this is not passed on.
        double noSpeechThreshold = 0.8;
        // When given, and every phrase is English: while the basic recogniser hears the talker
        // as Whisper does, a window of talk is transcribed only when the basic recogniser heard
        // something that sounds like a call phrase in it, within this many phone edits a phone
        // (PhoneticScreen), or proposed a phrase (WindowScreen): the rest of the talk costs what
        // the basic recogniser costs.
        std::optional<double> screenEditsPerPhone;
        // How long past a window's end the basic recogniser's words are waited for: its queue and
        // the word it holds back.
        int screenWaitFrames = 10;
        // The screen applies while the basic recogniser hears the talker: at least this share of
        // the words Whisper wrote in the last window compared are among its own. Every
        // `screenCheckEvery`th window it passes over is transcribed, to compare again.
        double screenAgreement = 0.5;
        int screenCheckEvery = 4;
        // Audio from a file: wait for Whisper instead of dropping windows (the benchmark).
        bool waitForTranscription = false;
    };

    // basic may be null: Whisper alone; when given, it hears English, one of the languages. The
    // transcriber must be loaded, and multilingual for a language other than English.
    TwoStageRecognizer(std::vector<AppLocale> languages, std::unique_ptr<SpeechRecognizer> basic,
                       std::shared_ptr<WhisperTranscriber> transcriber, Options options);
    TwoStageRecognizer(std::vector<AppLocale> languages, std::unique_ptr<SpeechRecognizer> basic,
                       std::shared_ptr<WhisperTranscriber> transcriber)
        : TwoStageRecognizer(std::move(languages), std::move(basic), std::move(transcriber), Options()) {}

    bool isAvailable() const override;
    bool supportsOnDeviceRecognition() const override { return true; }
    std::vector<AppLocale> languages() const override { return languages_; }
    std::shared_ptr<RecognitionRequest> makeRequest(const std::vector<std::string>& contextualStrings) override;
    std::unique_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                     ResultHandler handler) override;

private:
    std::vector<AppLocale> languages_;
    std::unique_ptr<SpeechRecognizer> basic_;
    std::shared_ptr<WhisperTranscriber> transcriber_;
    Options options_;
};

// The accurate stage's settings for a sensitivity level.
TwoStageRecognizer::Options twoStageOptionsFor(DetectionSensitivity sensitivity);

// Whether phrases of the language can be heard: English always (PocketSphinx, with or without a
// model), Korean only by Whisper with a multilingual model loaded.
bool canListenIn(AppLocale language, bool isMultilingualModelLoaded, RecognizerChoice choice = RecognizerChoice::both);

// The recogniser listening uses, for those of the languages asked for that can be heard
// (canListenIn; none when none can). English alone: with a loaded model, the chosen recognisers
// with the level's settings (PocketSphinx's among them); without one, or when PocketSphinx alone
// is chosen, PocketSphinx as before. Korean alone, which PocketSphinx has no model for: Whisper
// alone. Both: PocketSphinx proposes for the English phrases, Whisper transcribes in both.
SpeechRecognizerFactory listeningRecognizerFactory(DetectionSensitivity sensitivity,
                                                   const std::shared_ptr<WhisperTranscriber>& transcriber,
                                                   RecognizerChoice choice = RecognizerChoice::both);
// The same from explicit settings, for the benchmark.
SpeechRecognizerFactory listeningRecognizerFactory(PocketSphinxOptions basic, TwoStageRecognizer::Options accurate,
                                                   const std::shared_ptr<WhisperTranscriber>& transcriber,
                                                   RecognizerChoice choice);

} // namespace harkwell
