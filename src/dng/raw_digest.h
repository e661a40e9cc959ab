// The raw image digests of a stage-1 image.
// - RawImageDigest (legacy): MD5 of the whole image, row by row, samples interleaved, each sample
//   as 16-bit little-endian (8-bit samples widened first).
// - NewRawImageDigest: the image cut into tiles of 256 x 256 (smaller at the right and bottom
//   edges), row of tiles by row of tiles; per tile an MD5 of its samples plane by plane, row by
//   row, each 16-bit little-endian (8-bit images: one byte each); the digest is the MD5 of the
//   tile digests in that order.
#pragma once

#include "image.h"

#include <array>
#include <cstdint>
#include <functional>

namespace dng {

// keepAlive, when given, is called after every row or tile (see Host::KeepAlive, which paces
// the calls).
std::array<uint8_t, 16> ComputeRawImageDigest(const Image& stage1, const std::function<void()>& keepAlive = {});
std::array<uint8_t, 16> ComputeNewRawImageDigest(const Image& stage1, const std::function<void()>& keepAlive = {});

} // namespace dng
