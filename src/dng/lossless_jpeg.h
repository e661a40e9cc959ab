// Decoder for lossless JPEG (ITU-T T.81 process 14, SOF3) streams as DNG stores them: one
// complete stream per tile or strip, 1 to 4 components, precision 2 to 16, predictors 1 to 7,
// restart markers. The decoded samples fill the output in stream order (line by line, then
// column by column, one sample per component).
#pragma once

#include <cstdint>
#include <span>

namespace dng {

struct LosslessJpegFrame {
    uint32_t width = 0;      // X: samples per line, per component
    uint32_t height = 0;     // Y: lines
    uint32_t components = 0; // Nf
    uint32_t precision = 0;  // P
};

// Reads the frame header only. Throws kErrorBadFormat when there is none.
LosslessJpegFrame ReadLosslessJpegFrame(std::span<const uint8_t> stream);

// Decodes the whole stream into out, which must hold exactly X x Y x Nf samples (else
// kErrorBadFormat, before anything is written). Damaged or truncated data throws kErrorBadFormat;
// nothing is read or written outside the two spans. bugCompat16: files of DNG versions before
// 1.1 carry 16 extra bits after a difference of category 16.
LosslessJpegFrame DecodeLosslessJpeg(std::span<const uint8_t> stream, std::span<uint16_t> out, bool bugCompat16);

} // namespace dng
