// The digests of the raw image: four MD5s side by side against libmd, and the tiled
// NewRawImageDigest (whose whole tiles go four at a time) against a plain tile-by-tile reading.
#include "dng/image.h"
#include "dng/md5_lanes.h"
#include "dng/raw_digest.h"

#include <gtest/gtest.h>

#include <sys/types.h>
#include <md5.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

std::array<uint8_t, 16> Md5(const uint8_t* data, size_t size)
{
    MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, data, size);
    std::array<uint8_t, 16> digest{};
    MD5Final(digest.data(), &ctx);
    return digest;
}

TEST(Md5Lanes, GivesEachLaneTheDigestOfItsOwnMessage)
{
    std::mt19937 rng(99);
    for (size_t blocks : {size_t(0), size_t(1), size_t(2), size_t(37)}) {
        std::vector<uint8_t> messages[4];
        for (auto& m : messages) {
            m.resize(64 * blocks);
            for (uint8_t& byte : m)
                byte = uint8_t(rng());
        }
        dng::Md5Lanes md5;
        for (size_t b = 0; b < blocks; ++b) {
            const uint8_t* const at[4] = {messages[0].data() + 64 * b, messages[1].data() + 64 * b,
                                          messages[2].data() + 64 * b, messages[3].data() + 64 * b};
            md5.Block(at);
        }
        const auto digests = md5.Finish(64 * blocks);
        for (int lane = 0; lane < 4; ++lane)
            EXPECT_EQ(digests[size_t(lane)], Md5(messages[lane].data(), messages[lane].size()))
                << blocks << " blocks, lane " << lane;
    }
}

// The MD5 of the tile digests, each tile read plane by plane and row by row as 16-bit
// little-endian samples (8-bit: one byte each).
std::array<uint8_t, 16> PlainNewDigest(const dng::Image& img)
{
    std::vector<uint8_t> all;
    for (int32_t t = 0; t < img.Height(); t += 256)
        for (int32_t l = 0; l < img.Width(); l += 256) {
            std::vector<uint8_t> bytes;
            for (uint32_t p = 0; p < img.Planes(); ++p)
                for (int32_t y = t; y < std::min(t + 256, img.Height()); ++y)
                    for (int32_t x = l; x < std::min(l + 256, img.Width()); ++x) {
                        if (img.Type() == dng::PixelType::kUInt8) {
                            bytes.push_back(img.Row8(y, p)[x]);
                        } else {
                            bytes.push_back(uint8_t(img.Row16(y, p)[x] & 0xFF));
                            bytes.push_back(uint8_t(img.Row16(y, p)[x] >> 8));
                        }
                    }
            const auto tile = Md5(bytes.data(), bytes.size());
            all.insert(all.end(), tile.begin(), tile.end());
        }
    return Md5(all.data(), all.size());
}

TEST(NewRawImageDigest, MatchesTheTileByTileRuleForEveryShape)
{
    // Widths with four whole tiles and a rest, exactly eight, fewer than four; heights with and
    // without a part tile row; one plane and three, 16 and 8 bits.
    std::mt19937 rng(5);
    const struct {
        int32_t w, h;
        uint32_t planes;
        dng::PixelType type;
    } shapes[] = {{1100, 600, 1, dng::PixelType::kUInt16}, {2048, 256, 1, dng::PixelType::kUInt16},
                  {700, 300, 1, dng::PixelType::kUInt16},  {1030, 260, 3, dng::PixelType::kUInt16},
                  {1030, 260, 1, dng::PixelType::kUInt8}};
    for (const auto& s : shapes) {
        dng::Image img(s.w, s.h, s.planes, s.type);
        for (uint32_t p = 0; p < s.planes; ++p)
            for (int32_t y = 0; y < s.h; ++y)
                for (int32_t x = 0; x < s.w; ++x) {
                    if (s.type == dng::PixelType::kUInt8)
                        img.Row8(y, p)[x] = uint8_t(rng());
                    else
                        img.Row16(y, p)[x] = uint16_t(rng());
                }
        EXPECT_EQ(dng::ComputeNewRawImageDigest(img), PlainNewDigest(img)) << s.w << " x " << s.h;
    }
}

} // namespace
