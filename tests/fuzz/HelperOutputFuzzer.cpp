// Reading a listening mode and a command result out of arbitrary helper output.
#include "airpods/HelperOutput.h"
#include "airpods/ListeningMode.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    (void)harkwell::ListeningMode::fromHelperOutput(input);

    // The output file's text, then after a NUL byte what the helper printed.
    const size_t split = std::min(input.find('\0'), input.size());
    const std::string_view printed = split < input.size() ? input.substr(split + 1) : std::string_view();
    const harkwell::CommandResult result = harkwell::commandResultFromHelperOutput(input.substr(0, split), printed, 1);
    for (const std::string_view line : harkwell::helperOutputLines(result.output)) {
        if (line.starts_with("EXIT_CODE=")) {
            std::abort(); // exit-code lines never reach the output
        }
    }
    return 0;
}
