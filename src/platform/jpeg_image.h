// Decoding a baseline JPEG (the embedded previews of some cameras) into a 24-bit bitmap, through
// libjpeg-turbo. Damaged data give an error, never a crash.
#pragma once

#include "bitmap.h"

#include <cstdint>
#include <span>
#include <stdexcept>

namespace platform {

class JpegError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws JpegError when the data are no decodable JPEG or larger than maxPixels.
Bitmap DecodeJpeg(std::span<const uint8_t> bytes, uint64_t maxPixels = 100'000'000);

} // namespace platform
