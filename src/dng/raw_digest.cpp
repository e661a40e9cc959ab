#include "raw_digest.h"

#include "md5_lanes.h"

#include <sys/types.h>
#include <md5.h>

#include <algorithm>
#include <bit>
#include <vector>

namespace dng {

std::array<uint8_t, 16> ComputeRawImageDigest(const Image& stage1, const std::function<void()>& keepAlive)
{
    MD5_CTX ctx;
    MD5Init(&ctx);
    const int32_t w = stage1.Width();
    const uint32_t planes = stage1.Planes();
    std::vector<uint8_t> row(static_cast<size_t>(w) * planes * 2);
    // One 16-bit plane is hashed as it lies in memory: its samples are little-endian already.
    const bool asStored = planes == 1 && stage1.Type() == PixelType::kUInt16;
    static_assert(std::endian::native == std::endian::little, "samples are hashed as they lie in memory");
    for (int32_t y = 0; y < stage1.Height(); ++y) {
        if (asStored) {
            MD5Update(&ctx, reinterpret_cast<const uint8_t*>(stage1.Row16(y)), row.size());
            if (keepAlive)
                keepAlive();
            continue;
        }
        for (uint32_t p = 0; p < planes; ++p) {
            if (stage1.Type() == PixelType::kUInt16) {
                const uint16_t* src = stage1.Row16(y, p);
                for (int32_t x = 0; x < w; ++x) {
                    size_t at = (static_cast<size_t>(x) * planes + p) * 2;
                    row[at] = static_cast<uint8_t>(src[x] & 0xFF);
                    row[at + 1] = static_cast<uint8_t>(src[x] >> 8);
                }
            } else {
                const uint8_t* src = stage1.Row8(y, p);
                for (int32_t x = 0; x < w; ++x) {
                    size_t at = (static_cast<size_t>(x) * planes + p) * 2;
                    row[at] = src[x];
                    row[at + 1] = 0;
                }
            }
        }
        MD5Update(&ctx, row.data(), row.size());
        if (keepAlive)
            keepAlive();
    }
    std::array<uint8_t, 16> digest{};
    MD5Final(digest.data(), &ctx);
    return digest;
}

namespace {

constexpr int32_t kTile = 256;

// The MD5 of one tile's samples, plane by plane, row by row, each 16-bit little-endian (8-bit
// images: one byte each).
std::array<uint8_t, 16> TileDigest(const Image& stage1, int32_t t, int32_t l, std::vector<uint8_t>& row)
{
    const bool wide = stage1.Type() == PixelType::kUInt16;
    const int32_t b = std::min(t + kTile, stage1.Height());
    const int32_t w = std::min(kTile, stage1.Width() - l);
    MD5_CTX ctx;
    MD5Init(&ctx);
    for (uint32_t p = 0; p < stage1.Planes(); ++p) {
        for (int32_t y = t; y < b; ++y) {
            if (wide) {
                const uint16_t* src = stage1.Row16(y, p) + l;
                for (int32_t x = 0; x < w; ++x) {
                    row[2 * size_t(x)] = static_cast<uint8_t>(src[x] & 0xFF);
                    row[2 * size_t(x) + 1] = static_cast<uint8_t>(src[x] >> 8);
                }
                MD5Update(&ctx, row.data(), 2 * size_t(w));
            } else {
                MD5Update(&ctx, stage1.Row8(y, p) + l, size_t(w));
            }
        }
    }
    std::array<uint8_t, 16> digest{};
    MD5Final(digest.data(), &ctx);
    return digest;
}

// The digests of four whole tiles of a one-plane 16-bit image side by side, tiles (t, l + 256 k):
// each row of a tile is 512 bytes, eight MD5 blocks, stored as they are (the samples are
// little-endian in memory).
std::array<std::array<uint8_t, 16>, 4> FourTileDigests(const Image& stage1, int32_t t, int32_t l)
{
    static_assert(std::endian::native == std::endian::little, "samples are hashed as they lie in memory");
    constexpr int32_t kBlockSamples = 32;
    Md5Lanes md5;
    for (int32_t y = t; y < t + kTile; ++y) {
        const uint8_t* row = reinterpret_cast<const uint8_t*>(stage1.Row16(y) + l);
        for (int32_t x = 0; x < kTile; x += kBlockSamples) {
            const uint8_t* const blocks[4] = {row + 2 * x, row + 2 * (x + kTile), row + 2 * (x + 2 * kTile),
                                              row + 2 * (x + 3 * kTile)};
            md5.Block(blocks);
        }
    }
    return md5.Finish(uint64_t(kTile) * kTile * 2);
}

} // namespace

std::array<uint8_t, 16> ComputeNewRawImageDigest(const Image& stage1, const std::function<void()>& keepAlive)
{
    const bool lanes = stage1.Type() == PixelType::kUInt16 && stage1.Planes() == 1;
    std::vector<uint8_t> row(static_cast<size_t>(kTile) * 2);
    std::vector<std::array<uint8_t, 16>> tiles;
    for (int32_t t = 0; t < stage1.Height(); t += kTile) {
        int32_t l = 0;
        // Whole tiles four at a time, the rest one by one; the list keeps the tiles' order.
        if (lanes && t + kTile <= stage1.Height())
            for (; l + 4 * kTile <= stage1.Width(); l += 4 * kTile) {
                for (const auto& digest : FourTileDigests(stage1, t, l)) {
                    tiles.push_back(digest);
                    if (keepAlive)
                        keepAlive(); // once per tile, as for the others
                }
            }
        for (; l < stage1.Width(); l += kTile) {
            tiles.push_back(TileDigest(stage1, t, l, row));
            if (keepAlive)
                keepAlive();
        }
    }
    MD5_CTX ctx;
    MD5Init(&ctx);
    for (const auto& tile : tiles)
        MD5Update(&ctx, tile.data(), tile.size());
    std::array<uint8_t, 16> digest{};
    MD5Final(digest.data(), &ctx);
    return digest;
}

} // namespace dng
