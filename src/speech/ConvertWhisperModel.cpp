// whisper_model_converter: turns a Whisper model in CTranslate2's format into the file whisper.cpp
// loads. Run by the build on the model that scripts/setup.sh fetched.
#include "speech/WhisperModelConverter.h"

#include <cstdio>
#include <string_view>

int main(int argc, char** argv) {
    const bool quantise = argc == 5 && std::string_view(argv[1]) == "--q8_0";
    if (argc != 4 && !quantise) {
        std::fprintf(stderr, "usage: %s [--q8_0] CTRANSLATE2-MODEL.bin VOCABULARY.json|.txt OUTPUT.bin\n", argv[0]);
        return 64;
    }
    const auto arguments = argv + (quantise ? 2 : 1);
    try {
        harkwell::convertWhisperModel(arguments[0], arguments[1], arguments[2],
                                      quantise ? harkwell::WhisperWeights::q8_0 : harkwell::WhisperWeights::asSource);
    } catch (const harkwell::WhisperModelConversionError& error) {
        std::fprintf(stderr, "whisper_model_converter: %s\n", error.what());
        return 1;
    }
    return 0;
}
