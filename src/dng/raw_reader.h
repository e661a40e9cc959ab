// Reading the stage-1 image: the raw pixels of the main image directory, exactly as stored,
// from uncompressed (8 to 16 bits, packed most significant bit first) or lossless-JPEG strips
// and tiles. Samples of 8 bits or fewer give an 8-bit image, others a 16-bit one; each sample of
// a pixel goes to its own plane.
#pragma once

#include "host.h"
#include "ifd_info.h"
#include "image.h"
#include "stream.h"
#include "tiff_tag.h"

#include <memory>

namespace dng {

struct RawReadOptions {
    ByteOrder order = ByteOrder::kLittle; // byte order of the file (16-bit samples)
    bool bugCompat16 = false;              // DNG versions before 1.1 (lossless JPEG category 16)
};

// Throws kErrorBadFormat when the data are damaged, missing or in a layout that is not read.
std::unique_ptr<Image> ReadRawImage(Host& host, const Stream& stream, const IfdInfo& ifd, const RawReadOptions& options);

} // namespace dng
