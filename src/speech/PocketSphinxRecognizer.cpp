#include "speech/PocketSphinxRecognizer.h"

#include "matching/WakePhraseMatching.h"
#include "speech/NoiseSuppressor.h"
#include "speech/Pronunciation.h"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <sphinxbase/logmath.h>
#include <sphinxbase/ngram_model.h>

#include <QCoreApplication>
#include <QMetaObject>

#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <pthread.h>
#include <set>
#include <sstream>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace harkwell {

namespace {

constexpr int sampleRate = 16000;

// Audio between the capture thread and the decoder: bounded, so a slow decoder holds the
// capture back for a moment instead of letting memory grow.
class AudioQueue {
public:
    explicit AudioQueue(std::size_t capacity) : capacity_(capacity) {}

    void push(std::span<const std::int16_t> samples) {
        std::unique_lock lock(mutex_);
        while (!samples.empty()) {
            changed_.wait(lock, [&] { return closed_ || samples_.size() < capacity_; });
            if (closed_) {
                return;
            }
            const auto count = std::min(samples.size(), capacity_ - samples_.size());
            samples_.insert(samples_.end(), samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(count));
            samples = samples.subspan(count);
            changed_.notify_all();
        }
    }

    // Waits for `count` samples (fewer only at the end of the audio), so that the decoder takes
    // the same steps however the audio arrives; empty once the audio has ended and everything
    // was taken, or on cancel.
    std::vector<std::int16_t> pop(std::size_t wanted) {
        const auto most = std::min(wanted, capacity_);
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return closed_ || ended_ || samples_.size() >= most; });
        if (closed_) {
            return {};
        }
        const auto count = std::min(most, samples_.size());
        std::vector<std::int16_t> taken(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(count));
        samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(count));
        changed_.notify_all();
        return taken;
    }

    void end() {
        const std::lock_guard lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    }

    // Drops what is waiting and releases every waiter for good.
    void close() {
        const std::lock_guard lock(mutex_);
        closed_ = true;
        samples_.clear();
        changed_.notify_all();
    }

    bool isClosed() const {
        const std::lock_guard lock(mutex_);
        return closed_;
    }

private:
    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::int16_t> samples_;
    bool ended_ = false;
    bool closed_ = false;
};

class PocketSphinxRequest final : public RecognitionRequest {
public:
    PocketSphinxRequest(std::vector<std::string> contextualStrings, std::size_t capacity)
        : contextualStrings(std::move(contextualStrings)), audio(capacity) {}

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

// The most frequent words of a language model with their probabilities (log10): the ordinary
// words that call phrases compete with. Read once per process and model; empty when unreadable.
const std::vector<std::pair<std::string, double>>& mostFrequentWords(const std::string& languageModel,
                                                                     std::size_t count) {
    static std::mutex mutex;
    static std::map<std::pair<std::string, std::size_t>, std::vector<std::pair<std::string, double>>> cache;
    const std::lock_guard lock(mutex);
    const auto key = std::pair(languageModel, count);
    if (const auto found = cache.find(key); found != cache.end()) {
        return found->second;
    }
    std::vector<std::pair<std::string, double>> words;
    logmath_t* logMath = logmath_init(1.0001, 0, 0);
    if (ngram_model_t* model = ngram_model_read(nullptr, languageModel.c_str(), NGRAM_AUTO, logMath)) {
        const int32 unigrams = ngram_model_get_counts(model)[0];
        for (int32 id = 0; id < unigrams; ++id) {
            const char* word = ngram_word(model, id);
            int32 used = 0;
            if (word && word[0] != '<') {
                words.emplace_back(word, logmath_log_to_log10(logMath, ngram_ng_prob(model, id, nullptr, 0, &used)));
            }
        }
        ngram_model_free(model);
    }
    logmath_free(logMath);
    std::sort(words.begin(), words.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    words.resize(std::min(words.size(), count));
    return cache.emplace(key, std::move(words)).first->second;
}

// Every word of a PocketSphinx dictionary file with its pronunciations ("word(2) ..." is the
// second pronunciation of "word").
using Dictionary = std::unordered_map<std::string, std::vector<std::string>>;

Dictionary readDictionary(const std::string& path) {
    Dictionary entries;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        const auto space = line.find(' ');
        if (space == std::string::npos) {
            continue;
        }
        entries[line.substr(0, std::min(space, line.find('(')))].push_back(line.substr(space + 1));
    }
    return entries;
}

std::vector<std::string> splitPhones(const std::string& phones) {
    std::vector<std::string> result;
    std::istringstream stream(phones);
    for (std::string phone; stream >> phone;) {
        result.push_back(phone);
    }
    return result;
}

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
// 'james') or one phone away from it ('games', 'jamie'). In the vocabulary they let a near miss
// be heard as itself instead of as the call.
std::vector<std::string> soundAlikes(const Dictionary& dictionary, const std::string& word, const std::string& phones) {
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
std::string commonWordsLanguageModel(const std::vector<std::pair<std::string, double>>& common,
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
            text += "-0.3 " + first + " " + second + "\n";
        }
    }
    return text + "\n\\end\\\n";
}

// The call phrases as the matching tokens spell them, every word with its pronunciations. A
// phrase with a word this model cannot say (another script) is left out.
struct CallPhrases {
    std::map<std::string, std::vector<std::string>> wordPhones;
    std::vector<std::vector<std::string>> phrases;
};

CallPhrases callPhrases(const std::vector<std::string>& contextualStrings, const Dictionary& dictionary) {
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
                           const Dictionary& dictionary) {
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

// A decoder for PocketSphinx command-line arguments; null when they are refused.
Decoder startDecoder(std::vector<std::string> arguments) {
    std::vector<char*> argv;
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

// The call phrases as a keyphrase search, each phrase with a threshold for its length.
bool setKeyphrases(ps_decoder_t* decoder, const CallPhrases& calls, double thresholdPerPhone) {
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
    const MemoryFile file(list);
    return file.isValid() && ps_set_kws(decoder, "calls", file.path().c_str()) == 0 &&
           ps_set_search(decoder, "calls") == 0;
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
    void deliver(RecognitionEvent event) {
        if (request_->audio.isClosed()) {
            return;
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [handler = handler_, event = std::move(event)] { handler(event); },
            Qt::QueuedConnection);
    }

    void deliverTranscript(std::string transcript) {
        if (transcript != lastTranscript_) {
            lastTranscript_ = transcript;
            deliver({std::move(transcript), std::nullopt});
        }
    }

    Decoder makeDecoder() {
        const auto dictionary = readDictionary(model_.dictionary);
        if (dictionary.empty()) {
            return nullptr;
        }
        const auto calls = callPhrases(request_->contextualStrings, dictionary);
        // The words the decoder can output.
        std::set<std::string> vocabulary;
        for (const auto& [word, phones] : calls.wordPhones) {
            vocabulary.insert(word);
        }
        std::unique_ptr<MemoryFile> languageModel;
        if (options_.search == PocketSphinxSearch::languageModel) {
            for (const auto& [word, phones] : dictionary) {
                vocabulary.insert(word);
            }
        } else if (options_.search == PocketSphinxSearch::commonWords) {
            const auto& common = mostFrequentWords(model_.languageModel, options_.commonWordCount);
            if (common.empty()) {
                return nullptr;
            }
            std::vector<std::string> alikes;
            for (const auto& [word, phones] : calls.wordPhones) {
                const auto more = soundAlikes(dictionary, word, phones.front());
                alikes.insert(alikes.end(), more.begin(), more.end());
            }
            for (const auto& [word, probability] : common) {
                vocabulary.insert(word);
            }
            vocabulary.insert(alikes.begin(), alikes.end());
            languageModel = std::make_unique<MemoryFile>(
                commonWordsLanguageModel(common, calls.phrases, options_.phraseWordLogProbability, alikes));
            if (!languageModel->isValid()) {
                return nullptr;
            }
        }
        const MemoryFile dictionaryFile(dictionaryText(vocabulary, calls.wordPhones, dictionary));
        if (!dictionaryFile.isValid()) {
            return nullptr;
        }
        std::vector<std::string> arguments{
            "-hmm",   model_.acousticModel, "-dict", dictionaryFile.path(),
            "-logfn", "/dev/null",          "-lw",   std::to_string(options_.languageWeight)};
        if (options_.search == PocketSphinxSearch::languageModel) {
            arguments.insert(arguments.end(), {"-lm", model_.languageModel});
        } else if (languageModel) {
            arguments.insert(arguments.end(), {"-lm", languageModel->path()});
        }
        auto decoder = startDecoder(std::move(arguments));
        if (decoder && options_.search == PocketSphinxSearch::keyphrase &&
            (calls.phrases.empty() || !setKeyphrases(decoder.get(), calls, options_.keyphraseThresholdPerPhone))) {
            return nullptr;
        }
        return decoder;
    }

    void run() {
        pthread_setname_np(pthread_self(), "Harkwell.speech");
        const auto decoder = makeDecoder();
        if (!decoder) {
            deliver({std::nullopt, AppError::speechUnavailable(locale_)});
            request_->audio.close(); // nothing will take the audio: appending must not wait for it
            return;
        }
        ps_decoder_t* ps = decoder.get();
        const std::size_t maxUtteranceSamples =
            static_cast<std::size_t>(options_.maxUtterance.count()) * static_cast<std::size_t>(sampleRate);
        std::size_t utteranceSamples = 0;
        bool wasInSpeech = false;
        std::optional<NoiseSuppressor> suppressor;
        if (options_.noiseSuppressionDecibels < 0) {
            suppressor.emplace(options_.noiseSuppressionDecibels);
        }
        ps_start_utt(ps);
        for (;;) {
            auto samples = request_->audio.pop(sampleRate / 10);
            if (samples.empty()) {
                break;
            }
            if (suppressor) {
                samples = suppressor->process(samples);
            }
            ps_process_raw(ps, samples.data(), samples.size(), FALSE, FALSE);
            utteranceSamples += samples.size();
            const bool inSpeech = ps_get_in_speech(ps);
            if (const char* hypothesis = ps_get_hyp(ps, nullptr)) {
                deliverTranscript(settledWords(hypothesis));
            }
            if ((wasInSpeech && !inSpeech) || utteranceSamples >= maxUtteranceSamples) {
                finishUtterance(ps);
                ps_start_utt(ps);
                utteranceSamples = 0;
                wasInSpeech = false;
            } else {
                wasInSpeech = inSpeech;
            }
        }
        finishUtterance(ps);
    }

    // While speech goes on, the last word of a hypothesis is often the beginning of a longer
    // one ('james' becoming 'jameson'): it is held back until a word follows it or the utterance ends.
    std::string settledWords(const std::string& hypothesis) const {
        if (!options_.holdBackLastWord) {
            return hypothesis;
        }
        const auto space = hypothesis.rfind(' ');
        return space == std::string::npos ? std::string() : hypothesis.substr(0, space);
    }

    void finishUtterance(ps_decoder_t* ps) {
        ps_end_utt(ps);
        if (const char* hypothesis = ps_get_hyp(ps, nullptr)) {
            deliverTranscript(hypothesis);
        }
        deliverTranscript("");
    }

    const std::shared_ptr<PocketSphinxRequest> request_;
    const SpeechRecognizer::ResultHandler handler_;
    const AppLocale locale_;
    const PocketSphinxModel model_;
    const PocketSphinxRecognizer::Options options_;
    std::string lastTranscript_;
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
    err_set_logfp(nullptr); // nothing is logged
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
    if (locale == AppLocale::english) {
        return std::make_unique<PocketSphinxRecognizer>(locale);
    }
    return nullptr;
}

} // namespace harkwell
