#pragma once

#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

struct whisper_context;
struct whisper_state;

namespace harkwell {

// A loaded whisper.cpp model that transcribes short windows of audio (16 kHz mono, at most 30 s).
// One window at a time: calls from several threads take turns.
class WhisperTranscriber {
public:
    struct Options {
        std::string language = "en"; // Whisper's language code
        std::string prompt;          // text the window is likely to continue (the call phrases)
        int threads = 1;
    };
    struct Result {
        std::string text;
        double noSpeechProbability = 0; // Whisper's own belief that the window holds no speech
    };

    // Throws std::runtime_error saying why the file cannot be used: missing, not a model
    // whisper.cpp knows, or a processor without the instructions this build needs (AVX2, FMA, F16C).
    static std::shared_ptr<WhisperTranscriber> load(const std::string& path);
    virtual ~WhisperTranscriber();
    WhisperTranscriber(const WhisperTranscriber&) = delete;
    WhisperTranscriber& operator=(const WhisperTranscriber&) = delete;

    // The same audio again (a second language, or no prompt) is only decoded: its encoding, most
    // of the cost, is kept from the call before until the next rest.
    virtual Result transcribe(std::span<const float> audio, const Options& options);
    // Lets go of the working memory transcribing takes besides the model (whisper.cpp's state:
    // its caches and compute buffers, about 100 MB touched): the next transcription makes it anew
    // in a few milliseconds. Kept from window to window, it grows, as windows of other lengths and
    // prompts touch other parts of it and the heap around it fragments.
    virtual void rest();
    // Whether the model hears other languages than English (Korean among them).
    virtual bool isMultilingual() const;

protected:
    // A transcriber without a whisper.cpp model, for one that writes what it is told (tests).
    WhisperTranscriber() = default;

private:
    explicit WhisperTranscriber(whisper_context* context);
    // Greedy decoding of the audio the state holds encoded, as whisper.cpp's own would write it.
    Result decodeEncoded(const Options& options, int maxTokens);

    whisper_context* context_ = nullptr;
    whisper_state* state_ = nullptr; // while transcribing and until the next rest
    std::vector<float> encoded_;     // the audio whose encoding the state holds
    std::vector<bool> nonSpeech_;    // tokens never written: symbols, as whisper.cpp suppresses them
    std::mutex mutex_;
};

// The text without the repeats Whisper falls into when the audio ends before its window does:
// "James, come here. James, come here. James," gives "James, come here.".
std::string withoutRepetition(const std::string& text);

// The text without the first bytes of a character the token limit cut short (a Hangul syllable
// often takes two tokens): "민수야, 잠" and its first byte of "깐" give "민수야, 잠".
std::string withoutCutCharacter(std::string text);

// The loader the application's WhisperModel uses.
std::shared_ptr<WhisperTranscriber> loadWhisperTranscriber(const std::string& path);

} // namespace harkwell
