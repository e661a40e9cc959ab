// Builds a TIFF/DNG file in memory: a tree of image directories (IFD0 and SubIFDs), an EXIF and
// a GPS directory, typed tags and image data blocks. Finish() lays the file out (entries sorted by
// tag, data on even offsets, every next-IFD pointer 0) and reports where everything landed.
#pragma once

#include "rational.h"
#include "tiff_tag.h"

#include <cstdint>
#include <map>
#include <span>
#include <string_view>
#include <vector>

namespace dng {

// Where Finish() put each directory, entry and data block.
struct TiffLayout {
    struct Entry {
        uint16_t code = 0;
        uint16_t type = 0;
        uint32_t count = 0;
        uint32_t entryOffset = 0; // the 12-byte entry
        uint32_t valueOffset = 0; // the value bytes (entryOffset + 8 when inline)
    };
    struct Block {
        uint32_t offset = 0;
        uint32_t size = 0; // without the padding byte
    };
    struct Directory {
        uint32_t offset = 0;
        uint32_t nextPointerOffset = 0; // where the (zero) next-IFD pointer sits
        std::vector<Entry> entries;     // sorted by code
        std::vector<Block> blocks;      // strips or tiles, in order

        const Entry* Find(uint16_t code) const;
    };
    std::vector<Directory> directories; // indexed like TiffWriter::Ifd::index
};

class TiffWriter {
public:
    // Offsets, byte counts and directory pointers, which the writer sets itself.
    static bool IsWriterOwned(uint16_t code);

    struct Ifd {
        uint32_t index = 0;
        friend bool operator==(const Ifd&, const Ifd&) = default;
    };

    explicit TiffWriter(ByteOrder order);

    ByteOrder Order() const { return fOrder; }

    Ifd Ifd0() const { return Ifd{0}; }
    // A new SubIFD of an image directory, listed in the parent's SubIFDs tag in creation order.
    Ifd AddSubIfd(Ifd parent);
    // The EXIF / GPS directory, pointed to from IFD0; made on first use.
    Ifd ExifIfd();
    Ifd GpsIfd();

    // Typed tags. Setting a tag again replaces it. The writer owns the tags for strip and tile
    // offsets and counts, SubIFDs and the EXIF and GPS pointers: setting one of them throws.
    void SetByte(Ifd ifd, uint16_t code, std::span<const uint8_t> values);
    void SetAscii(Ifd ifd, uint16_t code, std::string_view text); // a NUL is appended
    void SetShort(Ifd ifd, uint16_t code, std::span<const uint16_t> values);
    void SetShort(Ifd ifd, uint16_t code, uint16_t value) { SetShort(ifd, code, std::span(&value, 1)); }
    void SetLong(Ifd ifd, uint16_t code, std::span<const uint32_t> values);
    void SetLong(Ifd ifd, uint16_t code, uint32_t value) { SetLong(ifd, code, std::span(&value, 1)); }
    void SetRational(Ifd ifd, uint16_t code, std::span<const URational> values);
    void SetRational(Ifd ifd, uint16_t code, URational value) { SetRational(ifd, code, std::span(&value, 1)); }
    void SetSRational(Ifd ifd, uint16_t code, std::span<const SRational> values);
    void SetSRational(Ifd ifd, uint16_t code, SRational value) { SetSRational(ifd, code, std::span(&value, 1)); }
    void SetUndefined(Ifd ifd, uint16_t code, std::span<const uint8_t> values);
    void SetFloat(Ifd ifd, uint16_t code, std::span<const float> values);
    void SetDouble(Ifd ifd, uint16_t code, std::span<const double> values);

    // A tag read from another file, written with its code, type and count unchanged; its values
    // are swapped to this file's byte order where the two differ.
    void CopyTag(Ifd ifd, const TiffTag& tag);

    bool HasTag(Ifd ifd, uint16_t code) const;

    // The image data of a directory, as strips (tags 273/279) or tiles (324/325). Replaces any
    // earlier data of the directory. Blocks must not be empty.
    void SetStrips(Ifd ifd, std::vector<std::vector<uint8_t>> strips);
    void SetTiles(Ifd ifd, std::vector<std::vector<uint8_t>> tiles);

    // The finished file. Throws kErrorImageTooBig when it would pass 4 GiB, kErrorBadFormat for a
    // directory without tags. The writer is not changed and can be finished again.
    std::vector<uint8_t> Finish(TiffLayout* layout = nullptr) const;

private:
    enum class Kind : uint8_t { kImage, kExif, kGps };
    enum class DataKind : uint8_t { kNone, kStrips, kTiles };
    struct Tag {
        uint16_t type = 0;
        uint32_t count = 0;
        std::vector<uint8_t> bytes; // in the writer's byte order
    };
    struct Directory {
        Kind kind = Kind::kImage;
        std::map<uint16_t, Tag> tags;
        std::vector<uint32_t> children; // SubIFDs
        DataKind dataKind = DataKind::kNone;
        std::vector<std::vector<uint8_t>> blocks;
    };

    Directory& Dir(Ifd ifd);
    const Directory& Dir(Ifd ifd) const;
    void Put(Ifd ifd, uint16_t code, uint16_t type, uint32_t count, std::vector<uint8_t> bytes);
    void SetData(Ifd ifd, DataKind kind, std::vector<std::vector<uint8_t>> blocks);

    ByteOrder fOrder;
    std::vector<Directory> fDirs;
    int32_t fExif = -1;
    int32_t fGps = -1;
};

} // namespace dng
