// Fuzz target: the lossless-JPEG decoder on its own, as a tile or strip hands it a stream. The
// output is sized from the frame header (bounded), so that decoding itself is reached.
#include "dng/error.h"
#include "dng/lossless_jpeg.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks the pre-1.1 compatibility mode; the rest is the stream.
    const bool bugCompat16 = (data[0] & 1) != 0;
    const std::span<const uint8_t> stream(data + 1, size - 1);
    try {
        const dng::LosslessJpegFrame frame = dng::ReadLosslessJpegFrame(stream);
        const uint64_t samples = uint64_t(frame.width) * frame.height * frame.components;
        if (samples == 0 || samples > (uint64_t(1) << 22))
            return 0;
        std::vector<uint16_t> out(samples);
        dng::DecodeLosslessJpeg(stream, out, bugCompat16);
        // A wrong-sized output must be refused before anything is written.
        std::vector<uint16_t> small(samples - 1);
        dng::DecodeLosslessJpeg(stream, small, bugCompat16);
    } catch (const dng::Error&) {
    }
    return 0;
}
