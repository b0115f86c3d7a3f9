#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace harkwell::fuzz {

// Splits the fuzzer's bytes into pieces at 0x00 bytes.
inline std::vector<std::string> pieces(const uint8_t* data, size_t size) {
    std::vector<std::string> out(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            out.emplace_back();
        } else {
            out.back().push_back(static_cast<char>(data[i]));
        }
    }
    return out;
}

} // namespace harkwell::fuzz
