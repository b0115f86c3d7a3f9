#include "speech/WhisperTranscriber.h"

#include "core/Log.h"

#include <whisper.h>

#include <QString>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <malloc.h>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <vector>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace harkwell {

namespace {

constexpr int sampleRate = 16000;
// whisper.cpp refuses windows under a second; shorter ones are padded with silence.
constexpr std::size_t shortestWindow = sampleRate * 11 / 10;
// The encoder sees 50 positions a second; a little more than the window avoids cutting its end.
constexpr int encoderPositionsPerSecond = 50;
constexpr int encoderMargin = 16;
constexpr double tokensPerSecond = 4;

// whisper.cpp's messages go to harkwell.speech at debug level, its errors as warnings.
void logFromWhisper(ggml_log_level level, const char* text, void*) {
    auto message = QString::fromUtf8(text).trimmed();
    if (message.isEmpty()) {
        return;
    }
    if (level == GGML_LOG_LEVEL_ERROR) {
        qCWarning(logSpeech).noquote() << "whisper.cpp:" << message;
    } else {
        qCDebug(logSpeech).noquote() << "whisper.cpp:" << message;
    }
}

bool processorCanRun() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    // F16C through cpuid: not every compiler's __builtin_cpu_supports knows it.
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    const bool f16c = __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_F16C) != 0;
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && f16c;
#else
    return true;
#endif
}

// Symbols Whisper writes for sounds that are not words ("(", "♪", "[["): a token of these alone,
// after its leading space, is never written, as whisper.cpp's own decoding does not write them.
// A hyphen or an apostrophe alone is, between words ("well-known", "James's").
bool isNonSpeech(const std::string& token) {
    static const std::vector<std::string> symbols{"\"", "#",  "(",  ")",  "*",  "+", "/", ":", ";", "<", "=", ">",
                                                  "@",  "[",  "\\", "]",  "^",  "_", "`", "{", "|", "}", "~", "-",
                                                  "'",  "「", "」", "『", "』", "♩", "♪", "♫", "♬", "♭", "♮", "♯"};
    if (token == " -" || token == " '") {
        return true;
    }
    const std::string_view body = std::string_view(token).substr(token.starts_with(' ') ? 1 : 0);
    if (body.empty() || body == "-" || body == "'") {
        return false;
    }
    for (std::size_t at = 0; at < body.size();) {
        const auto symbol = std::find_if(symbols.begin(), symbols.end(), [&](const std::string& candidate) {
            return body.substr(at).starts_with(candidate);
        });
        if (symbol == symbols.end()) {
            return false;
        }
        at += symbol->size();
    }
    return true;
}

// The log of the sum of e to each score: what turns Whisper's scores (logits) into log probabilities.
double logSumExp(const std::vector<float>& logits) {
    const float top = *std::max_element(logits.begin(), logits.end());
    double sum = 0;
    for (const float logit : logits) {
        sum += std::exp(static_cast<double>(logit - top));
    }
    return static_cast<double>(top) + std::log(sum);
}

// whisper.cpp's rule for a window it takes for silence: it likely holds no speech, and what was
// written of it is unlikely.
constexpr double noSpeechThreshold = 0.6;
constexpr double unlikelyLogProbability = -1.0;

// Blocks of 128 KiB and more (a window's audio, whisper.cpp's buffers) get pages of their own,
// given back when freed. glibc would otherwise raise that limit to the largest block freed and
// carve later windows from the heap, which then grows hour after hour around what stays.
void keepLargeBlocksApart() { mallopt(M_MMAP_THRESHOLD, 128 * 1024); }

} // namespace

std::string withoutRepetition(const std::string& text) {
    // Words as they stand, with their punctuation: "James, come here. James, come here" repeats.
    std::vector<std::string> words;
    std::istringstream stream(text);
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    const auto bare = [](std::string word) {
        std::erase_if(word, [](unsigned char c) { return std::ispunct(c) != 0; });
        std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::tolower(c); });
        return word;
    };
    // A repeat runs to the end and is at least two words long (one, of a one-word period).
    for (std::size_t period = 1; period + std::min<std::size_t>(2, period) <= words.size(); ++period) {
        bool repeats = true;
        for (std::size_t i = period; i < words.size() && repeats; ++i) {
            // The token limit may cut the last word short: "Dr. Kimberley. Dr. Kim".
            repeats = i + 1 == words.size() ? bare(words[i - period]).starts_with(bare(words[i]))
                                            : bare(words[i]) == bare(words[i - period]);
        }
        if (repeats) {
            std::string first;
            for (std::size_t i = 0; i < period; ++i) {
                first += (i ? " " : "") + words[i];
            }
            return first;
        }
    }
    return text;
}

std::string withoutCutCharacter(std::string text) {
    // The lead byte of the last character, and how many bytes it says the character has.
    const auto isContinuation = [](unsigned char byte) { return (byte & 0xC0) == 0x80; };
    std::size_t lead = text.size();
    while (lead > 0 && text.size() - lead < 4 && isContinuation(static_cast<unsigned char>(text[lead - 1]))) {
        --lead;
    }
    if (lead == 0) {
        return text;
    }
    const auto first = static_cast<unsigned char>(text[--lead]);
    const std::size_t length = first < 0x80 ? 1 : first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
    if (text.size() - lead < length) {
        text.erase(lead);
    }
    return text;
}

std::shared_ptr<WhisperTranscriber> WhisperTranscriber::load(const std::string& path) {
    whisper_log_set(logFromWhisper, nullptr);
    keepLargeBlocksApart();
    if (!processorCanRun()) {
        throw std::runtime_error("this processor lacks the AVX2, FMA and F16C instructions the model needs");
    }
    std::ifstream file(path, std::ios::binary);
    std::uint32_t magic = 0;
    if (!file.read(reinterpret_cast<char*>(&magic), sizeof magic)) {
        throw std::runtime_error(path + " cannot be read");
    }
    if (magic != 0x67676d6c) {
        throw std::runtime_error(path + " is not a whisper.cpp model");
    }
    file.close();
    auto parameters = whisper_context_default_params();
    parameters.use_gpu = false;
    parameters.flash_attn = false;
    whisper_context* context = whisper_init_from_file_with_params_no_state(path.c_str(), parameters);
    if (!context) {
        throw std::runtime_error(path + " is damaged or of a model format whisper.cpp does not know");
    }
    return std::shared_ptr<WhisperTranscriber>(new WhisperTranscriber(context));
}

WhisperTranscriber::WhisperTranscriber(whisper_context* context) : context_(context) {
    const whisper_token endOfText = whisper_token_eot(context_);
    nonSpeech_.resize(static_cast<std::size_t>(endOfText));
    for (whisper_token token = 0; token < endOfText; ++token) {
        nonSpeech_[static_cast<std::size_t>(token)] = isNonSpeech(whisper_token_to_str(context_, token));
    }
}

WhisperTranscriber::~WhisperTranscriber() {
    if (state_) {
        whisper_free_state(state_);
    }
    if (context_) {
        whisper_free(context_);
    }
}

bool WhisperTranscriber::isMultilingual() const { return context_ && whisper_is_multilingual(context_) != 0; }

WhisperTranscriber::Result WhisperTranscriber::transcribe(std::span<const float> audio, const Options& options) {
    std::vector<float> padded(audio.begin(), audio.end());
    if (padded.size() < shortestWindow) {
        padded.resize(shortestWindow, 0.0f);
    }
    auto parameters = whisper_full_default_params(WHISPER_SAMPLING_GREEDY);
    parameters.n_threads = options.threads;
    parameters.no_context = true;
    parameters.no_timestamps = true;
    parameters.single_segment = true;
    parameters.print_special = false;
    parameters.print_progress = false;
    parameters.print_realtime = false;
    parameters.print_timestamps = false;
    parameters.suppress_blank = true;
    parameters.suppress_nst = true;
    parameters.temperature = 0;
    parameters.temperature_inc = 0; // no second pass at a higher temperature: a window is short
    parameters.greedy.best_of = 1;
    const auto seconds = static_cast<double>(padded.size()) / sampleRate;
    // Speech runs at about three words a second: room for that and a little more, and no more, so
    // that a window that sets Whisper repeating itself costs little.
    parameters.max_tokens = static_cast<int>(std::ceil(seconds * tokensPerSecond)) + 4;
    parameters.audio_ctx =
        std::min(1500, static_cast<int>(std::ceil(seconds * encoderPositionsPerSecond)) + encoderMargin);
    parameters.language = options.language.c_str();
    parameters.initial_prompt = options.prompt.empty() ? nullptr : options.prompt.c_str();

    const std::lock_guard lock(mutex_);
    if (state_ && padded == encoded_) {
        auto result = decodeEncoded(options, parameters.max_tokens);
        result.text = withoutRepetition(withoutCutCharacter(std::move(result.text)));
        return result;
    }
    encoded_.clear();
    if (!state_) {
        state_ = whisper_init_state(context_);
        if (!state_) {
            throw std::runtime_error("whisper.cpp could not set up the memory to transcribe in");
        }
    }
    if (whisper_full_with_state(context_, state_, parameters, padded.data(), static_cast<int>(padded.size())) != 0) {
        throw std::runtime_error("whisper.cpp could not transcribe the audio");
    }
    encoded_ = std::move(padded);
    Result result;
    const int segments = whisper_full_n_segments_from_state(state_);
    for (int i = 0; i < segments; ++i) {
        result.text += whisper_full_get_segment_text_from_state(state_, i);
        result.noSpeechProbability =
            std::max(result.noSpeechProbability,
                     static_cast<double>(whisper_full_get_segment_no_speech_prob_from_state(state_, i)));
    }
    result.text = withoutRepetition(withoutCutCharacter(std::move(result.text)));
    return result;
}

WhisperTranscriber::Result WhisperTranscriber::decodeEncoded(const Options& options, int maxTokens) {
    // The tokens whisper.cpp puts before the transcript: the prompt's last half context after
    // the previous-text marker, then the start, the language, the task and no timestamps.
    std::vector<whisper_token> pending;
    if (!options.prompt.empty()) {
        std::vector<whisper_token> prompt(options.prompt.size() + 1); // a token holds a byte at least
        const int count =
            whisper_tokenize(context_, options.prompt.c_str(), prompt.data(), static_cast<int>(prompt.size()));
        if (count < 0) {
            throw std::runtime_error("whisper.cpp could not read the prompt");
        }
        const auto kept = std::min(count, whisper_n_text_ctx(context_) / 2 - 1);
        pending.push_back(whisper_token_prev(context_));
        pending.insert(pending.end(), prompt.begin() + (count - kept), prompt.begin() + count);
    }
    pending.push_back(whisper_token_sot(context_));
    if (whisper_is_multilingual(context_)) {
        pending.push_back(whisper_token_lang(context_, whisper_lang_id(options.language.c_str())));
        pending.push_back(whisper_token_transcribe(context_));
    }
    pending.push_back(whisper_token_not(context_));

    const int vocabulary = whisper_n_vocab(context_);
    const whisper_token endOfText = whisper_token_eot(context_);
    whisper_token blank = -1;
    if (whisper_tokenize(context_, " ", &blank, 1) != 1) {
        blank = -1;
    }
    Result result;
    std::vector<float> logits;
    double logProbabilities = 0;
    int past = 0;
    for (int step = 0;; ++step) {
        if (whisper_decode_with_state(context_, state_, pending.data(), static_cast<int>(pending.size()), past,
                                      options.threads) != 0) {
            throw std::runtime_error("whisper.cpp could not transcribe the audio");
        }
        past += static_cast<int>(pending.size());
        const float* last =
            whisper_get_logits_from_state(state_) + (pending.size() - 1) * static_cast<std::size_t>(vocabulary);
        logits.assign(last, last + vocabulary);
        if (step == 0) {
            result.noSpeechProbability =
                std::exp(static_cast<double>(logits[static_cast<std::size_t>(whisper_token_nosp(context_))]) -
                         logSumExp(logits));
        }
        // Words or the end of the text only; not the end, nor a blank, first.
        constexpr float never = -std::numeric_limits<float>::infinity();
        std::fill(logits.begin() + endOfText + 1, logits.end(), never);
        for (whisper_token token = 0; token < endOfText; ++token) {
            if (nonSpeech_[static_cast<std::size_t>(token)]) {
                logits[static_cast<std::size_t>(token)] = never;
            }
        }
        if (step == 0) {
            logits[static_cast<std::size_t>(endOfText)] = never;
            if (blank >= 0) {
                logits[static_cast<std::size_t>(blank)] = never;
            }
        }
        const auto best = static_cast<whisper_token>(std::max_element(logits.begin(), logits.end()) - logits.begin());
        logProbabilities += static_cast<double>(logits[static_cast<std::size_t>(best)]) - logSumExp(logits);
        if (best != endOfText) {
            result.text += whisper_token_to_str(context_, best);
        }
        if (best == endOfText || step >= maxTokens) {
            // whisper.cpp leaves out a window it takes for silence.
            if (result.noSpeechProbability > noSpeechThreshold &&
                logProbabilities / (step + 1) < unlikelyLogProbability) {
                return {};
            }
            return result;
        }
        pending = {best};
    }
}

void WhisperTranscriber::rest() {
    const std::lock_guard lock(mutex_);
    if (!state_) {
        return;
    }
    whisper_free_state(state_);
    state_ = nullptr;
    encoded_.clear();
    // The smaller buffers came from the heap, which keeps freed pages: give them back.
    malloc_trim(0);
}

std::shared_ptr<WhisperTranscriber> loadWhisperTranscriber(const std::string& path) {
    return WhisperTranscriber::load(path);
}

} // namespace harkwell
