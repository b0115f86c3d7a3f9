#include "speech/PocketSphinxRecognizer.h"

#include "core/HandOff.h"
#include "core/Log.h"
#include "speech/AudioFrontEnd.h"
#include "speech/AudioQueue.h"
#include "speech/CallVocabulary.h"
#include "speech/PhoneticScreen.h"

#include <pocketsphinx.h>
#include <sphinxbase/ckd_alloc.h>
#include <sphinxbase/err.h>
#include <sphinxbase/logmath.h>
#include <sphinxbase/ngram_model.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <malloc.h>
#include <map>
#include <mutex>
#include <pthread.h>
#include <sstream>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

namespace harkwell {

namespace {

constexpr int sampleRate = 16000;

class PocketSphinxRequest final : public RecognitionRequest {
public:
    PocketSphinxRequest(std::vector<std::string> phrases, std::size_t capacity)
        : contextualStrings(std::move(phrases)), audio(capacity) {}

    void append(std::span<const std::int16_t> samples) override { audio.push(samples); }
    void endAudio() override { audio.end(); }

    const std::vector<std::string> contextualStrings;
    AudioQueue audio;
};

struct DecoderDeleter {
    void operator()(ps_decoder_t* decoder) const { ps_free(decoder); }
};
using Decoder = std::unique_ptr<ps_decoder_t, DecoderDeleter>;

// An anonymous in-memory file holding the text, by a path PocketSphinx can open: nothing is
// written to disk. Closed when it goes.
class MemoryFile {
public:
    explicit MemoryFile(const std::string& text) : descriptor_(memfd_create("harkwell", MFD_CLOEXEC)) {
        if (descriptor_ >= 0 && write(descriptor_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            close(descriptor_);
            descriptor_ = -1;
        }
    }
    ~MemoryFile() {
        if (descriptor_ >= 0) {
            close(descriptor_);
        }
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    bool isValid() const { return descriptor_ >= 0; }
    std::string path() const { return "/proc/self/fd/" + std::to_string(descriptor_); }

private:
    int descriptor_;
};

// Every word of a language model with its probability (log10).
std::vector<WordProbability> unigramProbabilities(const std::string& languageModel) {
    std::vector<WordProbability> words;
    logmath_t* logMath = logmath_init(1.0001, 0, 0);
    if (ngram_model_t* model = ngram_model_read(nullptr, languageModel.c_str(), NGRAM_AUTO, logMath)) {
        const auto unigrams = static_cast<int32>(ngram_model_get_counts(model)[0]);
        for (int32 id = 0; id < unigrams; ++id) {
            const char* word = ngram_word(model, id);
            int32 used = 0;
            if (word) {
                words.emplace_back(word, logmath_log_to_log10(logMath, ngram_ng_prob(model, id, nullptr, 0, &used)));
            }
        }
        ngram_model_free(model);
    }
    logmath_free(logMath);
    return words;
}

// The most frequent words of a language model, read once per process and model; empty when
// unreadable.
const std::vector<WordProbability>& commonWordsOf(const std::string& languageModel, std::size_t count) {
    static std::mutex mutex;
    static std::map<std::pair<std::string, std::size_t>, std::vector<WordProbability>> cache;
    const std::lock_guard lock(mutex);
    const auto key = std::pair(languageModel, count);
    if (const auto found = cache.find(key); found != cache.end()) {
        return found->second;
    }
    return cache.emplace(key, mostFrequentWords(unigramProbabilities(languageModel), count)).first->second;
}

// A decoder for PocketSphinx command-line arguments; null when they are refused.
Decoder startDecoder(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    argv.reserve(arguments.size());
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    cmd_ln_t* config = cmd_ln_parse_r(nullptr, ps_args(), static_cast<int>(argv.size()), argv.data(), FALSE);
    if (!config) {
        return nullptr;
    }
    Decoder decoder(ps_init(config));
    cmd_ln_free_r(config);
    return decoder;
}

// The call phrases as a keyphrase search.
bool setKeyphrases(ps_decoder_t* decoder, const std::string& list) {
    const MemoryFile file(list);
    return file.isValid() && ps_set_kws(decoder, "calls", file.path().c_str()) == 0 &&
           ps_set_search(decoder, "calls") == 0;
}

const char* searchName(PocketSphinxSearch search) {
    switch (search) {
    case PocketSphinxSearch::commonWords:
        return "common words";
    case PocketSphinxSearch::languageModel:
        return "whole language model";
    case PocketSphinxSearch::keyphrase:
        return "keyphrases";
    }
    return "?";
}

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string text;
    for (const auto& part : parts) {
        text += (text.empty() ? "" : separator) + part;
    }
    return text;
}

// Every setting, then the call phrases as the decoder listens for them, with their pronunciations.
std::string startDescription(const PocketSphinxOptions& options, const CallPhrases& calls) {
    std::ostringstream text;
    text << "Recogniser starting: search " << searchName(options.search) << ", " << options.commonWordCount
         << " common words, phrase word probability " << options.phraseWordLogProbability << ", language weight "
         << options.languageWeight << ", keyphrase threshold 1e" << options.keyphraseThresholdPerPhone
         << " a phone, front end ";
    switch (options.frontEnd.kind) {
    case AudioFrontEndKind::none:
        text << "none";
        break;
    case AudioFrontEndKind::speex:
        text << "Speex noise suppression " << options.frontEnd.speexSuppressionDecibels << " dB";
        break;
    case AudioFrontEndKind::webrtc:
        text << "WebRTC noise suppression level " << options.frontEnd.webRtcSuppressionLevel << ", gain control "
             << (options.frontEnd.webRtcGainControl ? "on" : "off");
        break;
    }
    if (options.heldBackWords == 0) {
        text << ", every word reported at once";
    } else if (options.heldBackWords == 1) {
        text << ", last word held back";
    } else {
        text << ", last " << options.heldBackWords << " words held back";
    }
    if (options.screenEditsPerPhone) {
        text << ", telling words within " << *options.screenEditsPerPhone << " phone edits a phone of a call phrase";
    }
    text << "; call phrases";
    for (const auto& phrase : calls.phrases) {
        text << (&phrase == &calls.phrases.front() ? " \"" : ", \"") << joined(phrase, " ") << '"';
    }
    if (calls.phrases.empty()) {
        text << " none";
    }
    text << "; pronunciations";
    for (const auto& [word, phones] : calls.wordPhones) {
        text << (word == calls.wordPhones.begin()->first ? " " : ", ") << word << ": " << joined(phones, " / ");
    }
    return text.str();
}

class PocketSphinxTask final : public RecognitionTask {
public:
    PocketSphinxTask(std::shared_ptr<PocketSphinxRequest> request, SpeechRecognizer::ResultHandler handler,
                     AppLocale locale, PocketSphinxModel model, PocketSphinxRecognizer::Options options)
        : request_(std::move(request)), handler_(std::move(handler)), locale_(locale), model_(std::move(model)),
          options_(options) {
        worker_ = std::thread([this] { run(); });
    }

    ~PocketSphinxTask() override {
        cancel();
        worker_.join();
    }

    void cancel() override { request_->audio.close(); }

private:
    void deliver(const RecognitionEvent& event) {
        if (!request_->audio.isClosed()) {
            handler_(event);
        }
    }

    void deliverTranscript(std::string transcript) {
        if (transcript != lastTranscript_) {
            lastTranscript_ = transcript;
            deliver({std::move(transcript), std::nullopt});
        }
    }

    Decoder makeDecoder() {
        std::ifstream dictionaryFile(model_.dictionary);
        const auto dictionary = readPronunciationDictionary(dictionaryFile);
        static const std::vector<WordProbability> none;
        const auto& common = options_.search == PocketSphinxSearch::commonWords
                                 ? commonWordsOf(model_.languageModel, options_.commonWordCount)
                                 : none;
        qCDebug(logSpeech).nospace() << "Model " << model_.acousticModel.c_str() << ", dictionary "
                                     << model_.dictionary.c_str() << " (" << dictionary.size()
                                     << " words), language model " << model_.languageModel.c_str()
                                     << "; call phrases asked for: "
                                     << joined(request_->contextualStrings, " | ").c_str();
        const auto vocabulary = makeCallVocabulary(request_->contextualStrings, dictionary, common, options_);
        if (!vocabulary) {
            qCWarning(logSpeech).nospace()
                << "Recogniser cannot start: " << dictionary.size() << " words in the dictionary, " << common.size()
                << " common words (the common words search needs both), or, for the keyphrase search, no call "
                   "phrase the model can say";
            return nullptr;
        }
        qCInfo(logSpeech).noquote() << QString::fromStdString(startDescription(options_, vocabulary->calls));
        if (options_.screenEditsPerPhone) {
            screen_.emplace(vocabulary->calls, *options_.screenEditsPerPhone);
        }
        if (options_.search == PocketSphinxSearch::commonWords) {
            qCDebug(logSpeech).noquote() << "Sound-alikes in the vocabulary:"
                                         << QString::fromStdString(joined(vocabulary->soundAlikeWords, ", "));
        } else if (options_.search == PocketSphinxSearch::keyphrase) {
            qCDebug(logSpeech).noquote() << "Keyphrases:" << QString::fromStdString(vocabulary->keyphraseList);
        }
        std::unique_ptr<MemoryFile> languageModel;
        if (options_.search == PocketSphinxSearch::commonWords) {
            languageModel = std::make_unique<MemoryFile>(vocabulary->languageModelText);
            if (!languageModel->isValid()) {
                return nullptr;
            }
        }
        const MemoryFile decoderDictionary(vocabulary->dictionaryText);
        if (!decoderDictionary.isValid()) {
            return nullptr;
        }
        // The backpointer table starts large enough for the longest utterance of dense chatter:
        // the decoder only grows it when a word is added to a full table, and asking for a
        // partial result while it is exactly full fails an assertion in PocketSphinx 5prealpha
        // (ngram_search_find_exit), which ends the process. Room for 100 word exits a frame over
        // `maxUtterance` (100 frames a second); untouched pages cost no memory.
        const auto backpointers = std::to_string(std::int64_t{100} * 100 * options_.maxUtterance.count());
        std::vector<std::string> arguments{"-hmm",     model_.acousticModel,
                                           "-dict",    decoderDictionary.path(),
                                           "-lw",      std::to_string(options_.languageWeight),
                                           "-latsize", backpointers};
        if (options_.search == PocketSphinxSearch::languageModel) {
            arguments.insert(arguments.end(), {"-lm", model_.languageModel});
        } else if (languageModel) {
            arguments.insert(arguments.end(), {"-lm", languageModel->path()});
        }
        auto decoder = startDecoder(std::move(arguments));
        if (decoder && options_.search == PocketSphinxSearch::keyphrase &&
            !setKeyphrases(decoder.get(), vocabulary->keyphraseList)) {
            decoder = nullptr;
        }
        if (!decoder) {
            qCWarning(logSpeech) << "PocketSphinx refused the model or the vocabulary";
        }
        return decoder;
    }

    void run() {
        pthread_setname_np(pthread_self(), "Harkwell.speech");
        auto decoder = makeDecoder();
        if (!decoder) {
            deliver({std::nullopt, AppError::speechUnavailable(locale_)});
            request_->audio.close(); // nothing will take the audio: appending must not wait for it
            return;
        }
        ps_decoder_t* ps = decoder.get();
        const std::size_t maxUtteranceSamples =
            static_cast<std::size_t>(options_.maxUtterance.count()) * static_cast<std::size_t>(sampleRate);
        const auto renewAfterSamples =
            static_cast<std::size_t>(options_.renewDecoderAfter.count()) * static_cast<std::size_t>(sampleRate);
        std::size_t utteranceSamples = 0, decoderSamples = 0;
        bool wasInSpeech = false;
        const auto frontEnd = makeAudioFrontEnd(options_.frontEnd);
        ps_start_utt(ps);
        for (;;) {
            auto samples = request_->audio.pop(sampleRate / 10);
            if (samples.empty()) {
                break;
            }
            if (frontEnd) {
                samples = frontEnd->process(samples);
            }
            ps_process_raw(ps, samples.data(), samples.size(), FALSE, FALSE);
            utteranceSamples += samples.size();
            decoderSamples += samples.size();
            const bool inSpeech = ps_get_in_speech(ps);
            if (const char* hypothesis = ps_get_hyp(ps, nullptr)) {
                screen(ps, hypothesis);
                deliverTranscript(settledWords(hypothesis, options_));
            }
            if ((wasInSpeech && !inSpeech) || utteranceSamples >= maxUtteranceSamples) {
                finishUtterance(ps);
                if (decoderSamples >= renewAfterSamples) {
                    decoderSamples = 0;
                    if (auto renewed = makeDecoder()) { // on failure the old one goes on
                        decoder = std::move(renewed);
                        ps = decoder.get();
                        wordPhones_.clear();
                        malloc_trim(0); // the old decoder's pages, and the dictionary read to make this one
                    }
                }
                ps_start_utt(ps);
                utteranceSamples = 0;
                wasInSpeech = false;
            } else {
                wasInSpeech = inSpeech;
            }
        }
        finishUtterance(ps);
    }

    void finishUtterance(ps_decoder_t* ps) {
        ps_end_utt(ps);
        if (const char* hypothesis = ps_get_hyp(ps, nullptr)) {
            screen(ps, hypothesis);
            deliverTranscript(hypothesis);
        }
        deliverTranscript("");
        screenedUntil_.reset();
        screened_.clear();
    }

    // Tells when the words heard so far, the last one too, sound like a call phrase in a run that
    // ends later than the last one told in this utterance.
    void screen(ps_decoder_t* ps, const char* hypothesis) {
        if (!screen_ || screened_ == hypothesis) {
            return;
        }
        screened_ = hypothesis;
        std::vector<std::vector<std::string>> phones;
        std::istringstream words(hypothesis);
        for (std::string word; words >> word;) {
            auto known = wordPhones_.find(word);
            if (known == wordPhones_.end()) {
                char* looked = ps_lookup_word(ps, word.c_str());
                known = wordPhones_.emplace(word, splitPhones(looked ? looked : "")).first;
                ckd_free(looked);
            }
            phones.push_back(known->second);
        }
        const auto end = screen_->lastMatchEnd(phones);
        if (end && (!screenedUntil_ || *end > *screenedUntil_)) {
            screenedUntil_ = end;
            qCDebug(logSpeech) << "Sounds like a call phrase:" << hypothesis;
            RecognitionEvent event;
            event.soundsLikeCallPhrase = true;
            deliver(event);
        }
    }

    const std::shared_ptr<PocketSphinxRequest> request_;
    const SpeechRecognizer::ResultHandler handler_;
    const AppLocale locale_;
    const PocketSphinxModel model_;
    const PocketSphinxRecognizer::Options options_;
    std::string lastTranscript_;
    std::optional<PhoneticScreen> screen_;
    std::map<std::string, std::vector<std::string>> wordPhones_; // the decoder's phones of each word heard
    std::string screened_;                                       // the hypothesis screened last
    std::optional<std::size_t> screenedUntil_;                   // the last word of the last run told, this utterance
    std::thread worker_;
};

bool isReadableFile(const std::string& path) { return std::ifstream(path).good(); }

} // namespace

PocketSphinxModel PocketSphinxModel::englishUS() {
    const std::string folder = "/usr/share/pocketsphinx/model/en-us/";
    return {folder + "en-us", folder + "cmudict-en-us.dict", folder + "en-us.lm.bin"};
}

bool PocketSphinxModel::isReadable() const {
    for (const auto* file : {"mdef", "means", "variances", "transition_matrices", "sendump", "feat.params"}) {
        if (!isReadableFile(acousticModel + "/" + file)) {
            return false;
        }
    }
    return isReadableFile(dictionary) && isReadableFile(languageModel);
}

PocketSphinxRecognizer::PocketSphinxRecognizer(AppLocale locale, PocketSphinxModel model, Options options)
    : locale_(locale), model_(std::move(model)), options_(options) {
    // Nothing is logged. The log is one for the process, and decoders log on their own threads,
    // so it is set once, before the first decoder starts, and no decoder opens a log file of its
    // own: two starting at once (a new session's and the ending one's) each closed the file the
    // other had opened.
    static std::once_flag logDisabled;
    std::call_once(logDisabled, [] { err_set_logfp(nullptr); });
}

bool PocketSphinxRecognizer::isAvailable() const { return model_.isReadable(); }

std::shared_ptr<RecognitionRequest>
PocketSphinxRecognizer::makeRequest(const std::vector<std::string>& contextualStrings) {
    const auto capacity = static_cast<std::size_t>(options_.maxPendingAudio.count() * sampleRate / 1000);
    return std::make_shared<PocketSphinxRequest>(contextualStrings, capacity);
}

std::unique_ptr<RecognitionTask> PocketSphinxRecognizer::recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                                         ResultHandler handler) {
    auto ours = std::dynamic_pointer_cast<PocketSphinxRequest>(request);
    if (!ours) {
        return nullptr;
    }
    return std::make_unique<PocketSphinxTask>(std::move(ours), std::move(handler), locale_, model_, options_);
}

std::unique_ptr<SpeechRecognizer> makeSpeechRecognizer(AppLocale locale) {
    return speechRecognizerFactory(DetectionSensitivity::medium)({locale});
}

SpeechRecognizerFactory speechRecognizerFactory(DetectionSensitivity sensitivity) {
    return [options = pocketSphinxOptionsFor(sensitivity)](
               const std::vector<AppLocale>& languages) -> std::unique_ptr<SpeechRecognizer> {
        if (std::find(languages.begin(), languages.end(), AppLocale::english) != languages.end()) {
            return std::make_unique<PocketSphinxRecognizer>(AppLocale::english, PocketSphinxModel::englishUS(),
                                                            options);
        }
        return nullptr;
    };
}

} // namespace harkwell
