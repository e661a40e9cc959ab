// The TIFF container of a DNG: header, the tree of image directories (IFD0 and its SubIFDs,
// breadth-first) and the EXIF, GPS and interoperability directories. Every tag is kept as stored.
// Offsets, counts and sizes are checked before use; loops, depth and counts are bounded;
// directories and value blocks that overlap each other are refused.
#pragma once

#include "stream.h"
#include "tiff_tag.h"

#include <cstdint>
#include <vector>

namespace dng {

struct TiffDirectory {
    enum class Kind : uint8_t { kImage, kExif, kGps, kInterop };
    Kind kind = Kind::kImage;
    uint32_t offset = 0;
    int32_t parent = -1;        // image directories: index of the parent image directory
    std::vector<TiffTag> tags;  // in file order; duplicates kept

    const TiffTag* Find(uint16_t code) const; // the first copy of a tag, or null
};

class TiffContainer {
public:
    static constexpr uint32_t kMaxDirectories = 128;
    static constexpr uint32_t kMaxDepth = 10;
    static constexpr uint32_t kMaxEntriesPerDirectory = 4096;
    static constexpr uint64_t kMaxTagBytesTotal = 512ull << 20;

    // Throws kErrorBadFormat when the bytes are no TIFF or a directory cannot be read.
    void Parse(const Stream& stream);

    ByteOrder Order() const { return fOrder; }
    // Image directories in order: IFD0, then its SubIFDs, then theirs (breadth-first).
    const std::vector<TiffDirectory>& Images() const { return fImages; }
    const TiffDirectory* Exif() const { return fExif.offset ? &fExif : nullptr; }
    const TiffDirectory* Gps() const { return fGps.offset ? &fGps : nullptr; }
    const TiffDirectory* Interop() const { return fInterop.offset ? &fInterop : nullptr; }

private:
    ByteOrder fOrder = ByteOrder::kLittle;
    std::vector<TiffDirectory> fImages;
    TiffDirectory fExif, fGps, fInterop;
};

} // namespace dng
