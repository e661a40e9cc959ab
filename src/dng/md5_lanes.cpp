#include "md5_lanes.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace dng {

namespace {

static_assert(std::endian::native == std::endian::little, "message words are read as little-endian");

// Shift amounts of the four rounds, four steps each.
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

} // namespace

Md5Lanes::Md5Lanes()
{
    const uint32_t initial[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
    for (int i = 0; i < 4; ++i)
        fState[i] = Words{} + initial[i];
    // The additive constant of step i: the integer part of 2^32 |sin(i + 1)|, as RFC 1321 defines it.
    for (int i = 0; i < 64; ++i)
        fSine[i] = static_cast<uint32_t>(std::floor(std::fabs(std::sin(double(i + 1))) * 4294967296.0));
}

void Md5Lanes::Block(const uint8_t* const blocks[4])
{
    Words m[16];
    for (int j = 0; j < 16; ++j)
        for (int lane = 0; lane < 4; ++lane) {
            uint32_t w;
            std::memcpy(&w, blocks[lane] + 4 * j, sizeof w);
            m[j][lane] = w;
        }
    Words a = fState[0];
    Words b = fState[1];
    Words c = fState[2];
    Words d = fState[3];
    for (int i = 0; i < 64; ++i) {
        const int round = i / 16;
        Words f;
        int g;
        switch (round) {
        case 0:
            f = (b & c) | (~b & d);
            g = i;
            break;
        case 1:
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
            break;
        case 2:
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
            break;
        default:
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
            break;
        }
        const int s = kShift[round][i % 4];
        const Words x = a + f + fSine[i] + m[g];
        a = d;
        d = c;
        c = b;
        b = b + ((x << s) | (x >> (32 - s)));
    }
    fState[0] += a;
    fState[1] += b;
    fState[2] += c;
    fState[3] += d;
}

std::array<Md5Lanes::Digest, 4> Md5Lanes::Finish(uint64_t length)
{
    // The padding of a message whose length is a multiple of 64: a one bit, zeros, the length in
    // bits as a little-endian 64-bit number; the same block for every lane.
    uint8_t pad[64] = {0x80};
    const uint64_t bits = length * 8;
    std::memcpy(pad + 56, &bits, sizeof bits);
    const uint8_t* const blocks[4] = {pad, pad, pad, pad};
    Block(blocks);
    std::array<Digest, 4> digests{};
    for (int lane = 0; lane < 4; ++lane)
        for (int i = 0; i < 4; ++i) {
            const uint32_t v = fState[i][lane];
            std::memcpy(digests[size_t(lane)].data() + 4 * i, &v, sizeof v);
        }
    return digests;
}

} // namespace dng
