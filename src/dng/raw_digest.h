// The legacy RawImageDigest: MD5 of the whole stage-1 image, row by row, samples interleaved,
// each sample as 16-bit little-endian (8-bit samples widened first).
#pragma once

#include "image.h"

#include <array>
#include <cstdint>

namespace dng {

std::array<uint8_t, 16> ComputeRawImageDigest(const Image& stage1);

} // namespace dng
