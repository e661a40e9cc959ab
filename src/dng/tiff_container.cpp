#include "tiff_container.h"
#include "tag_codes.h"

#include "byte_order.h"
#include "error.h"

#include <algorithm>
#include <deque>
#include <iterator>
#include <limits>
#include <map>
#include <set>
#include <string>

namespace dng {

namespace {


constexpr uint32_t kHeaderSize = 8;
constexpr uint32_t kEntrySize = 12;

// Reads directories one at a time through the stream (never the whole file), keeping the
// running totals that bound what a hostile file can make the parser do.
class DirectoryReader {
public:
    DirectoryReader(const Stream& stream, ByteOrder order)
        : fStream(stream), fOrder(order),
          fMaxTotalBytes(std::min<uint64_t>(TiffContainer::kMaxTagBytesTotal, 4 * stream.Length() + (1u << 20)))
    {
    }

    // True when the offset was not seen before; marks it seen. A pointer back to a directory
    // already read (a loop, or two pointers to one directory) is not followed again.
    bool Claim(uint32_t offset) { return offset != 0 && fVisited.insert(offset).second; }

    // Marks the bytes [start, start + size) as one directory or value block. Blocks of a sound
    // file never share a byte; a file whose blocks overlap is refused.
    void ClaimBytes(uint64_t start, uint64_t size, uint32_t directory)
    {
        const uint64_t end = start + size;
        auto next = fBlocks.lower_bound(start);
        const bool overlaps = (next != fBlocks.end() && next->first < end) ||
                              (next != fBlocks.begin() && std::prev(next)->second > start);
        if (overlaps)
            ThrowBadFormat("the directory at " + std::to_string(directory) + " overlaps another directory or value");
        fBlocks.emplace(start, end);
    }

    TiffDirectory Read(uint32_t offset, TiffDirectory::Kind kind)
    {
        TiffDirectory dir;
        dir.kind = kind;
        dir.offset = offset;

        if (offset < kHeaderSize || !fStream.InRange(offset, 2))
            ThrowBadFormat("directory at " + std::to_string(offset) + " lies outside the file");
        uint8_t countBytes[2];
        fStream.Read(offset, countBytes);
        const uint32_t entries = Get16(countBytes, fOrder);
        if (entries > TiffContainer::kMaxEntriesPerDirectory)
            ThrowBadFormat("directory at " + std::to_string(offset) + " has too many entries");
        const uint64_t first = uint64_t(offset) + 2;
        if (!fStream.InRange(first, uint64_t(entries) * kEntrySize))
            ThrowBadFormat("directory at " + std::to_string(offset) + " runs past the end of the file");
        const std::vector<uint8_t> table = fStream.ReadBytes(first, uint64_t(entries) * kEntrySize);
        ClaimBytes(offset, 2 + uint64_t(entries) * kEntrySize, offset);

        dir.tags.reserve(entries);
        for (uint32_t i = 0; i < entries; ++i) {
            const uint8_t* e = table.data() + uint64_t(i) * kEntrySize;
            TiffTag tag;
            tag.code = Get16(e, fOrder);
            tag.type = Get16(e + 2, fOrder);
            tag.count = Get32(e + 4, fOrder);
            tag.order = fOrder;
            const uint32_t size = TagTypeSize(tag.type);
            if (size == 0)
                continue; // a type this reader cannot size: the entry is skipped
            const uint64_t byteCount = uint64_t(tag.count) * size;
            // Tag data blocks do not overlap in a sound file, so together they cannot be much
            // larger than the file; entries that point many times at one block are refused
            // before they cost memory.
            fTotalBytes += byteCount;
            if (fTotalBytes > fMaxTotalBytes)
                ThrowBadFormat("the tags of the file are impossibly large");
            if (byteCount <= 4) {
                const uint64_t at = first + uint64_t(i) * kEntrySize + 8;
                if (at > std::numeric_limits<uint32_t>::max())
                    ThrowBadFormat("directory entry beyond 4 GiB");
                tag.dataOffset = static_cast<uint32_t>(at);
                tag.bytes.assign(e + 8, e + 8 + byteCount);
            } else {
                tag.dataOffset = Get32(e + 8, fOrder);
                if (!fStream.InRange(tag.dataOffset, byteCount))
                    ThrowBadFormat("the data of tag " + std::to_string(tag.code) + " in the directory at " +
                                   std::to_string(offset) + " lie outside the file");
                ClaimBytes(tag.dataOffset, byteCount, offset);
                tag.bytes = fStream.ReadBytes(tag.dataOffset, byteCount);
            }
            dir.tags.push_back(std::move(tag));
        }
        return dir;
    }

private:
    const Stream& fStream;
    ByteOrder fOrder;
    uint64_t fMaxTotalBytes;
    std::set<uint32_t> fVisited;
    std::map<uint64_t, uint64_t> fBlocks; // start -> end of every directory and value block
    uint64_t fTotalBytes = 0;
};

// The first `limit` directory offsets a pointer tag holds (SubIFDs, EXIF, GPS, interoperability).
// Pointers of a type other than LONG or IFD are not followed; the tag itself stays in its directory.
std::vector<uint32_t> PointerTargets(const TiffDirectory& dir, uint16_t code, size_t limit)
{
    std::vector<uint32_t> targets;
    const TiffTag* tag = dir.Find(code);
    if (!tag || (tag->type != kTypeLong && tag->type != kTypeIfd))
        return targets;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(tag->count, limit));
    targets.reserve(n);
    for (uint32_t i = 0; i < n; ++i)
        targets.push_back(static_cast<uint32_t>(tag->AsUnsigned(i)));
    return targets;
}

} // namespace

const TiffTag* TiffDirectory::Find(uint16_t code) const
{
    for (const TiffTag& tag : tags)
        if (tag.code == code)
            return &tag;
    return nullptr;
}

void TiffContainer::Parse(const Stream& stream)
{
    fOrder = ByteOrder::kLittle;
    fImages.clear();
    fExif = TiffDirectory();
    fGps = TiffDirectory();
    fInterop = TiffDirectory();

    if (stream.Length() < kHeaderSize)
        ThrowBadFormat("the file is too short to be a TIFF file");
    uint8_t header[kHeaderSize];
    stream.Read(0, header);
    ByteOrder order = ByteOrder::kLittle;
    if (header[0] == 'I' && header[1] == 'I')
        order = ByteOrder::kLittle;
    else if (header[0] == 'M' && header[1] == 'M')
        order = ByteOrder::kBig;
    else
        ThrowBadFormat("not a TIFF file (no byte-order mark)");
    const uint16_t magic = Get16(header + 2, order);
    if (magic != 42)
        ThrowBadFormat(magic == 43 ? "BigTIFF files are not DNG files" : "not a TIFF file (bad magic number)");
    const uint32_t ifd0 = Get32(header + 4, order);

    // Everything is built aside and kept only when the whole structure could be read.
    DirectoryReader reader(stream, order);
    std::vector<TiffDirectory> images;
    TiffDirectory exif, gps, interop;
    try {
        struct Pending {
            uint32_t offset;
            int32_t parent;
            uint32_t depth;
        };
        std::deque<Pending> queue;
        if (!reader.Claim(ifd0))
            ThrowBadFormat("the file has no first directory");
        queue.push_back({ifd0, -1, 0});

        while (!queue.empty()) {
            const Pending p = queue.front();
            queue.pop_front();
            TiffDirectory dir = reader.Read(p.offset, TiffDirectory::Kind::kImage);
            dir.parent = p.parent;
            const int32_t index = static_cast<int32_t>(images.size());

            if (index == 0) {
                // The EXIF and GPS directories hang off IFD0. They are read before the SubIFDs
                // so that a SubIFD pointer aimed at one of them cannot claim it as an image.
                for (uint32_t off : PointerTargets(dir, kTagExifIFD, 1)) {
                    if (!reader.Claim(off))
                        continue;
                    exif = reader.Read(off, TiffDirectory::Kind::kExif);
                    for (uint32_t io : PointerTargets(exif, kTagInteropIFD, 1))
                        if (reader.Claim(io))
                            interop = reader.Read(io, TiffDirectory::Kind::kInterop);
                }
                for (uint32_t off : PointerTargets(dir, kTagGpsIFD, 1))
                    if (reader.Claim(off))
                        gps = reader.Read(off, TiffDirectory::Kind::kGps);
            }

            // Directories deeper than kMaxDepth, beyond kMaxDirectories in all, or reached a
            // second time are not read.
            if (p.depth < kMaxDepth) {
                const size_t room = kMaxDirectories - std::min<size_t>(kMaxDirectories, images.size() + 1 + queue.size());
                for (uint32_t off : PointerTargets(dir, kTagSubIFDs, room))
                    if (reader.Claim(off))
                        queue.push_back({off, index, p.depth + 1});
            }
            images.push_back(std::move(dir));
        }
    } catch (const std::bad_alloc&) {
        ThrowMemory("out of memory reading the file's directories");
    } catch (const Error& e) {
        // Running out of file inside the structure is a damaged structure, not a short read.
        if (e.Code() == kErrorEndOfFile)
            ThrowBadFormat(e.what());
        throw;
    }
    fOrder = order;
    fImages = std::move(images);
    fExif = std::move(exif);
    fGps = std::move(gps);
    fInterop = std::move(interop);
}

} // namespace dng
