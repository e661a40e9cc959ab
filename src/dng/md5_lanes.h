// MD5 of four messages of the same length at once, one message per 32-bit lane of an SSE2
// register: the four chains of rounds run side by side, about three times as fast as one after
// the other. The digests are those of RFC 1321, byte for byte.
#pragma once

#include <array>
#include <cstdint>

namespace dng {

class Md5Lanes {
public:
    using Digest = std::array<uint8_t, 16>;

    Md5Lanes();

    // The next 64-byte block of each message.
    void Block(const uint8_t* const blocks[4]);

    // Ends the messages, each `length` bytes long (a multiple of 64), and gives their digests.
    std::array<Digest, 4> Finish(uint64_t length);

private:
    using Words = uint32_t __attribute__((vector_size(16)));
    Words fState[4];
    uint32_t fSine[64];
};

} // namespace dng
