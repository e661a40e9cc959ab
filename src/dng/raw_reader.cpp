#include "raw_reader.h"

#include "error.h"
#include "lossless_jpeg.h"

#include <algorithm>
#include <string>
#include <vector>

namespace dng {

namespace {

// One tile (or strip) of decoded samples, pixel-interleaved, to be copied into the image.
struct TileSamples {
    std::vector<uint16_t> samples;
    uint32_t width = 0;  // samples per row / spp
    uint32_t rows = 0;
};

void CheckLayout(const IfdInfo& ifd)
{
    if (ifd.width < 1 || ifd.height < 1 || ifd.width > uint32_t(Image::kMaxSide) || ifd.height > uint32_t(Image::kMaxSide))
        ThrowBadFormat("raw image size out of range");
    if (ifd.samplesPerPixel < 1 || ifd.samplesPerPixel > kMaxSamplesPerPixel)
        ThrowBadFormat("unsupported samples per pixel");
    if (ifd.planarConfiguration != 1)
        ThrowBadFormat("planar raw data is not supported");
    const uint32_t bps = ifd.bitsPerSample[0];
    for (uint32_t s = 1; s < ifd.samplesPerPixel; ++s)
        if (ifd.bitsPerSample[s] != bps)
            ThrowBadFormat("unequal bits per sample");
    if (bps < 8 || bps > 16)
        ThrowBadFormat("raw data of " + std::to_string(bps) + " bits per sample are not supported");
    if (ifd.compression != kCompressionNone && ifd.compression != kCompressionJPEG)
        ThrowBadFormat("raw compression " + std::to_string(ifd.compression) + " is not supported");
    if (ifd.sampleFormat != 1)
        ThrowBadFormat("only unsigned integer raw data are supported");
    if (ifd.tileWidth < 1 || ifd.tileLength < 1 || ifd.tileWidth > uint32_t(Image::kMaxSide) ||
        ifd.tileLength > uint32_t(Image::kMaxSide))
        ThrowBadFormat("bad tile size");
    const uint64_t expected = uint64_t(ifd.TilesAcross()) * ifd.TilesDown();
    if (ifd.tileOffsets.size() != expected || ifd.tileByteCounts.size() != expected)
        ThrowBadFormat("tile or strip count does not match the image");
}

// Unpacks an uncompressed tile: rows of ceil(width * spp * bps / 8) bytes.
void UnpackUncompressed(const std::vector<uint8_t>& bytes, uint32_t bps, ByteOrder order, TileSamples& tile, uint32_t spp)
{
    const uint64_t rowSamples = uint64_t(tile.width) * spp;
    const uint64_t rowBytes = (rowSamples * bps + 7) / 8;
    if (uint64_t(bytes.size()) < rowBytes * tile.rows)
        ThrowBadFormat("raw strip or tile holds fewer bytes than its pixels need");
    tile.samples.resize(static_cast<size_t>(rowSamples * tile.rows));
    uint16_t* out = tile.samples.data();
    for (uint32_t r = 0; r < tile.rows; ++r) {
        const uint8_t* src = bytes.data() + r * rowBytes;
        if (bps == 8) {
            for (uint64_t i = 0; i < rowSamples; ++i)
                *out++ = src[i];
        } else if (bps == 16) {
            if (order == ByteOrder::kLittle)
                for (uint64_t i = 0; i < rowSamples; ++i)
                    *out++ = static_cast<uint16_t>(src[2 * i] | (src[2 * i + 1] << 8));
            else
                for (uint64_t i = 0; i < rowSamples; ++i)
                    *out++ = static_cast<uint16_t>((src[2 * i] << 8) | src[2 * i + 1]);
        } else {
            // Packed most significant bit first, whatever the byte order.
            uint32_t acc = 0;
            uint32_t bits = 0;
            const uint8_t* p = src;
            const uint32_t mask = (1u << bps) - 1;
            for (uint64_t i = 0; i < rowSamples; ++i) {
                while (bits < bps) {
                    acc = (acc << 8) | *p++;
                    bits += 8;
                }
                bits -= bps;
                *out++ = static_cast<uint16_t>((acc >> bits) & mask);
            }
        }
    }
}

void DecodeJpegTile(const std::vector<uint8_t>& bytes, const IfdInfo& ifd, uint32_t storedRows, bool bugCompat16,
                    TileSamples& tile)
{
    const LosslessJpegFrame frame = ReadLosslessJpegFrame(bytes);
    const uint64_t total = uint64_t(frame.width) * frame.height * frame.components;
    const uint64_t perRow = uint64_t(tile.width) * ifd.samplesPerPixel;
    // A tile's frame covers the whole padded tile; a strip's frame its own rows (some writers
    // encode the last strip at full height, which is accepted too).
    if (total == perRow * tile.rows) {
    } else if (total == perRow * storedRows && storedRows >= tile.rows) {
    } else {
        ThrowBadFormat("lossless JPEG frame does not match its tile");
    }
    tile.samples.resize(static_cast<size_t>(total));
    DecodeLosslessJpeg(bytes, tile.samples, bugCompat16);
}

// Every strip or tile must lie inside the file and hold enough bytes for its samples before
// the image is allocated, so that a small damaged file cannot ask for gigabytes.
void CheckDataRanges(const Stream& stream, const IfdInfo& ifd)
{
    const uint32_t bps = ifd.bitsPerSample[0];
    const uint32_t across = ifd.TilesAcross();
    for (uint64_t t = 0; t < ifd.TileCount(); ++t) {
        const uint64_t offset = ifd.tileOffsets[t];
        const uint64_t count = ifd.tileByteCounts[t];
        if (count == 0 || !stream.InRange(offset, count))
            ThrowBadFormat("raw strip or tile lies outside the file");
        const uint32_t top = uint32_t(t / across) * ifd.tileLength;
        if (top >= ifd.height)
            ThrowBadFormat("raw tile below the image");
        const uint64_t rows = ifd.usesTiles ? ifd.tileLength : std::min(ifd.tileLength, ifd.height - top);
        const uint64_t samples = rows * ifd.tileWidth * ifd.samplesPerPixel;
        if (ifd.compression == kCompressionNone) {
            if (count < rows * ((uint64_t(ifd.tileWidth) * ifd.samplesPerPixel * bps + 7) / 8))
                ThrowBadFormat("raw strip or tile holds fewer bytes than its pixels need");
        } else if (samples > count * 8 + 1024) {
            // Lossless JPEG spends at least one bit on every sample.
            ThrowBadFormat("compressed raw tile too small for its pixels");
        }
    }
}

} // namespace

std::unique_ptr<Image> ReadRawImage(Host& host, const Stream& stream, const IfdInfo& ifd, const RawReadOptions& options)
{
    CheckLayout(ifd);
    const uint32_t spp = ifd.samplesPerPixel;
    const uint32_t bps = ifd.bitsPerSample[0];
    CheckDataRanges(stream, ifd);
    const PixelType type = bps <= 8 ? PixelType::kUInt8 : PixelType::kUInt16;
    // The tiles (or strips) cover the image, and every visible sample of each is copied below.
    auto image = host.Make_dng_image(int32_t(ifd.width), int32_t(ifd.height), spp, type, ImageFill::kUnset);

    const uint32_t across = ifd.TilesAcross();
    const uint32_t maxValue = type == PixelType::kUInt8 ? 0xFFu : 0xFFFFu;
    std::vector<uint8_t> bytes;
    TileSamples tile;
    for (uint64_t t = 0; t < ifd.TileCount(); ++t) {
        const uint32_t tileRow = uint32_t(t / across);
        const uint32_t tileCol = uint32_t(t % across);
        const uint32_t top = tileRow * ifd.tileLength;
        const uint32_t left = tileCol * ifd.tileWidth;
        const uint32_t visibleRows = std::min(ifd.tileLength, ifd.height - top);
        const uint32_t visibleCols = std::min(ifd.tileWidth, ifd.width - left);

        // Tiles are stored at full size, padding included; a strip holds only its own rows.
        tile.width = ifd.tileWidth;
        tile.rows = ifd.usesTiles ? ifd.tileLength : visibleRows;

        const uint64_t offset = ifd.tileOffsets[t];
        const uint64_t count = ifd.tileByteCounts[t];
        bytes.resize(static_cast<size_t>(count));
        stream.Read(offset, bytes);

        if (ifd.compression == kCompressionJPEG)
            DecodeJpegTile(bytes, ifd, ifd.tileLength, options.bugCompat16, tile);
        else
            UnpackUncompressed(bytes, bps, options.order, tile, spp);

        // Copy the visible part into the planes.
        for (uint32_t r = 0; r < visibleRows; ++r) {
            const uint16_t* src = tile.samples.data() + size_t(r) * tile.width * spp;
            for (uint32_t s = 0; s < spp; ++s) {
                if (type == PixelType::kUInt16) {
                    uint16_t* dst = image->Row16(int32_t(top + r), s) + left;
                    for (uint32_t c = 0; c < visibleCols; ++c)
                        dst[c] = src[c * spp + s];
                } else {
                    uint8_t* dst = image->Row8(int32_t(top + r), s) + left;
                    for (uint32_t c = 0; c < visibleCols; ++c)
                        dst[c] = static_cast<uint8_t>(std::min<uint32_t>(src[c * spp + s], maxValue));
                }
            }
        }
        host.KeepAlive();
    }
    return image;
}

} // namespace dng
