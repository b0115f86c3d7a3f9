// whisper_model_converter: turns a Whisper model in CTranslate2's format into the file whisper.cpp
// loads. Run by the build on the model that scripts/setup.sh fetched.
#include "speech/WhisperModelConverter.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s CTRANSLATE2-MODEL.bin VOCABULARY.json|.txt OUTPUT.bin\n", argv[0]);
        return 64;
    }
    try {
        harkwell::convertWhisperModel(argv[1], argv[2], argv[3]);
    } catch (const harkwell::WhisperModelConversionError& error) {
        std::fprintf(stderr, "whisper_model_converter: %s\n", error.what());
        return 1;
    }
    return 0;
}
