#include "raw_digest.h"

#include <sys/types.h>
#include <md5.h>

#include <vector>

namespace dng {

std::array<uint8_t, 16> ComputeRawImageDigest(const Image& stage1)
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
    }
    std::array<uint8_t, 16> digest{};
    MD5Final(digest.data(), &ctx);
    return digest;
}

} // namespace dng
