#pragma once

#include "detection/DetectionSensitivity.h"
#include "detection/SpeechRecognizer.h"
#include "speech/PocketSphinxOptions.h"
#include "speech/WhisperTranscriber.h"
#include "speech/WhisperWindows.h"

#include <memory>
#include <optional>
#include <string_view>

namespace harkwell {

// Which recognisers listen: PocketSphinx alone (fast, weak on unfamiliar voices and in noise),
// Whisper alone (on near speech only), or both: PocketSphinx proposes, Whisper decides.
enum class RecognizerChoice { pocketSphinx, whisper, both };

// Listening with the accurate recogniser. The audio goes to the basic recogniser (when there is
// one) and into a short history. Whisper transcribes windows of that history: the speech near the
// microphone, as it goes on and when it ends (WhisperWindowPlanner), and the last seconds at once
// whenever the basic recogniser's transcript holds a call phrase. Only Whisper's transcripts reach
// the handler, each followed by the empty transcript that ends an utterance, so the matching
// policy decides on them; the basic recogniser's own transcripts serve only as candidates.
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
        // Audio from a file: wait for Whisper instead of dropping windows (the benchmark).
        bool waitForTranscription = false;
    };

    // basic may be null: Whisper alone. The transcriber must be loaded.
    TwoStageRecognizer(AppLocale locale, std::unique_ptr<SpeechRecognizer> basic,
                       std::shared_ptr<WhisperTranscriber> transcriber, Options options);
    TwoStageRecognizer(AppLocale locale, std::unique_ptr<SpeechRecognizer> basic,
                       std::shared_ptr<WhisperTranscriber> transcriber)
        : TwoStageRecognizer(locale, std::move(basic), std::move(transcriber), Options()) {}

    bool isAvailable() const override;
    bool supportsOnDeviceRecognition() const override { return true; }
    std::shared_ptr<RecognitionRequest> makeRequest(const std::vector<std::string>& contextualStrings) override;
    std::unique_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                     ResultHandler handler) override;

private:
    AppLocale locale_;
    std::unique_ptr<SpeechRecognizer> basic_;
    std::shared_ptr<WhisperTranscriber> transcriber_;
    Options options_;
};

// The accurate stage's settings for a sensitivity level.
TwoStageRecognizer::Options twoStageOptionsFor(DetectionSensitivity sensitivity);

// The recogniser listening uses. In English: with a loaded model, the chosen recognisers with the
// level's settings (PocketSphinx's among them); without one, or when PocketSphinx alone is chosen,
// PocketSphinx as before. In Korean, which PocketSphinx has no model for: Whisper alone when the
// model is multilingual, else none.
SpeechRecognizerFactory listeningRecognizerFactory(DetectionSensitivity sensitivity,
                                                   const std::shared_ptr<WhisperTranscriber>& transcriber,
                                                   RecognizerChoice choice = RecognizerChoice::both);
// The same from explicit settings, for the benchmark.
SpeechRecognizerFactory listeningRecognizerFactory(PocketSphinxOptions basic, TwoStageRecognizer::Options accurate,
                                                   const std::shared_ptr<WhisperTranscriber>& transcriber,
                                                   RecognizerChoice choice);

// Whether Whisper wrote out its prompt instead of what it heard, as it does with audio it cannot
// make out: two call phrases (or their accepted forms, when given them) one right after the other
// ("James, Minsu, Siobhan", "Minsu, Minsu", "민수, 민수야"). People call one name at a time, so
// such a transcript is not taken for a call.
bool echoesThePrompt(std::string_view transcript, const std::vector<std::string>& phrases);

// Whether the transcript holds something that sounds like the phrase as Whisper spells what it
// hears without being told the phrase: a run of words (as many as the phrase has, one more or one
// fewer) whose letters are at most 0.6 edits a letter away ("Minsoo" for "Minsu", "Doctor Kim" for
// "Dr. Kim"), never the words of a different sentence nor a longer word that holds the phrase
// ("Jameson" for "James"). Letters are compared decomposed: a Hangul syllable as its jamo ("민서"
// is one edit of five from "민수"). A name spelt far from its sound
// ("Siobhan", which Whisper alone writes "Shivon") does not pass: a known cost of the check.
bool soundsLike(std::string_view transcript, std::string_view phrase, double editsPerLetter = 0.6);

// The transcript with the run of words that sounds like the phrase (as soundsLike has it, the
// closest run when several do) written as the phrase, the punctuation after it kept ("Excuse me,
// Shobhan?" for "Siobhan": "Excuse me, Siobhan?"); nothing when no run does.
std::optional<std::string> spelledAsPhrase(std::string_view transcript, std::string_view phrase, double editsPerLetter);

// A window's transcript as a streaming recogniser would have delivered it while the words came:
// every prefix that ends a word ("James,", "James, come", "James, come here."), so that a name
// early in a long transcript is heard within the matching's recent window like any other.
std::vector<std::string> growingTranscripts(std::string_view transcript);

// Whisper's prompt for the call phrases: the phrases as typed, as a short list.
std::string whisperPrompt(const std::vector<std::string>& phrases);

} // namespace harkwell
