#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace harkwell {

// A model in CTranslate2's format as it lies in its model.bin: named tensors, row-major.
struct CTranslate2Model {
    enum class DataType : std::uint8_t { float32 = 0, int8 = 1, int16 = 2, int32 = 3, float16 = 4, bfloat16 = 5 };
    struct Tensor {
        std::vector<std::uint32_t> shape; // empty for a scalar
        DataType type = DataType::float32;
        std::vector<std::uint8_t> bytes;
    };

    std::string specName; // "WhisperSpec"
    std::uint32_t revision = 0;
    std::map<std::string, Tensor> tensors;
    std::map<std::string, std::string> aliases; // alias -> tensor name

    // Reads model.bin; throws WhisperModelConversionError on anything but a well-formed file.
    static CTranslate2Model read(const std::filesystem::path& path);
    // Writes it in the same format (version 6), for tests and tools.
    void write(const std::filesystem::path& path) const;
};

class WhisperModelConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The byte strings of a Whisper vocabulary file as CTranslate2 keeps it next to model.bin: a JSON
// array of tokens (vocabulary.json) or one token a line (vocabulary.txt), in GPT-2's byte-to-
// character spelling. Only the text tokens, those before "<|endoftext|>", are returned.
std::vector<std::string> readWhisperVocabulary(const std::filesystem::path& path);

// Slaney-style mel filters as Whisper computes its log-mel spectrogram: nMels rows of
// 1 + fftSize / 2 weights for 16 kHz audio.
std::vector<float> whisperMelFilters(int nMels, int fftSize = 400, double sampleRate = 16000);

// The weights of a converted model: as the source has them (float16 or float32), or quantised to
// ggml's Q8_0 (8 bits a weight and a scale for every 32: half the size, and faster on a CPU).
enum class WhisperWeights { asSource, q8_0 };

// Converts a Whisper model in CTranslate2's format (float16 or float32 weights) into the file
// whisper.cpp loads. Throws WhisperModelConversionError saying what is wrong.
void convertWhisperModel(const std::filesystem::path& ctranslate2Model, const std::filesystem::path& vocabulary,
                         const std::filesystem::path& output, WhisperWeights weights = WhisperWeights::asSource);

} // namespace harkwell
