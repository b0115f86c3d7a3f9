#pragma once

#include "speech/WhisperModelConverter.h"

#include <cstdint>
#include <vector>

namespace harkwell {

// How the model converter encodes a tensor's elements for ggml. Each throws
// WhisperModelConversionError on weights it cannot encode.

std::size_t elementCount(const CTranslate2Model::Tensor& tensor);

// IEEE half precision, rounding to nearest (ties up), keeping infinities, NaN and subnormals.
float halfToFloat(std::uint16_t half);
std::uint16_t floatToHalf(float value);

// The tensor's elements as float32 bytes, or as float16 bytes.
std::vector<std::uint8_t> tensorAsFloat32(const CTranslate2Model::Tensor& tensor);
std::vector<std::uint8_t> tensorAsFloat16(const CTranslate2Model::Tensor& tensor);
// ggml's Q8_0: blocks of 32 values as a float16 scale and 32 signed bytes; a row's length must be
// a multiple of 32.
std::vector<std::uint8_t> tensorAsQ8_0(const CTranslate2Model::Tensor& tensor);

} // namespace harkwell
