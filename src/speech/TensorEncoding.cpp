#include "speech/TensorEncoding.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace harkwell {

namespace {

using DataType = CTranslate2Model::DataType;

constexpr std::size_t q8Block = 32;

} // namespace

std::size_t elementCount(const CTranslate2Model::Tensor& tensor) {
    std::size_t count = 1;
    for (const auto dimension : tensor.shape) {
        count *= dimension;
    }
    return count;
}

float halfToFloat(std::uint16_t half) {
    const std::uint32_t sign = (half & 0x8000u) << 16;
    std::uint32_t exponent = (half >> 10) & 0x1f;
    std::uint32_t mantissa = half & 0x3ff;
    std::uint32_t bits;
    if (exponent == 0x1f) {
        bits = sign | 0x7f800000u | (mantissa << 13); // infinity, NaN
    } else if (exponent != 0) {
        bits = sign | ((exponent + 112) << 23) | (mantissa << 13);
    } else if (mantissa == 0) {
        bits = sign;
    } else { // subnormal: normalise
        exponent = 113;
        while ((mantissa & 0x400) == 0) {
            mantissa <<= 1;
            --exponent;
        }
        bits = sign | (exponent << 23) | ((mantissa & 0x3ff) << 13);
    }
    return std::bit_cast<float>(bits);
}

std::uint16_t floatToHalf(float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    const std::uint16_t sign = static_cast<std::uint16_t>((bits >> 16) & 0x8000u);
    const int exponent = static_cast<int>((bits >> 23) & 0xff) - 127 + 15;
    std::uint32_t mantissa = bits & 0x7fffffu;
    if (((bits >> 23) & 0xff) == 0xff) {
        return sign | 0x7c00u | (mantissa ? 0x200u : 0u);
    }
    if (exponent >= 0x1f) {
        return sign | 0x7c00u;
    }
    if (exponent <= 0) {
        if (exponent < -10) {
            return sign;
        }
        mantissa |= 0x800000u;
        const int shift = 14 - exponent;
        std::uint32_t half = mantissa >> shift;
        if ((mantissa >> (shift - 1)) & 1u) { // round half up
            ++half;
        }
        return static_cast<std::uint16_t>(sign | half);
    }
    std::uint32_t half = (static_cast<std::uint32_t>(exponent) << 10) | (mantissa >> 13);
    if (mantissa & 0x1000u) {
        ++half; // may carry into the exponent, which is right
    }
    return static_cast<std::uint16_t>(sign | half);
}

std::vector<std::uint8_t> tensorAsFloat32(const CTranslate2Model::Tensor& tensor) {
    const auto count = elementCount(tensor);
    std::vector<std::uint8_t> out(count * 4);
    if (tensor.type == DataType::float32) {
        return tensor.bytes;
    }
    if (tensor.type != DataType::float16) {
        throw WhisperModelConversionError("weights of an integer type are not supported (quantised CTranslate2 model)");
    }
    for (std::size_t i = 0; i < count; ++i) {
        std::uint16_t half;
        std::memcpy(&half, tensor.bytes.data() + 2 * i, 2);
        const float value = halfToFloat(half);
        std::memcpy(out.data() + 4 * i, &value, 4);
    }
    return out;
}

std::vector<std::uint8_t> tensorAsFloat16(const CTranslate2Model::Tensor& tensor) {
    if (tensor.type == DataType::float16) {
        return tensor.bytes;
    }
    if (tensor.type != DataType::float32) {
        throw WhisperModelConversionError("weights of an integer type are not supported (quantised CTranslate2 model)");
    }
    const auto count = elementCount(tensor);
    std::vector<std::uint8_t> out(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        float value;
        std::memcpy(&value, tensor.bytes.data() + 4 * i, 4);
        const auto half = floatToHalf(value);
        std::memcpy(out.data() + 2 * i, &half, 2);
    }
    return out;
}

std::vector<std::uint8_t> tensorAsQ8_0(const CTranslate2Model::Tensor& tensor) {
    const auto values = tensorAsFloat32(tensor);
    const auto count = elementCount(tensor);
    if (tensor.shape.empty() || tensor.shape.back() % q8Block != 0) {
        throw WhisperModelConversionError("a row of " + std::to_string(tensor.shape.empty() ? 0 : tensor.shape.back()) +
                                          " values cannot be quantised in blocks of 32");
    }
    std::vector<std::uint8_t> out;
    out.reserve(count / q8Block * (2 + q8Block));
    for (std::size_t block = 0; block < count; block += q8Block) {
        float block32[q8Block];
        std::memcpy(block32, values.data() + 4 * block, sizeof block32);
        float largest = 0;
        for (const float value : block32) {
            largest = std::max(largest, std::fabs(value));
        }
        const float scale = largest / 127;
        const auto half = floatToHalf(scale);
        out.push_back(static_cast<std::uint8_t>(half & 0xff));
        out.push_back(static_cast<std::uint8_t>(half >> 8));
        for (const float value : block32) {
            out.push_back(
                static_cast<std::uint8_t>(static_cast<std::int8_t>(scale > 0 ? std::lround(value / scale) : 0)));
        }
    }
    return out;
}

} // namespace harkwell
