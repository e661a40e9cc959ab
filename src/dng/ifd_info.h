// What the reader takes from one image directory (IFD) of a DNG: the image layout and, for the
// main raw image, the raw-only DNG tags. Filled by Info::Parse; every tag also stays in the container.
#pragma once

#include "rational.h"
#include "rect.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace dng {

enum : uint32_t {
    kPhotometricBlackIsZero = 1,
    kPhotometricRGB = 2,
    kPhotometricYCbCr = 6,
    kPhotometricCFA = 32803,
    kPhotometricLinearRaw = 34892,
};

enum : uint32_t {
    kCompressionNone = 1,
    kCompressionJPEG = 7,
};

constexpr uint32_t kMaxSamplesPerPixel = 4;
constexpr uint32_t kMaxPatternSize = 8;
constexpr uint32_t kMaxMaskedAreas = 4;

struct IfdInfo {
    uint32_t offset = 0;          // file offset of the directory
    int32_t parent = -1;          // index of the IFD whose SubIFDs list holds this one; -1 for IFD0

    bool hasNewSubFileType = false;
    uint32_t newSubFileType = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t samplesPerPixel = 1;
    std::array<uint32_t, kMaxSamplesPerPixel> bitsPerSample{1, 1, 1, 1};
    uint32_t compression = kCompressionNone;
    uint32_t photometric = 0xFFFFFFFF; // absent
    uint32_t planarConfiguration = 1;
    uint32_t predictor = 1;
    uint32_t sampleFormat = 1;

    // Strips are described as tiles one image wide and RowsPerStrip tall.
    bool usesTiles = false;       // true for TileWidth/TileLength layouts
    uint32_t tileWidth = 0;
    uint32_t tileLength = 0;
    std::vector<uint64_t> tileOffsets;
    std::vector<uint64_t> tileByteCounts;

    // YCbCr (previews only)
    uint32_t yCbCrSubSampleH = 2;
    uint32_t yCbCrSubSampleV = 2;
    uint32_t yCbCrPositioning = 1;

    // Colour filter array (main raw image).
    uint32_t cfaRepeatRows = 0;
    uint32_t cfaRepeatCols = 0;
    std::array<std::array<uint8_t, kMaxPatternSize>, kMaxPatternSize> cfaPattern{};
    std::vector<uint8_t> cfaPlaneColor{0, 1, 2};
    uint32_t cfaLayout = 1;
    uint32_t bayerGreenSplit = 0;

    // Linearization.
    std::vector<uint16_t> linearizationTable;
    uint32_t blackLevelRepeatRows = 1;
    uint32_t blackLevelRepeatCols = 1;
    // [row][col][sample], as stored (rationals kept exactly)
    std::array<std::array<std::array<URational, kMaxSamplesPerPixel>, kMaxPatternSize>, kMaxPatternSize> blackLevel{};
    std::vector<SRational> blackLevelDeltaH;
    std::vector<SRational> blackLevelDeltaV;
    bool hasWhiteLevel = false;
    std::array<uint32_t, kMaxSamplesPerPixel> whiteLevel{};

    Rect activeArea;              // defaults to the whole image
    std::vector<Rect> maskedAreas;

    // Crop and scale, kept exactly.
    URational defaultScaleH{1, 1};
    URational defaultScaleV{1, 1};
    URational bestQualityScale{1, 1};
    bool hasDefaultCrop = false;
    URational defaultCropOriginH{0, 1};
    URational defaultCropOriginV{0, 1};
    URational defaultCropSizeH{0, 1};
    URational defaultCropSizeV{0, 1};

    URational antiAliasStrength{1, 1};
    URational chromaBlurRadius{0, 0};

    // Opcode lists 1 to 3 (bytes as stored, always big-endian).
    std::array<std::vector<uint8_t>, 3> opcodeList;

    // Why the layout or linearization tags of this directory cannot be trusted (a tag of the
    // wrong type or count, a value out of range), or empty. Such a tag leaves its field at the
    // default, so that counts and pattern sizes above never exceed their arrays.
    std::string problem;

    uint64_t TileCount() const { return tileOffsets.size(); }
    uint32_t TilesAcross() const { return tileWidth ? (width + tileWidth - 1) / tileWidth : 0; }
    uint32_t TilesDown() const { return tileLength ? (height + tileLength - 1) / tileLength : 0; }
    bool IsRaw() const { return photometric == kPhotometricCFA || photometric == kPhotometricLinearRaw; }
};

} // namespace dng
