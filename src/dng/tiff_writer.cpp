#include "tiff_writer.h"
#include "tag_codes.h"

#include "error.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

namespace dng {

namespace {

constexpr uint64_t kMaxFileBytes = 0xFFFFFFFFull;

// The unit swapped between byte orders: one value (so BYTE, ASCII and UNDEFINED never change),
// except that a rational is two 32-bit halves, each swapped on its own.
uint32_t SwapUnit(uint16_t type)
{
    return type == kTypeRational || type == kTypeSRational ? 4 : TagTypeSize(type);
}

// Appends an unsigned value of 'size' bytes in the given order.
void Append(std::vector<uint8_t>& out, uint64_t v, uint32_t size, ByteOrder order)
{
    for (uint32_t i = 0; i < size; ++i) {
        const uint32_t shift = order == ByteOrder::kLittle ? 8 * i : 8 * (size - 1 - i);
        out.push_back(static_cast<uint8_t>(v >> shift));
    }
}

void Store(uint8_t* at, uint64_t v, uint32_t size, ByteOrder order)
{
    for (uint32_t i = 0; i < size; ++i) {
        const uint32_t shift = order == ByteOrder::kLittle ? 8 * i : 8 * (size - 1 - i);
        at[i] = static_cast<uint8_t>(v >> shift);
    }
}

uint32_t CountOf(size_t n)
{
    if (n > std::numeric_limits<uint32_t>::max())
        ThrowBadFormat("TIFF writer: too many values for one tag");
    return static_cast<uint32_t>(n);
}

uint64_t PaddedSize(uint64_t size) { return size + (size & 1); }

} // namespace

bool TiffWriter::IsWriterOwned(uint16_t code)
{
    switch (code) {
    case kTagStripOffsets:
    case kTagStripByteCounts:
    case kTagTileOffsets:
    case kTagTileByteCounts:
    case kTagSubIFDs:
    case kTagExifIFD:
    case kTagGpsIFD:
        return true;
    default:
        return false;
    }
}

const TiffLayout::Entry* TiffLayout::Directory::Find(uint16_t code) const
{
    for (const Entry& e : entries)
        if (e.code == code)
            return &e;
    return nullptr;
}

TiffWriter::TiffWriter(ByteOrder order) : fOrder(order)
{
    fDirs.emplace_back(); // IFD0
}

TiffWriter::Directory& TiffWriter::Dir(Ifd ifd)
{
    if (ifd.index >= fDirs.size())
        ThrowBadFormat("TIFF writer: unknown directory " + std::to_string(ifd.index));
    return fDirs[ifd.index];
}

const TiffWriter::Directory& TiffWriter::Dir(Ifd ifd) const
{
    if (ifd.index >= fDirs.size())
        ThrowBadFormat("TIFF writer: unknown directory " + std::to_string(ifd.index));
    return fDirs[ifd.index];
}

TiffWriter::Ifd TiffWriter::AddSubIfd(Ifd parent)
{
    if (Dir(parent).kind != Kind::kImage)
        ThrowBadFormat("TIFF writer: SubIFDs belong to image directories only");
    const auto index = static_cast<uint32_t>(fDirs.size());
    fDirs.emplace_back();
    fDirs[parent.index].children.push_back(index);
    return Ifd{index};
}

TiffWriter::Ifd TiffWriter::ExifIfd()
{
    if (fExif < 0) {
        fExif = static_cast<int32_t>(fDirs.size());
        fDirs.emplace_back().kind = Kind::kExif;
    }
    return Ifd{static_cast<uint32_t>(fExif)};
}

TiffWriter::Ifd TiffWriter::GpsIfd()
{
    if (fGps < 0) {
        fGps = static_cast<int32_t>(fDirs.size());
        fDirs.emplace_back().kind = Kind::kGps;
    }
    return Ifd{static_cast<uint32_t>(fGps)};
}

void TiffWriter::Put(Ifd ifd, uint16_t code, uint16_t type, uint32_t count, std::vector<uint8_t> bytes)
{
    Directory& dir = Dir(ifd);
    if (IsWriterOwned(code))
        ThrowBadFormat("TIFF writer: tag " + std::to_string(code) + " is written by the writer itself");
    dir.tags[code] = Tag{type, count, std::move(bytes)};
}

void TiffWriter::SetByte(Ifd ifd, uint16_t code, std::span<const uint8_t> values)
{
    Put(ifd, code, kTypeByte, CountOf(values.size()), {values.begin(), values.end()});
}

void TiffWriter::SetUndefined(Ifd ifd, uint16_t code, std::span<const uint8_t> values)
{
    Put(ifd, code, kTypeUndefined, CountOf(values.size()), {values.begin(), values.end()});
}

void TiffWriter::SetAscii(Ifd ifd, uint16_t code, std::string_view text)
{
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    const uint32_t count = CountOf(bytes.size());
    Put(ifd, code, kTypeAscii, count, std::move(bytes));
}

void TiffWriter::SetShort(Ifd ifd, uint16_t code, std::span<const uint16_t> values)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(values.size() * 2);
    for (uint16_t v : values)
        Append(bytes, v, 2, fOrder);
    Put(ifd, code, kTypeShort, CountOf(values.size()), std::move(bytes));
}

void TiffWriter::SetLong(Ifd ifd, uint16_t code, std::span<const uint32_t> values)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(values.size() * 4);
    for (uint32_t v : values)
        Append(bytes, v, 4, fOrder);
    Put(ifd, code, kTypeLong, CountOf(values.size()), std::move(bytes));
}

void TiffWriter::SetRational(Ifd ifd, uint16_t code, std::span<const URational> values)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(values.size() * 8);
    for (const URational& v : values) {
        Append(bytes, v.n, 4, fOrder);
        Append(bytes, v.d, 4, fOrder);
    }
    Put(ifd, code, kTypeRational, CountOf(values.size()), std::move(bytes));
}

void TiffWriter::SetSRational(Ifd ifd, uint16_t code, std::span<const SRational> values)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(values.size() * 8);
    for (const SRational& v : values) {
        Append(bytes, static_cast<uint32_t>(v.n), 4, fOrder);
        Append(bytes, static_cast<uint32_t>(v.d), 4, fOrder);
    }
    Put(ifd, code, kTypeSRational, CountOf(values.size()), std::move(bytes));
}

void TiffWriter::SetFloat(Ifd ifd, uint16_t code, std::span<const float> values)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(values.size() * 4);
    for (float v : values)
        Append(bytes, std::bit_cast<uint32_t>(v), 4, fOrder);
    Put(ifd, code, kTypeFloat, CountOf(values.size()), std::move(bytes));
}

void TiffWriter::SetDouble(Ifd ifd, uint16_t code, std::span<const double> values)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(values.size() * 8);
    for (double v : values)
        Append(bytes, std::bit_cast<uint64_t>(v), 8, fOrder);
    Put(ifd, code, kTypeDouble, CountOf(values.size()), std::move(bytes));
}

void TiffWriter::CopyTag(Ifd ifd, const TiffTag& tag)
{
    const uint32_t size = TagTypeSize(tag.type);
    if (size == 0)
        ThrowBadFormat("TIFF writer: tag " + std::to_string(tag.code) + " has unknown type " +
                       std::to_string(tag.type));
    if (static_cast<uint64_t>(tag.count) * size != tag.bytes.size())
        ThrowBadFormat("TIFF writer: tag " + std::to_string(tag.code) + " holds " +
                       std::to_string(tag.bytes.size()) + " bytes for " + std::to_string(tag.count) +
                       " values");
    std::vector<uint8_t> bytes = tag.bytes;
    const uint32_t unit = SwapUnit(tag.type);
    if (tag.order != fOrder && unit > 1)
        for (size_t i = 0; i < bytes.size(); i += unit)
            std::reverse(bytes.begin() + static_cast<ptrdiff_t>(i), bytes.begin() + static_cast<ptrdiff_t>(i + unit));
    Put(ifd, tag.code, tag.type, tag.count, std::move(bytes));
}

bool TiffWriter::HasTag(Ifd ifd, uint16_t code) const
{
    return Dir(ifd).tags.contains(code);
}

void TiffWriter::SetData(Ifd ifd, DataKind kind, std::vector<std::vector<uint8_t>> blocks)
{
    Directory& dir = Dir(ifd);
    if (dir.kind != Kind::kImage)
        ThrowBadFormat("TIFF writer: image data belongs to image directories only");
    if (blocks.empty())
        ThrowBadFormat("TIFF writer: an image needs at least one strip or tile");
    for (const auto& b : blocks) {
        if (b.empty())
            ThrowBadFormat("TIFF writer: empty strip or tile");
        if (b.size() > kMaxFileBytes)
            throw Error(kErrorImageTooBig, "TIFF writer: strip or tile larger than 4 GiB");
    }
    CountOf(blocks.size());
    dir.dataKind = kind;
    dir.blocks = std::move(blocks);
}

void TiffWriter::SetStrips(Ifd ifd, std::vector<std::vector<uint8_t>> strips)
{
    SetData(ifd, DataKind::kStrips, std::move(strips));
}

void TiffWriter::SetTiles(Ifd ifd, std::vector<std::vector<uint8_t>> tiles)
{
    SetData(ifd, DataKind::kTiles, std::move(tiles));
}

std::vector<uint8_t> TiffWriter::Finish(TiffLayout* layoutOut) const
{
    // The order directories are written in: IFD0, EXIF, GPS, then the SubIFD tree depth-first.
    std::vector<uint32_t> order{0};
    if (fExif >= 0)
        order.push_back(static_cast<uint32_t>(fExif));
    if (fGps >= 0)
        order.push_back(static_cast<uint32_t>(fGps));
    {
        std::vector<uint32_t> stack(fDirs[0].children.rbegin(), fDirs[0].children.rend());
        while (!stack.empty()) {
            const uint32_t d = stack.back();
            stack.pop_back();
            order.push_back(d);
            stack.insert(stack.end(), fDirs[d].children.rbegin(), fDirs[d].children.rend());
        }
    }

    // Every directory's full tag set, including the tags the writer owns (values filled below).
    std::vector<std::map<uint16_t, Tag>> tags(fDirs.size());
    for (uint32_t d = 0; d < fDirs.size(); ++d) {
        const Directory& dir = fDirs[d];
        tags[d] = dir.tags;
        auto addLongs = [&](uint16_t code, size_t n) {
            tags[d][code] = Tag{kTypeLong, CountOf(n), std::vector<uint8_t>(n * 4)};
        };
        if (!dir.children.empty())
            addLongs(kTagSubIFDs, dir.children.size());
        if (d == 0 && fExif >= 0)
            addLongs(kTagExifIFD, 1);
        if (d == 0 && fGps >= 0)
            addLongs(kTagGpsIFD, 1);
        if (dir.dataKind == DataKind::kStrips) {
            addLongs(kTagStripOffsets, dir.blocks.size());
            addLongs(kTagStripByteCounts, dir.blocks.size());
        } else if (dir.dataKind == DataKind::kTiles) {
            addLongs(kTagTileOffsets, dir.blocks.size());
            addLongs(kTagTileByteCounts, dir.blocks.size());
        }
        if (tags[d].empty())
            ThrowBadFormat("TIFF writer: directory " + std::to_string(d) + " has no tags");
        if (tags[d].size() > std::numeric_limits<uint16_t>::max())
            ThrowBadFormat("TIFF writer: too many tags in one directory");
    }

    // Place directories with their out-of-line values, then the image data, all on even offsets.
    // Offsets are narrowed to 32 bits as they are placed; a file that passes 4 GiB is refused
    // below, before any of them is used.
    TiffLayout layout;
    layout.directories.resize(fDirs.size());
    uint64_t offset = 8;
    for (uint32_t d : order) {
        TiffLayout::Directory& ld = layout.directories[d];
        ld.offset = static_cast<uint32_t>(offset);
        const uint64_t entriesStart = offset + 2;
        offset += 2 + 12ull * tags[d].size();
        ld.nextPointerOffset = static_cast<uint32_t>(offset);
        offset += 4;
        uint32_t i = 0;
        for (const auto& [code, tag] : tags[d]) {
            TiffLayout::Entry e{code, tag.type, tag.count, 0, 0};
            const uint64_t entryOffset = entriesStart + 12ull * i++;
            e.entryOffset = static_cast<uint32_t>(entryOffset);
            if (tag.bytes.size() <= 4) {
                e.valueOffset = static_cast<uint32_t>(entryOffset + 8);
            } else {
                e.valueOffset = static_cast<uint32_t>(offset);
                offset += PaddedSize(tag.bytes.size());
            }
            ld.entries.push_back(e);
        }
    }
    for (uint32_t d : order) {
        for (const auto& block : fDirs[d].blocks) {
            layout.directories[d].blocks.push_back(
                {static_cast<uint32_t>(offset), static_cast<uint32_t>(block.size())});
            offset += PaddedSize(block.size());
        }
    }
    if (offset > kMaxFileBytes)
        throw Error(kErrorImageTooBig, "TIFF writer: the file would be larger than 4 GiB");

    // Fill the offsets the writer owns.
    for (uint32_t d = 0; d < fDirs.size(); ++d) {
        auto fill = [&](uint16_t code, auto valueOf) {
            Tag& t = tags[d].at(code);
            for (uint32_t i = 0; i < t.count; ++i)
                Store(t.bytes.data() + 4 * i, valueOf(i), 4, fOrder);
        };
        const Directory& dir = fDirs[d];
        const auto& blocks = layout.directories[d].blocks;
        if (!dir.children.empty())
            fill(kTagSubIFDs, [&](uint32_t i) { return layout.directories[dir.children[i]].offset; });
        if (d == 0 && fExif >= 0)
            fill(kTagExifIFD, [&](uint32_t) { return layout.directories[static_cast<uint32_t>(fExif)].offset; });
        if (d == 0 && fGps >= 0)
            fill(kTagGpsIFD, [&](uint32_t) { return layout.directories[static_cast<uint32_t>(fGps)].offset; });
        if (dir.dataKind != DataKind::kNone) {
            const bool strips = dir.dataKind == DataKind::kStrips;
            fill(strips ? kTagStripOffsets : kTagTileOffsets, [&](uint32_t i) { return blocks[i].offset; });
            fill(strips ? kTagStripByteCounts : kTagTileByteCounts, [&](uint32_t i) { return blocks[i].size; });
        }
    }

    std::vector<uint8_t> out(static_cast<size_t>(offset), 0);
    out[0] = out[1] = fOrder == ByteOrder::kLittle ? 'I' : 'M';
    Store(&out[2], 42, 2, fOrder);
    Store(&out[4], layout.directories[0].offset, 4, fOrder);
    for (uint32_t d : order) {
        const TiffLayout::Directory& ld = layout.directories[d];
        Store(&out[ld.offset], tags[d].size(), 2, fOrder);
        size_t i = 0;
        for (const auto& [code, tag] : tags[d]) {
            const TiffLayout::Entry& e = ld.entries[i++];
            uint8_t* entry = &out[e.entryOffset];
            Store(entry, code, 2, fOrder);
            Store(entry + 2, tag.type, 2, fOrder);
            Store(entry + 4, tag.count, 4, fOrder);
            if (tag.bytes.size() > 4)
                Store(entry + 8, e.valueOffset, 4, fOrder);
            if (!tag.bytes.empty())
                std::memcpy(&out[e.valueOffset], tag.bytes.data(), tag.bytes.size());
        }
        // The next-IFD pointer stays 0: DNG files form a tree through SubIFDs, not chains.
        for (size_t b = 0; b < ld.blocks.size(); ++b)
            std::memcpy(&out[ld.blocks[b].offset], fDirs[d].blocks[b].data(), ld.blocks[b].size);
    }
    if (layoutOut)
        *layoutOut = std::move(layout);
    return out;
}

} // namespace dng
