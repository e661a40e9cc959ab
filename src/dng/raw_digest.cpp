#include "raw_digest.h"

#include <sys/types.h>
#include <md5.h>

#include <algorithm>
#include <vector>

namespace dng {

std::array<uint8_t, 16> ComputeRawImageDigest(const Image& stage1, const std::function<void()>& keepAlive)
{
    MD5_CTX ctx;
    MD5Init(&ctx);
    const int32_t w = stage1.Width();
    const uint32_t planes = stage1.Planes();
    std::vector<uint8_t> row(static_cast<size_t>(w) * planes * 2);
    for (int32_t y = 0; y < stage1.Height(); ++y) {
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

std::array<uint8_t, 16> ComputeNewRawImageDigest(const Image& stage1, const std::function<void()>& keepAlive)
{
    constexpr int32_t kTile = 256;
    const bool wide = stage1.Type() == PixelType::kUInt16;
    std::vector<uint8_t> row(static_cast<size_t>(kTile) * 2);
    std::vector<std::array<uint8_t, 16>> tiles;
    for (int32_t t = 0; t < stage1.Height(); t += kTile) {
        const int32_t b = std::min(t + kTile, stage1.Height());
        for (int32_t l = 0; l < stage1.Width(); l += kTile) {
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
            MD5Final(tiles.emplace_back().data(), &ctx);
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
