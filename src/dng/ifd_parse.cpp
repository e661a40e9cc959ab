// The fields of one image directory: layout, strips or tiles, mosaic, linearization, crop and
// scale, opcode lists. A tag that is present but malformed leaves its field at the default;
// when it describes the layout or the pixel values it also marks the directory as unusable.
#include "info.h"
#include "tag_codes.h"

#include "error.h"

#include <algorithm>
#include <limits>
#include <string>

namespace dng {

namespace {


constexpr uint32_t Bit(uint16_t type) { return 1u << type; }
constexpr uint32_t kShortOrLong = Bit(kTypeShort) | Bit(kTypeLong);
constexpr uint32_t kShortLongOrRational = kShortOrLong | Bit(kTypeRational);
constexpr uint32_t kByteLike = Bit(kTypeByte) | Bit(kTypeUndefined);
constexpr uint32_t kAnyRational = Bit(kTypeRational) | Bit(kTypeSRational);

constexpr uint32_t kMaxLinearizationEntries = 65536;
constexpr int64_t kMaxCoordinate = std::numeric_limits<int32_t>::max();

// Looks tags up in one directory and records the first problem of the directory.
class Fields {
public:
    Fields(const TiffDirectory& dir, IfdInfo& ifd) : fDir(dir), fIfd(ifd) {}

    // The first copy of a tag when it is present with one of `types` and a count within
    // [minCount, maxCount]; otherwise null. With `strict`, a tag present in another form is a
    // problem of the directory; without, it is just ignored.
    const TiffTag* Get(uint16_t code, const char* name, uint32_t types, uint64_t minCount, uint64_t maxCount,
                       bool strict = true)
    {
        const TiffTag* tag = fDir.Find(code);
        if (!tag)
            return nullptr;
        const bool typeOk = tag->type < 32 && (types & Bit(tag->type)) != 0;
        if (!typeOk || tag->count < minCount || tag->count > maxCount) {
            if (strict)
                Fail(std::string(name) + " has the wrong type or count");
            return nullptr;
        }
        return tag;
    }

    // A single unsigned SHORT or LONG value, or `fallback` when absent (or malformed).
    uint32_t Unsigned(uint16_t code, const char* name, uint32_t fallback, bool strict = true)
    {
        const TiffTag* tag = Get(code, name, kShortOrLong, 1, 1, strict);
        return tag ? static_cast<uint32_t>(tag->AsUnsigned(0)) : fallback;
    }

    bool Has(uint16_t code) const { return fDir.Find(code) != nullptr; }

    void Fail(const std::string& why)
    {
        if (fIfd.problem.empty())
            fIfd.problem = why;
    }

private:
    const TiffDirectory& fDir;
    IfdInfo& fIfd;
};

// spp values that must all be equal (BitsPerSample, SampleFormat); a single value stands for all.
void ReadPerSample(Fields& f, uint16_t code, const char* name, uint32_t spp, uint32_t& first,
                   std::array<uint32_t, kMaxSamplesPerPixel>* each)
{
    const TiffTag* tag = f.Get(code, name, kShortOrLong, spp, spp);
    if (!tag)
        return;
    first = static_cast<uint32_t>(tag->AsUnsigned(0));
    for (uint32_t s = 0; s < spp; ++s) {
        const uint32_t v = static_cast<uint32_t>(tag->AsUnsigned(s));
        if (v != first)
            f.Fail(std::string(name) + " differs between samples");
        if (each)
            (*each)[s] = v;
    }
}

std::vector<uint64_t> ReadOffsets(const TiffTag* tag)
{
    std::vector<uint64_t> values;
    if (!tag)
        return values;
    values.reserve(tag->count);
    for (uint32_t i = 0; i < tag->count; ++i)
        values.push_back(tag->AsUnsigned(i));
    return values;
}

void ParseLayout(Fields& f, IfdInfo& ifd)
{
    if (const TiffTag* t = f.Get(kTagNewSubFileType, "NewSubFileType", kShortOrLong, 1, 1)) {
        ifd.hasNewSubFileType = true;
        ifd.newSubFileType = static_cast<uint32_t>(t->AsUnsigned(0));
    }
    ifd.width = f.Unsigned(kTagImageWidth, "ImageWidth", 0);
    ifd.height = f.Unsigned(kTagImageLength, "ImageLength", 0);

    const uint32_t spp = f.Unsigned(kTagSamplesPerPixel, "SamplesPerPixel", 1);
    if (spp >= 1 && spp <= kMaxSamplesPerPixel)
        ifd.samplesPerPixel = spp;
    else
        f.Fail("SamplesPerPixel " + std::to_string(spp) + " is out of range");

    // BitsPerSample defaults to 1 for every sample, as the TIFF default says.
    uint32_t bits = 1;
    ReadPerSample(f, kTagBitsPerSample, "BitsPerSample", ifd.samplesPerPixel, bits, &ifd.bitsPerSample);
    uint32_t format = 1;
    ReadPerSample(f, kTagSampleFormat, "SampleFormat", ifd.samplesPerPixel, format, nullptr);
    ifd.sampleFormat = format;

    ifd.compression = f.Unsigned(kTagCompression, "Compression", kCompressionNone);
    ifd.photometric = f.Unsigned(kTagPhotometric, "PhotometricInterpretation", 0xFFFFFFFF);
    ifd.planarConfiguration = f.Unsigned(kTagPlanarConfiguration, "PlanarConfiguration", 1);
    ifd.predictor = f.Unsigned(kTagPredictor, "Predictor", 1);

    if (const TiffTag* t = f.Get(kTagYCbCrSubSampling, "YCbCrSubSampling", kShortOrLong, 2, 2)) {
        ifd.yCbCrSubSampleH = static_cast<uint32_t>(t->AsUnsigned(0));
        ifd.yCbCrSubSampleV = static_cast<uint32_t>(t->AsUnsigned(1));
    }
    ifd.yCbCrPositioning = f.Unsigned(kTagYCbCrPositioning, "YCbCrPositioning", 1);

    // Tiles, or strips seen as tiles one image wide and RowsPerStrip tall. The offset and count
    // arrays are kept as stored; whether they cover the grid is judged by the validity rule.
    const uint64_t maxCount = std::numeric_limits<uint32_t>::max();
    if (f.Has(kTagTileWidth) || f.Has(kTagTileLength) || f.Has(kTagTileOffsets)) {
        ifd.usesTiles = true;
        ifd.tileWidth = f.Unsigned(kTagTileWidth, "TileWidth", 0);
        ifd.tileLength = f.Unsigned(kTagTileLength, "TileLength", 0);
        ifd.tileOffsets = ReadOffsets(f.Get(kTagTileOffsets, "TileOffsets", kShortOrLong, 1, maxCount));
        ifd.tileByteCounts = ReadOffsets(f.Get(kTagTileByteCounts, "TileByteCounts", kShortOrLong, 1, maxCount));
        if (f.Has(kTagStripOffsets))
            f.Fail("the directory has both strips and tiles");
    } else {
        const uint32_t rows = f.Unsigned(kTagRowsPerStrip, "RowsPerStrip", std::numeric_limits<uint32_t>::max());
        if (rows == 0)
            f.Fail("RowsPerStrip is 0");
        ifd.tileWidth = ifd.width;
        ifd.tileLength = std::min(rows, ifd.height);
        ifd.tileOffsets = ReadOffsets(f.Get(kTagStripOffsets, "StripOffsets", kShortOrLong, 1, maxCount));
        ifd.tileByteCounts = ReadOffsets(f.Get(kTagStripByteCounts, "StripByteCounts", kShortOrLong, 1, maxCount));
    }
}

void ParseMosaic(Fields& f, IfdInfo& ifd)
{
    const TiffTag* dim = f.Get(kTagCFARepeatPatternDim, "CFARepeatPatternDim", kShortOrLong, 2, 2);
    const TiffTag* pattern = f.Get(kTagCFAPattern, "CFAPattern", kByteLike, 1, kMaxPatternSize * kMaxPatternSize);
    if (dim) {
        const uint64_t rows = dim->AsUnsigned(0);
        const uint64_t cols = dim->AsUnsigned(1);
        if (rows < 1 || rows > kMaxPatternSize || cols < 1 || cols > kMaxPatternSize) {
            f.Fail("CFARepeatPatternDim is out of range");
        } else if (!pattern || pattern->count != rows * cols) {
            f.Fail("CFAPattern does not match CFARepeatPatternDim");
        } else {
            ifd.cfaRepeatRows = static_cast<uint32_t>(rows);
            ifd.cfaRepeatCols = static_cast<uint32_t>(cols);
            for (uint32_t r = 0; r < rows; ++r)
                for (uint32_t c = 0; c < cols; ++c)
                    ifd.cfaPattern[r][c] = pattern->bytes[r * cols + c];
        }
    } else if (pattern) {
        f.Fail("CFAPattern without CFARepeatPatternDim");
    }

    if (const TiffTag* t = f.Get(kTagCFAPlaneColor, "CFAPlaneColor", kByteLike, 1, kMaxSamplesPerPixel))
        ifd.cfaPlaneColor.assign(t->bytes.begin(), t->bytes.end());
    ifd.cfaLayout = f.Unsigned(kTagCFALayout, "CFALayout", 1);
    ifd.bayerGreenSplit = f.Unsigned(kTagBayerGreenSplit, "BayerGreenSplit", 0, false);
}

void ParseLinearization(Fields& f, IfdInfo& ifd)
{
    const uint32_t spp = ifd.samplesPerPixel;
    for (auto& row : ifd.blackLevel)
        for (auto& cell : row)
            cell.fill(URational(0, 1));

    if (const TiffTag* t = f.Get(kTagLinearizationTable, "LinearizationTable", kShortOrLong, 2,
                                 kMaxLinearizationEntries)) {
        ifd.linearizationTable.resize(t->count);
        for (uint32_t i = 0; i < t->count; ++i) {
            const uint64_t v = t->AsUnsigned(i);
            if (v > 0xFFFF) {
                f.Fail("LinearizationTable value out of range");
                ifd.linearizationTable.clear();
                break;
            }
            ifd.linearizationTable[i] = static_cast<uint16_t>(v);
        }
    }

    if (const TiffTag* t = f.Get(kTagBlackLevelRepeatDim, "BlackLevelRepeatDim", kShortOrLong, 2, 2)) {
        const uint64_t rows = t->AsUnsigned(0);
        const uint64_t cols = t->AsUnsigned(1);
        if (rows < 1 || rows > kMaxPatternSize || cols < 1 || cols > kMaxPatternSize) {
            f.Fail("BlackLevelRepeatDim is out of range");
        } else {
            ifd.blackLevelRepeatRows = static_cast<uint32_t>(rows);
            ifd.blackLevelRepeatCols = static_cast<uint32_t>(cols);
        }
    }
    const uint32_t rows = ifd.blackLevelRepeatRows;
    const uint32_t cols = ifd.blackLevelRepeatCols;
    const uint32_t blackCount = rows * cols * spp;
    if (const TiffTag* t = f.Get(kTagBlackLevel, "BlackLevel", kShortLongOrRational, blackCount, blackCount)) {
        for (uint32_t r = 0; r < rows; ++r)
            for (uint32_t c = 0; c < cols; ++c)
                for (uint32_t s = 0; s < spp; ++s)
                    ifd.blackLevel[r][c][s] = t->AsURational((r * cols + c) * spp + s);
    }

    for (uint32_t s = 0; s < kMaxSamplesPerPixel; ++s) {
        const uint32_t bits = std::min<uint32_t>(ifd.bitsPerSample[s], 32);
        ifd.whiteLevel[s] = static_cast<uint32_t>((uint64_t(1) << bits) - 1);
    }
    if (const TiffTag* t = f.Get(kTagWhiteLevel, "WhiteLevel", kShortOrLong, spp, spp)) {
        ifd.hasWhiteLevel = true;
        for (uint32_t s = 0; s < spp; ++s)
            ifd.whiteLevel[s] = static_cast<uint32_t>(t->AsUnsigned(s));
    }

    ifd.activeArea = Rect(static_cast<int32_t>(std::min<int64_t>(ifd.height, kMaxCoordinate)),
                          static_cast<int32_t>(std::min<int64_t>(ifd.width, kMaxCoordinate)));
    if (const TiffTag* t = f.Get(kTagActiveArea, "ActiveArea", kShortOrLong, 4, 4)) {
        int32_t v[4];
        bool ok = true;
        for (uint32_t i = 0; i < 4; ++i) {
            const uint64_t x = t->AsUnsigned(i);
            ok = ok && x <= uint64_t(kMaxCoordinate);
            v[i] = static_cast<int32_t>(std::min<uint64_t>(x, kMaxCoordinate));
        }
        if (ok)
            ifd.activeArea = Rect(v[0], v[1], v[2], v[3]);
        else
            f.Fail("ActiveArea is out of range");
    }

    if (const TiffTag* t = f.Get(kTagMaskedAreas, "MaskedAreas", kShortOrLong, 0, 4 * kMaxMaskedAreas)) {
        if (t->count % 4 != 0) {
            f.Fail("MaskedAreas is not a list of rectangles");
        } else {
            for (uint32_t i = 0; i < t->count; i += 4) {
                int32_t v[4];
                for (uint32_t k = 0; k < 4; ++k)
                    v[k] = static_cast<int32_t>(std::min<uint64_t>(t->AsUnsigned(i + k), kMaxCoordinate));
                ifd.maskedAreas.emplace_back(v[0], v[1], v[2], v[3]);
            }
        }
    }

    // One delta per active-area column (DeltaH) or row (DeltaV).
    const uint64_t activeW = static_cast<uint64_t>(ifd.activeArea.W());
    const uint64_t activeH = static_cast<uint64_t>(ifd.activeArea.H());
    if (const TiffTag* t = f.Get(kTagBlackLevelDeltaH, "BlackLevelDeltaH", kAnyRational, activeW, activeW)) {
        ifd.blackLevelDeltaH.reserve(t->count);
        for (uint32_t i = 0; i < t->count; ++i)
            ifd.blackLevelDeltaH.push_back(t->AsSRational(i));
    }
    if (const TiffTag* t = f.Get(kTagBlackLevelDeltaV, "BlackLevelDeltaV", kAnyRational, activeH, activeH)) {
        ifd.blackLevelDeltaV.reserve(t->count);
        for (uint32_t i = 0; i < t->count; ++i)
            ifd.blackLevelDeltaV.push_back(t->AsSRational(i));
    }
}

// Crop, scale and rendering hints. These only guide the renderer, so a malformed one is
// ignored (its default stays) rather than making the directory unusable.
void ParseCropAndScale(Fields& f, IfdInfo& ifd)
{
    if (const TiffTag* t = f.Get(kTagDefaultScale, "DefaultScale", kShortLongOrRational, 2, 2, false)) {
        ifd.defaultScaleH = t->AsURational(0);
        ifd.defaultScaleV = t->AsURational(1);
    }
    if (const TiffTag* t = f.Get(kTagBestQualityScale, "BestQualityScale", kShortLongOrRational, 1, 1, false))
        ifd.bestQualityScale = t->AsURational(0);

    const TiffTag* origin = f.Get(kTagDefaultCropOrigin, "DefaultCropOrigin", kShortLongOrRational, 2, 2, false);
    const TiffTag* size = f.Get(kTagDefaultCropSize, "DefaultCropSize", kShortLongOrRational, 2, 2, false);
    if (origin || size) {
        ifd.hasDefaultCrop = true;
        if (origin) {
            ifd.defaultCropOriginH = origin->AsURational(0);
            ifd.defaultCropOriginV = origin->AsURational(1);
        }
        if (size) {
            ifd.defaultCropSizeH = size->AsURational(0);
            ifd.defaultCropSizeV = size->AsURational(1);
        } else {
            ifd.defaultCropSizeH = URational(static_cast<uint32_t>(ifd.activeArea.W()), 1);
            ifd.defaultCropSizeV = URational(static_cast<uint32_t>(ifd.activeArea.H()), 1);
        }
    }

    if (const TiffTag* t = f.Get(kTagAntiAliasStrength, "AntiAliasStrength", kShortLongOrRational, 1, 1, false))
        ifd.antiAliasStrength = t->AsURational(0);
    if (const TiffTag* t = f.Get(kTagChromaBlurRadius, "ChromaBlurRadius", kShortLongOrRational, 1, 1, false))
        ifd.chromaBlurRadius = t->AsURational(0);
}

void ParseOpcodeLists(Fields& f, IfdInfo& ifd)
{
    const uint16_t codes[3] = {kTagOpcodeList1, kTagOpcodeList2, kTagOpcodeList3};
    const char* names[3] = {"OpcodeList1", "OpcodeList2", "OpcodeList3"};
    for (uint32_t i = 0; i < 3; ++i)
        if (const TiffTag* t = f.Get(codes[i], names[i], kByteLike, 1, std::numeric_limits<uint32_t>::max()))
            ifd.opcodeList[i] = t->bytes;
}

} // namespace

IfdInfo Info::ParseIfd(const TiffDirectory& dir)
{
    IfdInfo ifd;
    ifd.offset = dir.offset;
    ifd.parent = dir.parent;
    Fields f(dir, ifd);
    try {
        ParseLayout(f, ifd);
        // The mosaic tags mean something only for colour filter array data.
        if (ifd.photometric == kPhotometricCFA)
            ParseMosaic(f, ifd);
        ParseLinearization(f, ifd);
        ParseCropAndScale(f, ifd);
        ParseOpcodeLists(f, ifd);
    } catch (const Error& e) {
        // The type and count checks above keep the accessors from failing; should one fail all
        // the same, the directory is simply unusable.
        f.Fail(e.what());
    }
    return ifd;
}

} // namespace dng
