#include "speech/TwoStageRecognizer.h"

#include "core/HandOff.h"
#include "core/Log.h"
#include "detection/NearSpeechWatch.h"
#include "matching/PhraseLanguage.h"
#include "matching/WakePhraseMatching.h"
#include "speech/PocketSphinxRecognizer.h"
#include "speech/WhisperTranscripts.h"

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <iterator>
#include <optional>
#include <pthread.h>
#include <thread>

namespace harkwell {

namespace {

// The history holds the longest window and what may wait in the queue before it is taken.
constexpr std::size_t historySamples = std::size_t{16000} * 12;

// The call phrases among the texts a request was made with: the detector gives the recogniser
// each phrase followed by its accepted forms (wakePhraseContextualStrings), and those are left out.
std::vector<std::string> phrasesAmong(const std::vector<std::string>& texts, AppLocale locale) {
    std::vector<std::string> phrases;
    for (const auto& text : texts) {
        const bool isForm = std::any_of(phrases.begin(), phrases.end(), [&](const std::string& phrase) {
            const auto forms = wakePhraseContextualStrings({phrase}, locale);
            return !forms.empty() && std::find(forms.begin() + 1, forms.end(), text) != forms.end();
        });
        if (!isForm) {
            phrases.push_back(text);
        }
    }
    return phrases;
}

class TwoStageRequest final : public RecognitionRequest {
public:
    TwoStageRequest(std::vector<std::string> callPhrases, std::shared_ptr<RecognitionRequest> basicRequest,
                    const TwoStageRecognizer::Options& options, bool screens)
        : phrases(std::move(callPhrases)), basicPhrases(phrasesHeardIn(phrases, AppLocale::english)),
          basic(std::move(basicRequest)), queue(options.queueCapacity), planner_(options.windows),
          screen_(screens ? std::optional<WindowScreen>(WindowScreen::Settings{
                                WhisperWindowPlanner::frameSamples *
                                    static_cast<std::uint64_t>(std::max(options.screenWaitFrames, 0)),
                                options.screenCheckEvery, options.screenAgreement})
                          : std::nullopt),
          waitForTranscription_(options.waitForTranscription) {
        frame_.reserve(NearSpeechWatch::frameSamples);
    }

    // On the capture thread.
    void append(std::span<const std::int16_t> samples) override {
        if (waitForTranscription_) {
            // Audio from a file: nothing more comes while Whisper works, whichever proposed the window.
            queue.waitUntilIdle();
        }
        history.append(samples);
        for (auto rest = samples; !rest.empty();) {
            const auto take = std::min(rest.size(), NearSpeechWatch::frameSamples - frame_.size());
            frame_.insert(frame_.end(), rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(take));
            rest = rest.subspan(take);
            if (frame_.size() == NearSpeechWatch::frameSamples) {
                const bool near = watch_.hearFrame(NearSpeechWatch::levelOf(frame_));
                frame_.clear();
                std::optional<AudioWindow> window;
                {
                    const std::lock_guard lock(plannerMutex_);
                    window = planner_.hearFrame(near);
                }
                // Not under the planner's lock: waiting here for a result to be handled must not
                // keep the main thread from proposing a candidate.
                if (screen_) {
                    screenWindows(
                        [&](WindowScreen& screen) {
                            return window ? screen.add(*window, history.end()) : screen.advance(history.end());
                        },
                        true);
                } else if (window) {
                    queue.push(*window, waitForTranscription_);
                }
            }
        }
        if (basic) {
            basic->append(samples);
        }
    }

    void endAudio() override {
        if (basic) {
            basic->endAudio();
        }
    }

    // When the basic recogniser heard a call phrase (on its thread).
    void proposeCandidate(int phrase) {
        std::optional<AudioWindow> window;
        {
            const std::lock_guard lock(plannerMutex_);
            window = planner_.candidate();
        }
        if (window) {
            window->proposedPhrase = phrase;
            queue.push(*window);
        }
    }

    // The basic recogniser heard something like a call phrase (on its thread): the windows that
    // may hold it are transcribed.
    void heardSoundAlike() {
        if (screen_) {
            screenWindows([&](WindowScreen& screen) { return screen.soundAlike(history.end()); }, false);
        }
    }

    // The basic recogniser's words (on its thread): the utterance going on and the one before.
    void heardBasic(const std::string& transcript) {
        if (!screen_) {
            return; // only the screen compares them
        }
        const std::lock_guard lock(screenMutex_);
        if (transcript.empty()) {
            basicBefore_ = std::exchange(basicNow_, std::string());
        } else {
            basicNow_ = transcript;
        }
    }

    // What Whisper heard in a window, against the basic recogniser's words of the time (on the
    // Whisper thread): whether the basic recogniser still hears the talker.
    void compareWithBasic(const std::string& accurate) {
        if (!screen_) {
            return;
        }
        screenWindows(
            [&](WindowScreen& screen) {
                const bool before = screen.hearsTheTalker();
                auto due = screen.compare(accurate, basicBefore_ + " " + basicNow_);
                if (screen.hearsTheTalker() != before) {
                    qCDebug(logSpeech) << (before ? "The basic recogniser no longer hears the talker:"
                                                  : "The basic recogniser hears the talker:")
                                       << QString::fromStdString(basicNow_);
                }
                return due;
            },
            false);
    }

    // Which of the normalised phrases a match's target phrase is.
    int indexOf(const std::string& targetPhrase) const {
        const auto found = std::find(normalizedPhrases_.begin(), normalizedPhrases_.end(), targetPhrase);
        return found == normalizedPhrases_.end() ? -1 : static_cast<int>(found - normalizedPhrases_.begin());
    }
    const std::string& normalizedPhrase(int index) const {
        return normalizedPhrases_.at(static_cast<std::size_t>(index));
    }

    const std::vector<std::string> phrases;
    const std::vector<std::string> basicPhrases; // those the basic recogniser hears: the English ones
    const std::shared_ptr<RecognitionRequest> basic;
    // Whether the basic recogniser's utterance going on was proposed (on the basic recogniser's
    // thread only, where its results come one at a time).
    bool hasProposed = false;
    AudioHistory history{historySamples};
    AudioWindowQueue queue;

private:
    // With the screen, windows of talk wait for the basic recogniser's look; those it gives are
    // queued, from the capture thread as any window, from the others without waiting.
    void screenWindows(const std::function<std::vector<AudioWindow>(WindowScreen&)>& step, bool onCaptureThread) {
        std::vector<AudioWindow> due;
        {
            const std::lock_guard lock(screenMutex_);
            due = step(*screen_);
        }
        for (const auto& window : due) {
            queue.push(window, onCaptureThread && waitForTranscription_);
        }
    }

    const std::vector<std::string> normalizedPhrases_ = normalizedWakePhrases(phrases);
    std::mutex plannerMutex_;
    WhisperWindowPlanner planner_;
    NearSpeechWatch watch_;
    std::vector<std::int16_t> frame_; // the frame being gathered
    std::mutex screenMutex_;
    std::optional<WindowScreen> screen_; // with the screen on
    std::string basicNow_, basicBefore_; // the basic recogniser's words, this utterance and the last
    const bool waitForTranscription_;
};

class TwoStageTask final : public RecognitionTask {
public:
    TwoStageTask(const std::vector<AppLocale>& languages, std::shared_ptr<TwoStageRequest> request,
                 SpeechRecognizer::ResultHandler handler, SpeechRecognizer* basic,
                 std::shared_ptr<WhisperTranscriber> transcriber, const TwoStageRecognizer::Options& options)
        : request_(std::move(request)), handler_(std::move(handler)), transcriber_(std::move(transcriber)),
          options_(options) {
        for (const auto language : languages) {
            streams_.push_back(makeStream(language));
        }
        if (basic && request_->basic) {
            // Candidates only: the basic recogniser's transcripts never reach the handler, its
            // errors do.
            basicTask_ = basic->recognitionTask(
                request_->basic, [request = request_, handler = handler_](const RecognitionEvent& event) {
                    if (event.error) {
                        handler(event);
                    } else if (event.soundsLikeCallPhrase) {
                        request->heardSoundAlike();
                    } else if (event.transcript) {
                        request->heardBasic(*event.transcript);
                        if (event.transcript->empty()) {
                            request->hasProposed = false; // the utterance ended
                        } else if (!request->hasProposed) {
                            proposeFrom(*request, *event.transcript);
                        }
                    }
                });
        }
        worker_ = std::thread([this] { run(); });
    }

    ~TwoStageTask() override {
        cancel();
        worker_.join();
    }

    // A call phrase in the basic recogniser's transcript is proposed to Whisper, once an
    // utterance: its later transcripts only add words after the phrase.
    static void proposeFrom(TwoStageRequest& request, const std::string& transcript) {
        if (const auto match = matchWakePhrases(transcript, request.basicPhrases, AppLocale::english)) {
            request.hasProposed = true;
            qCDebug(logSpeech) << "Candidate from the basic recogniser:" << QString::fromStdString(transcript);
            request.proposeCandidate(request.indexOf(match->targetPhrase));
        }
    }

    void cancel() override {
        if (basicTask_) {
            basicTask_->cancel();
        }
        request_->queue.close();
    }

private:
    // The last windows transcribed in a language (on the Whisper thread only), and whether each
    // gave a call.
    struct Heard {
        AudioWindow window;
        WhisperTranscriber::Result result;
        bool tookCall = false;
        int promptedPhrase = -1; // the phrase Whisper wrote with the prompt
    };
    static constexpr std::size_t recentTranscripts = 3;

    // What Whisper hears in one language: each window near speech is transcribed in every language
    // listened in, each with the phrases of its own in the prompt.
    struct Stream {
        AppLocale language;
        std::vector<std::string> phrases;   // the request's texts in the language
        std::vector<std::string> callForms; // the phrases and their accepted forms: what a call says
        WhisperTranscriber::Options options;
        std::deque<Heard> recent;
    };

    Stream makeStream(AppLocale language) const {
        Stream stream{language, phrasesHeardIn(request_->phrases, language), {}, {}, {}};
        const auto phrases = phrasesAmong(stream.phrases, language);
        stream.callForms = wakePhraseContextualStrings(phrases, language);
        stream.options.language = language == AppLocale::korean ? "ko" : "en";
        switch (options_.prompt) {
        case TwoStageRecognizer::Options::Prompt::none:
            break;
        case TwoStageRecognizer::Options::Prompt::phrases:
            stream.options.prompt = whisperPrompt(phrases);
            break;
        case TwoStageRecognizer::Options::Prompt::acceptedForms:
            stream.options.prompt = whisperPrompt(stream.callForms);
            break;
        }
        return stream;
    }

    void run() {
        // "Harkwell.whisper" as the system shows it: a thread's name holds 15 characters, and
        // a longer one is refused (the thread kept the capture thread's name).
        pthread_setname_np(pthread_self(), "Harkwell.whispe");
        std::uint64_t droppedBefore = 0;
        // Between bursts of talk the transcriber lets its working memory go: kept, it grows
        // as windows of other lengths touch more of it.
        while (const auto window = request_->queue.pop([this] { transcriber_->rest(); })) {
            if (const auto dropped = request_->queue.dropped(); dropped != droppedBefore) {
                qCInfo(logSpeech) << "Accurate recogniser behind: dropped" << dropped - droppedBefore << "windows,"
                                  << dropped << "in this session";
                droppedBefore = dropped;
            }
            for (auto& stream : streams_) {
                if (!hear(stream, *window)) {
                    return;
                }
            }
        }
    }

    // Transcribes the window in the stream's language and passes on what it heard; false once a
    // failed transcription has been reported.
    bool hear(Stream& stream, const AudioWindow& window) {
        if (window.proposedPhrase >= 0 &&
            listeningLanguageOf(request_->normalizedPhrase(window.proposedPhrase)) != stream.language) {
            return true; // a proposal for a phrase of another language
        }
        if (window.proposedPhrase >= 0 && callInRecentTranscript(stream, window)) {
            return true;
        }
        if (std::any_of(stream.recent.begin(), stream.recent.end(), [&](const Heard& heard) {
                return heard.window.begin == window.begin && heard.window.end == window.end;
            })) {
            return true; // transcribed already: read again above for the phrase proposed
        }
        const auto audio = request_->history.samples(window);
        if (audio.empty()) {
            return true;
        }
        const auto started = std::chrono::steady_clock::now();
        const auto heard = transcribe(audio, stream.options);
        if (!heard) {
            return false;
        }
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
        qCDebug(logSpeech).nospace() << "Whisper heard " << QString::fromStdString(heard->text).trimmed() << " in "
                                     << audio.size() / 16 << " ms of audio in " << stream.options.language.c_str()
                                     << " (no speech " << heard->noSpeechProbability << ") in " << took.count()
                                     << " ms";
        stream.recent.push_back({window, *heard, false});
        if (stream.recent.size() > recentTranscripts) {
            stream.recent.pop_front();
        }
        auto& last = stream.recent.back();
        if (!isHeardSpeech(stream, last.result)) {
            return true;
        }
        if (stream.language == AppLocale::english) {
            request_->compareWithBasic(last.result.text);
        }
        const auto text = spelledAsProposed(stream, last.result.text, window);
        if (!stream.options.prompt.empty() && !heardWithoutPrompt(stream, text, audio, window)) {
            return true;
        }
        last.tookCall = callIn(stream, text).has_value();
        deliverTranscript(stream.language, text, window);
        return true;
    }

    // The call the matching hears in the transcript as it arrives word by word: in Korean a phrase
    // followed by a lone syllable is no call in the whole transcript ("서연, 핵, 오"), but it is in
    // the words up to it.
    static std::optional<WakePhraseMatch> callIn(const Stream& stream, const std::string& transcript) {
        for (const auto& partial : growingTranscripts(transcript)) {
            if (auto match = matchWakePhrases(partial, stream.phrases, stream.language)) {
                return match;
            }
        }
        return std::nullopt;
    }

    // Whisper's transcript is speech, not its guess at silence nor its prompt written out.
    bool isHeardSpeech(const Stream& stream, const WhisperTranscriber::Result& result) const {
        if (result.noSpeechProbability > options_.noSpeechThreshold) {
            return false;
        }
        if (echoesThePrompt(result.text, stream.callForms)) {
            qCDebug(logSpeech) << "Dropped: Whisper repeated its prompt";
            return false;
        }
        return true;
    }

    // The basic recogniser proposed a phrase: a recent transcript of the same audio that gave no
    // call reads as that call when Whisper wrote the phrase there, or its own spelling of it (the
    // proposal often comes after Whisper has transcribed the audio, and the window cut for it may
    // catch less of the name than one before).
    bool callInRecentTranscript(Stream& stream, const AudioWindow& proposal) {
        for (auto heard = stream.recent.rbegin(); heard != stream.recent.rend(); ++heard) {
            const bool overlaps = heard->window.end > proposal.begin && heard->window.begin < proposal.end;
            if (heard->tookCall || !overlaps || !isHeardSpeech(stream, heard->result)) {
                continue;
            }
            const auto text = spelledAsProposed(stream, heard->result.text, proposal);
            const auto match = callIn(stream, text);
            if (match && request_->indexOf(match->targetPhrase) == proposal.proposedPhrase) {
                qCDebug(logSpeech) << "Taken: the basic recogniser proposed"
                                   << QString::fromStdString(match->targetPhrase) << "for audio Whisper wrote as"
                                   << QString::fromStdString(text).trimmed();
                heard->tookCall = true;
                deliverTranscript(stream.language, text, heard->window);
                return true;
            }
        }
        return false;
    }

    void deliverTranscript(AppLocale language, const std::string& text, const AudioWindow& window) {
        for (auto& partial : growingTranscripts(text)) {
            deliver({std::move(partial), std::nullopt, window.opensUtterance, language, text});
        }
        if (window.endsUtterance) {
            deliver({std::string(), std::nullopt, true, language}); // where the speaker stopped: a pause
        }
    }

    // The transcript, with a name that Whisper spelt its own way ("Shobhan") written as the phrase
    // the basic recogniser heard in this window ("Siobhan"): two recognisers agree on the call
    // even where the prompt did not get the spelling across.
    std::string spelledAsProposed(const Stream& stream, const std::string& transcript,
                                  const AudioWindow& window) const {
        if (window.proposedPhrase < 0 || callIn(stream, transcript)) {
            return transcript;
        }
        const auto& phrase = request_->normalizedPhrase(window.proposedPhrase);
        // Close spellings only, at every level: the basic recogniser proposes phrases permissively,
        // and in talk a looser spelling finds one in many a word.
        auto respelled = spelledAsPhrase(transcript, phrase, std::min(options_.editsPerLetter, 0.39));
        if (!respelled) {
            return transcript;
        }
        qCDebug(logSpeech) << "Taken: the basic recogniser heard" << QString::fromStdString(phrase)
                           << "where Whisper wrote" << QString::fromStdString(transcript).trimmed();
        return std::move(*respelled);
    }

    // Whether a call phrase that Whisper wrote with the prompt is there without it: the prompt
    // spells names as the user typed them, but Whisper also writes a name of its prompt where it
    // cannot make out the words. The basic recogniser having heard the same phrase in this audio
    // is enough, and where the level allows, Whisper having written it in a window before over
    // some of the same audio; otherwise Whisper must hear something like it without the prompt.
    bool heardWithoutPrompt(Stream& stream, const std::string& transcript, const std::vector<float>& audio,
                            const AudioWindow& window) {
        const auto match = callIn(stream, transcript);
        if (!match) {
            return true;
        }
        if (window.proposedPhrase >= 0 && window.proposedPhrase == request_->indexOf(match->targetPhrase)) {
            qCDebug(logSpeech) << "Taken: the basic recogniser heard" << QString::fromStdString(match->targetPhrase)
                               << "too";
            return true;
        }
        const int phrase = request_->indexOf(match->targetPhrase);
        stream.recent.back().promptedPhrase = phrase;
        for (std::size_t i = 0; options_.promptedTwiceSuffices && i + 1 < stream.recent.size(); ++i) {
            const auto& other = stream.recent[i];
            if (other.promptedPhrase == phrase && other.window.end > window.begin && other.window.begin < window.end) {
                qCDebug(logSpeech) << "Taken: Whisper wrote" << QString::fromStdString(match->targetPhrase)
                                   << "in the window before too";
                return true;
            }
        }
        auto unprompted = stream.options;
        unprompted.prompt.clear();
        const auto heardAlone = transcribe(audio, unprompted);
        if (!heardAlone) {
            return false;
        }
        const bool alike = soundsLike(stream.language == AppLocale::korean ? withFormSuffixesApart(heardAlone->text)
                                                                           : heardAlone->text,
                                      match->targetPhrase, options_.editsPerLetter);
        qCDebug(logSpeech) << (alike ? "Taken:" : "Dropped:") << "without the prompt Whisper heard"
                           << QString::fromStdString(heardAlone->text).trimmed();
        return alike;
    }

    // The transcription, or nothing once its failure has been reported: listening ends with it.
    std::optional<WhisperTranscriber::Result> transcribe(const std::vector<float>& audio,
                                                         const WhisperTranscriber::Options& options) {
        try {
            return transcriber_->transcribe(audio, options);
        } catch (const std::exception& error) {
            qCWarning(logSpeech) << "Accurate recogniser failed:" << error.what();
            deliver({std::nullopt, Error::platform(error.what())});
            return std::nullopt;
        }
    }

    void deliver(const RecognitionEvent& event) {
        handler_(event);
        if (options_.waitForTranscription) {
            // Audio from a file waits until the main thread has handled what the handler passed
            // on, as a live microphone would not have delivered more had transcribing taken no time.
            // Posted after the handler's own work, this runs after it.
            request_->queue.beginDelivery();
            handOff(QCoreApplication::instance(), [request = request_] { request->queue.endDelivery(); });
        }
    }

    const std::shared_ptr<TwoStageRequest> request_;
    const SpeechRecognizer::ResultHandler handler_;
    const std::shared_ptr<WhisperTranscriber> transcriber_;
    const TwoStageRecognizer::Options options_;
    std::vector<Stream> streams_; // on the Whisper thread once it runs
    std::unique_ptr<RecognitionTask> basicTask_;
    std::thread worker_;
};

} // namespace

TwoStageRecognizer::TwoStageRecognizer(std::vector<AppLocale> languages, std::unique_ptr<SpeechRecognizer> basic,
                                       std::shared_ptr<WhisperTranscriber> transcriber, Options options)
    : languages_(std::move(languages)), basic_(std::move(basic)), transcriber_(std::move(transcriber)),
      options_(options) {}

bool TwoStageRecognizer::isAvailable() const { return transcriber_ && (!basic_ || basic_->isAvailable()); }

std::shared_ptr<RecognitionRequest> TwoStageRecognizer::makeRequest(const std::vector<std::string>& contextualStrings) {
    // The screen listens to the basic recogniser, which hears English only.
    const bool screens =
        basic_ && options_.screenEditsPerPhone && languages_ == std::vector<AppLocale>{AppLocale::english};
    return std::make_shared<TwoStageRequest>(
        contextualStrings,
        basic_ ? basic_->makeRequest(phrasesHeardIn(contextualStrings, AppLocale::english)) : nullptr, options_,
        screens);
}

std::unique_ptr<RecognitionTask> TwoStageRecognizer::recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                                     ResultHandler handler) {
    auto ours = std::dynamic_pointer_cast<TwoStageRequest>(request);
    if (!ours) {
        return nullptr;
    }
    return std::make_unique<TwoStageTask>(languages_, std::move(ours), std::move(handler), basic_.get(), transcriber_,
                                          options_);
}

TwoStageRecognizer::Options twoStageOptionsFor(DetectionSensitivity sensitivity) {
    TwoStageRecognizer::Options options;
    // Low and Medium: Whisper's own spelling must be close ("Pria", "Minsoo"), not a different word
    // that starts alike ("Prior to that" for Priya). High takes looser spellings too, for more
    // calls heard in noise and more false calls in talk.
    options.editsPerLetter = sensitivity == DetectionSensitivity::high ? 0.6 : 0.39;
    options.promptedTwiceSuffices = sensitivity == DetectionSensitivity::high;
    // One phone edit in a name of four or five phones, two in one of six to eight: the words the
    // basic recogniser writes for a name it hears well ("games" for James).
    options.screenEditsPerPhone = 0.34;
    return options;
}

SpeechRecognizerFactory listeningRecognizerFactory(DetectionSensitivity sensitivity,
                                                   const std::shared_ptr<WhisperTranscriber>& transcriber,
                                                   RecognizerChoice choice) {
    return listeningRecognizerFactory(pocketSphinxOptionsFor(sensitivity), twoStageOptionsFor(sensitivity), transcriber,
                                      choice);
}

bool canListenIn(AppLocale language, bool isMultilingualModelLoaded, RecognizerChoice choice) {
    // PocketSphinx hears English, with or without Whisper; only Whisper hears Korean.
    return language == AppLocale::english || (isMultilingualModelLoaded && choice != RecognizerChoice::pocketSphinx);
}

SpeechRecognizerFactory listeningRecognizerFactory(PocketSphinxOptions basic, TwoStageRecognizer::Options accurate,
                                                   const std::shared_ptr<WhisperTranscriber>& transcriber,
                                                   RecognizerChoice choice) {
    return [=](const std::vector<AppLocale>& languages) -> std::unique_ptr<SpeechRecognizer> {
        std::vector<AppLocale> heard;
        std::copy_if(languages.begin(), languages.end(), std::back_inserter(heard), [&](AppLocale language) {
            return canListenIn(language, transcriber && transcriber->isMultilingual(), choice);
        });
        if (heard.empty()) {
            return nullptr;
        }
        const auto pocketSphinx = [&](const PocketSphinxOptions& options) {
            return std::make_unique<PocketSphinxRecognizer>(AppLocale::english, PocketSphinxModel::englishUS(),
                                                            options);
        };
        if (!transcriber || choice == RecognizerChoice::pocketSphinx) {
            return pocketSphinx(basic); // English alone: Korean needs Whisper
        }
        auto screening = basic;
        screening.screenEditsPerPhone = accurate.screenEditsPerPhone;
        const bool hearsEnglish = std::find(heard.begin(), heard.end(), AppLocale::english) != heard.end();
        return std::make_unique<TwoStageRecognizer>(
            std::move(heard), hearsEnglish && choice == RecognizerChoice::both ? pocketSphinx(screening) : nullptr,
            transcriber, accurate);
    };
}

} // namespace harkwell
