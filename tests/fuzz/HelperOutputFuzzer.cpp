// Reading a listening mode out of arbitrary helper output.
#include "airpods/ListeningMode.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)harkwell::ListeningMode::fromHelperOutput(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
