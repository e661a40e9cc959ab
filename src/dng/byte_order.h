// Reading 16-, 32- and 64-bit values stored in either byte order.
#pragma once

#include "tiff_tag.h"

#include <cstdint>

namespace dng {

inline uint16_t Get16(const uint8_t* p, ByteOrder order)
{
    return order == ByteOrder::kLittle ? static_cast<uint16_t>(p[0] | (p[1] << 8))
                                       : static_cast<uint16_t>((p[0] << 8) | p[1]);
}

inline uint32_t Get32(const uint8_t* p, ByteOrder order)
{
    if (order == ByteOrder::kLittle)
        return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline uint64_t Get64(const uint8_t* p, ByteOrder order)
{
    const uint64_t a = Get32(p, order);
    const uint64_t b = Get32(p + 4, order);
    return order == ByteOrder::kLittle ? (b << 32) | a : (a << 32) | b;
}

} // namespace dng
