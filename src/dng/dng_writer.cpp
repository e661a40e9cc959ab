#include "dng_writer.h"

#include "error.h"
#include "host.h"
#include "info.h"
#include "negative.h"
#include "raw_digest.h"
#include "tag_codes.h"
#include "tiff_writer.h"
#include "xmp_packet.h"

#include "base/atomic_file.h"
#include "base/same_file.h"
#include "base/text.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <span>
#include <utility>
#include <vector>

namespace dng {

namespace {

namespace fs = std::filesystem;

// Tags that are not in tag_codes.h because only the writer uses them.
enum : uint16_t {
    kTagLensInfo = 50736,
    kTagDNGPrivateData = 50740,
    kTagPreviewApplicationName = 50966,
    kTagPreviewApplicationVersion = 50967,
    kTagPreviewSettingsName = 50968,
    kTagPreviewColorSpace = 50970,
    kTagMakerNote = 37500,
    kTagExifCFAPattern = 41730,
};

constexpr uint32_t kNewSubFileTypePreview = 1;
constexpr uint32_t kNewSubFileTypeMain = 0;
constexpr uint32_t kVersion11 = 0x01010000;
constexpr uint32_t kVersion14 = 0x01040000;
constexpr uint64_t kMaxFileBytes = 0xFFFFFFFFull;
// Raw strips of about this many bytes: small enough that readers never need a large strip buffer.
constexpr uint64_t kStripBytes = 1u << 20;

void Store32(uint8_t* at, uint32_t v, ByteOrder order)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(v >> (order == ByteOrder::kLittle ? 8 * i : 8 * (3 - i)));
}

std::array<uint8_t, 4> VersionBytes(uint32_t v)
{
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

bool IsAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Text tags that may be BYTE (UTF-8) as well as ASCII: ASCII when the text allows it.
void SetText(TiffWriter& w, TiffWriter::Ifd ifd, uint16_t code, std::string_view text)
{
    if (IsAscii(text)) {
        w.SetAscii(ifd, code, text);
    } else {
        std::vector<uint8_t> bytes(text.begin(), text.end());
        bytes.push_back(0);
        w.SetByte(ifd, code, bytes);
    }
}

// The fraction nearest to v >= 0 whose denominator and numerator stay within the limits
// (continued fractions); exact for whole numbers and for fractions with small denominators.
std::pair<uint64_t, uint64_t> NearestFraction(double v, uint64_t maxNum, uint64_t maxDen)
{
    uint64_t h0 = 0, h1 = 1, k0 = 1, k1 = 0; // h1/k1 is the latest convergent
    double x = v;
    for (int i = 0; i < 64; ++i) {
        const double a = std::floor(x);
        if (a > double(maxNum))
            break;
        const auto ai = static_cast<uint64_t>(a);
        const uint64_t h = ai * h1 + h0;
        const uint64_t k = ai * k1 + k0;
        if (h > maxNum || k > maxDen)
            break;
        h0 = h1, h1 = h, k0 = k1, k1 = k;
        const double rest = x - a;
        if (rest < 1e-12)
            break;
        x = 1.0 / rest;
    }
    if (k1 == 0) // nothing fitted: v is beyond maxNum
        return {maxNum, 1};
    return {h1, k1};
}

URational ToURational(double v, const char* what)
{
    if (!(v >= 0.0) || v > double(std::numeric_limits<uint32_t>::max()))
        ThrowBadFormat(std::string(what) + " " + std::to_string(v) + " cannot be stored");
    const auto [n, d] = NearestFraction(v, std::numeric_limits<uint32_t>::max(), 1u << 24);
    return URational(static_cast<uint32_t>(n), static_cast<uint32_t>(d));
}

SRational ToSRational(double v, const char* what)
{
    const double limit = double(std::numeric_limits<int32_t>::max());
    if (!(std::fabs(v) <= limit))
        ThrowBadFormat(std::string(what) + " " + std::to_string(v) + " cannot be stored");
    const auto [n, d] = NearestFraction(std::fabs(v), std::numeric_limits<int32_t>::max(), 1u << 24);
    const auto num = static_cast<int32_t>(n);
    return SRational(v < 0 ? -num : num, static_cast<int32_t>(d));
}

// Copies one tag of a source directory when it is there with one of the expected types (and,
// when count is not 0, that count); a tag of another form would not mean what it should.
void CopyIfPresent(TiffWriter& w, TiffWriter::Ifd ifd, const TiffDirectory& dir, uint16_t code,
                   std::initializer_list<uint16_t> types, uint32_t count = 0)
{
    const TiffTag* tag = dir.Find(code);
    if (!tag || std::find(types.begin(), types.end(), tag->type) == types.end() || (count != 0 && tag->count != count))
        return;
    w.CopyTag(ifd, *tag);
}

// Whether a tag of the source's EXIF or GPS directory is carried into the output.
bool KeepsMetadataTag(const TiffTag& tag, bool makerNoteSafe)
{
    // Pointers and data offsets would point into the source file.
    if (TiffWriter::IsWriterOwned(tag.code))
        return false;
    switch (tag.code) {
    case kTagInteropIFD:
    // The output has no colour filter.
    case kTagExifCFAPattern:
    case kTagCFARepeatPatternDim:
    case kTagCFAPattern:
        return false;
    case kTagMakerNote:
        return makerNoteSafe;
    default:
        return tag.type != kTypeIfd;
    }
}

// Copies the tags of a source EXIF or GPS directory; the first copy of a repeated tag wins.
void CopyMetadataDirectory(TiffWriter& w, TiffWriter::Ifd (TiffWriter::*make)(), const TiffDirectory* dir,
                           bool makerNoteSafe)
{
    if (!dir)
        return;
    std::vector<const TiffTag*> kept;
    for (const TiffTag& tag : dir->tags) {
        if (!KeepsMetadataTag(tag, makerNoteSafe))
            continue;
        if (std::any_of(kept.begin(), kept.end(), [&](const TiffTag* k) { return k->code == tag.code; }))
            continue;
        kept.push_back(&tag);
    }
    if (kept.empty())
        return; // an empty directory is not written at all
    const TiffWriter::Ifd ifd = (w.*make)();
    for (const TiffTag* tag : kept)
        w.CopyTag(ifd, *tag);
}

// Checks what the file will state about the raw image against the image itself.
void CheckRawGeometry(const LinearizationInfo& lin, const Image& stage1, const Negative& negative)
{
    const Rect whole = stage1.Bounds();
    const Rect& active = lin.fActiveArea;
    if (active.IsEmpty() || active.t < 0 || active.l < 0 || !whole.Contains(active))
        ThrowBadFormat("the active area does not lie inside the " + std::to_string(whole.W()) + " x " +
                       std::to_string(whole.H()) + " image");
    if (lin.fMaskedArea.size() > kMaxMaskedAreas)
        ThrowBadFormat("more than " + std::to_string(kMaxMaskedAreas) + " masked areas");
    for (size_t i = 0; i < lin.fMaskedArea.size(); ++i) {
        const Rect& m = lin.fMaskedArea[i];
        if (m.IsEmpty() || m.t < 0 || m.l < 0 || !whole.Contains(m) || !Intersect(m, active).IsEmpty())
            ThrowBadFormat("a masked area lies outside the image or overlaps the active area");
        for (size_t j = 0; j < i; ++j)
            if (!Intersect(m, lin.fMaskedArea[j]).IsEmpty())
                ThrowBadFormat("two masked areas overlap");
    }
    if (lin.fBlackLevelRepeatRows < 1 || lin.fBlackLevelRepeatRows > LinearizationInfo::kMaxPattern ||
        lin.fBlackLevelRepeatCols < 1 || lin.fBlackLevelRepeatCols > LinearizationInfo::kMaxPattern)
        ThrowBadFormat("black level pattern out of range");
    if (!lin.fBlackDeltaH.empty() && lin.fBlackDeltaH.size() != size_t(active.W()))
        ThrowBadFormat("the column black deltas do not match the active width");
    if (!lin.fBlackDeltaV.empty() && lin.fBlackDeltaV.size() != size_t(active.H()))
        ThrowBadFormat("the row black deltas do not match the active height");

    const URational ox = negative.DefaultCropOriginH(), oy = negative.DefaultCropOriginV();
    const URational sw = negative.DefaultCropSizeH(), sh = negative.DefaultCropSizeV();
    if (!ox.IsValid() || !oy.IsValid() || !sw.IsValid() || !sh.IsValid() || sw.n == 0 || sh.n == 0 ||
        ox.As_real64() + sw.As_real64() > active.W() || oy.As_real64() + sh.As_real64() > active.H())
        ThrowBadFormat("the default crop does not lie inside the active area");
    const URational scaleH = negative.DefaultScaleH(), scaleV = negative.DefaultScaleV();
    if (!scaleH.IsValid() || !scaleV.IsValid() || scaleH.n == 0 || scaleV.n == 0)
        ThrowBadFormat("the default scale is not a positive number");
}

// The raw directory's linearization tags, for plane 0.
void SetLevels(TiffWriter& w, TiffWriter::Ifd raw, const LinearizationInfo& lin)
{
    const uint32_t rows = lin.fBlackLevelRepeatRows, cols = lin.fBlackLevelRepeatCols;
    const uint16_t dim[2] = {uint16_t(rows), uint16_t(cols)};
    w.SetShort(raw, kTagBlackLevelRepeatDim, dim);
    std::vector<double> black;
    for (uint32_t r = 0; r < rows; ++r)
        for (uint32_t c = 0; c < cols; ++c)
            black.push_back(lin.fBlackLevel[r][c][0]);
    const bool whole = std::all_of(black.begin(), black.end(), [](double v) {
        return v >= 0.0 && v <= 65535.0 && v == std::floor(v);
    });
    if (whole) {
        std::vector<uint16_t> values(black.begin(), black.end());
        w.SetShort(raw, kTagBlackLevel, values);
    } else {
        std::vector<URational> values;
        for (double v : black)
            values.push_back(ToURational(v, "black level"));
        w.SetRational(raw, kTagBlackLevel, values);
    }
    auto deltas = [&](uint16_t code, const std::vector<double>& d) {
        if (d.empty())
            return;
        std::vector<SRational> values;
        values.reserve(d.size());
        for (double v : d)
            values.push_back(ToSRational(v, "black level delta"));
        w.SetSRational(raw, code, values);
    };
    deltas(kTagBlackLevelDeltaH, lin.fBlackDeltaH);
    deltas(kTagBlackLevelDeltaV, lin.fBlackDeltaV);

    const double white = std::round(lin.fWhiteLevel[0]);
    if (!(white >= 1.0) || white > 65535.0)
        ThrowBadFormat("white level " + std::to_string(lin.fWhiteLevel[0]) + " does not fit 16-bit data");
    w.SetShort(raw, kTagWhiteLevel, static_cast<uint16_t>(white));
}

// The preview as interleaved RGB bytes.
std::vector<uint8_t> InterleavedRgb(const Image& preview)
{
    const auto w = static_cast<size_t>(preview.Width());
    std::vector<uint8_t> out(w * static_cast<size_t>(preview.Height()) * 3);
    for (int32_t y = 0; y < preview.Height(); ++y) {
        uint8_t* dst = out.data() + static_cast<size_t>(y) * w * 3;
        for (uint32_t p = 0; p < 3; ++p) {
            const uint8_t* src = preview.Row8(y, p);
            for (size_t x = 0; x < w; ++x)
                dst[x * 3 + p] = src[x];
        }
    }
    return out;
}

// The file's directories and values must pass the rules this reader applies to every DNG it opens
// (which follow what DNG readers refuse): a value derived from a damaged source, such as a scale or
// a lens correction, must stop the writing rather than give a file that readers reject. The raw
// pixels are not needed for that; the head of the file is read as it will be written.
void CheckReadable(const std::vector<uint8_t>& head)
{
    Host host;
    const MemoryStream stream(head);
    Info written;
    written.Parse(host, stream);
    written.PostParse(host);
    if (!written.IsValidDNG())
        ThrowBadFormat("the result would not be a valid DNG (" + written.ValidityProblem() + ")");
}

// Everything of the file but the raw pixels, which follow it as strips of rowsPerStrip rows.
struct PreparedFile {
    std::vector<uint8_t> head;
    ByteOrder order = ByteOrder::kLittle;
    uint32_t rowsPerStrip = 0;
};

PreparedFile Prepare(const Negative& negative, const Info& source, const Image& preview, const PreviewInfo& previewInfo,
                     const WriteOptions& options)
{
    // What the negative must be to be written as one LinearRaw plane.
    const Image* stage1 = negative.Stage1Image();
    if (!stage1)
        ThrowBadFormat("the negative has no raw image to write");
    if (stage1->Planes() != 1 || stage1->Type() != PixelType::kUInt16)
        ThrowBadFormat("the raw image to write must have one 16-bit plane");
    if (negative.GetMosaicInfo())
        ThrowBadFormat("the negative still describes a colour filter array");
    if (negative.ColorChannels() != 1)
        ThrowBadFormat("the negative has " + std::to_string(negative.ColorChannels()) +
                       " colour channels, not one");
    const LinearizationInfo* lin = negative.GetLinearizationInfo();
    if (!lin)
        ThrowBadFormat("the negative has no black and white levels");
    CheckRawGeometry(*lin, *stage1, negative);
    if (base::Trim(negative.ModelName()).empty())
        ThrowBadFormat("the negative has no camera model");
    const uint32_t orientation = negative.Orientation();
    if (orientation < 1 || orientation > 8)
        ThrowBadFormat("orientation " + std::to_string(orientation) + " is out of range");
    if (preview.Planes() != 3 || preview.Type() != PixelType::kUInt8)
        ThrowBadFormat("the preview must be an 8-bit image of three planes");
    if (previewInfo.colorSpace > 4)
        ThrowBadFormat("unknown preview colour space " + std::to_string(previewInfo.colorSpace));
    if (source.Container().Images().empty())
        ThrowBadFormat("the source file has not been parsed");
    const TiffDirectory& sourceIfd0 = source.Container().Images().front();

    PreparedFile file;
    file.order = source.Container().Order(); // keeps copied maker notes in the order they were made for
    TiffWriter w(file.order);
    const TiffWriter::Ifd ifd0 = w.Ifd0();

    // IFD0: the preview.
    w.SetLong(ifd0, kTagNewSubFileType, kNewSubFileTypePreview);
    w.SetLong(ifd0, kTagImageWidth, static_cast<uint32_t>(preview.Width()));
    w.SetLong(ifd0, kTagImageLength, static_cast<uint32_t>(preview.Height()));
    const uint16_t eightBits[3] = {8, 8, 8};
    w.SetShort(ifd0, kTagBitsPerSample, eightBits);
    w.SetShort(ifd0, kTagCompression, uint16_t(kCompressionNone));
    w.SetShort(ifd0, kTagPhotometric, uint16_t(kPhotometricRGB));
    w.SetShort(ifd0, kTagSamplesPerPixel, uint16_t(3));
    w.SetLong(ifd0, kTagRowsPerStrip, static_cast<uint32_t>(preview.Height()));
    w.SetShort(ifd0, kTagPlanarConfiguration, uint16_t(1));
    w.SetStrips(ifd0, {InterleavedRgb(preview)});
    if (!previewInfo.applicationName.empty())
        SetText(w, ifd0, kTagPreviewApplicationName, previewInfo.applicationName);
    if (!previewInfo.applicationVersion.empty())
        SetText(w, ifd0, kTagPreviewApplicationVersion, previewInfo.applicationVersion);
    if (!previewInfo.settingsName.empty())
        SetText(w, ifd0, kTagPreviewSettingsName, previewInfo.settingsName);
    w.SetLong(ifd0, kTagPreviewColorSpace, previewInfo.colorSpace);

    // IFD0: the file's shared metadata.
    for (uint16_t code : {kTagMake, kTagModel, kTagDateTime, kTagArtist, kTagCopyright})
        CopyIfPresent(w, ifd0, sourceIfd0, code, {kTypeAscii});
    CopyIfPresent(w, ifd0, sourceIfd0, kTagLocalizedCameraModel, {kTypeAscii, kTypeByte});
    CopyIfPresent(w, ifd0, sourceIfd0, kTagLensInfo, {kTypeRational}, 4);
    CopyIfPresent(w, ifd0, sourceIfd0, kTagDNGPrivateData, {kTypeByte, kTypeUndefined});
    CopyIfPresent(w, ifd0, sourceIfd0, kTagMakerNoteSafety, {kTypeShort}, 1);
    if (!options.software.empty())
        w.SetAscii(ifd0, kTagSoftware, options.software);
    w.SetShort(ifd0, kTagOrientation, static_cast<uint16_t>(orientation));
    // Without stray blanks, as the camera is identified by it.
    w.SetAscii(ifd0, kTagUniqueCameraModel, base::Trim(negative.ModelName()));
    if (!negative.CameraSerialNumber().empty())
        w.SetAscii(ifd0, kTagCameraSerialNumber, negative.CameraSerialNumber());
    if (!negative.OriginalRawFileName().empty())
        SetText(w, ifd0, kTagOriginalRawFileName, negative.OriginalRawFileName());
    if (negative.BaselineExposure().IsValid())
        w.SetSRational(ifd0, kTagBaselineExposure, negative.BaselineExposure());
    for (auto [code, value] : {std::pair{kTagBaselineNoise, negative.BaselineNoise()},
                               std::pair{kTagBaselineSharpness, negative.BaselineSharpness()},
                               std::pair{kTagShadowScale, negative.ShadowScale()}})
        if (value.IsValid() && value.n != 0)
            w.SetRational(ifd0, code, value);
    if (const URational limit = negative.LinearResponseLimit();
        limit.IsValid() && limit.As_real64() >= 0.5 && limit.As_real64() <= 1.0)
        w.SetRational(ifd0, kTagLinearResponseLimit, limit);
    if (const auto& id = negative.RawDataUniqueID())
        w.SetByte(ifd0, kTagRawDataUniqueID, *id);
    if (options.rawImageDigest)
        w.SetByte(ifd0, kTagRawImageDigest, ComputeRawImageDigest(*stage1, options.keepAlive));

    // Versions: the oldest reader that understands every opcode that cannot be skipped.
    uint32_t backward = kVersion11;
    for (uint32_t list = 0; list < 3; ++list)
        backward = std::max(backward, negative.GetOpcodeList(list).MinVersion());
    w.SetByte(ifd0, kTagDNGVersion, VersionBytes(std::max(kVersion14, backward)));
    w.SetByte(ifd0, kTagDNGBackwardVersion, VersionBytes(backward));

    w.SetByte(ifd0, kTagXMP, MakeOutputXmp(negative, options.software, std::time(nullptr)));

    const bool makerNoteSafe = source.Shared().makerNoteSafety == 1;
    CopyMetadataDirectory(w, &TiffWriter::ExifIfd, source.Container().Exif(), makerNoteSafe);
    CopyMetadataDirectory(w, &TiffWriter::GpsIfd, source.Container().Gps(), makerNoteSafe);

    // SubIFD 0: the raw image.
    const TiffWriter::Ifd raw = w.AddSubIfd(ifd0);
    const auto width = static_cast<uint32_t>(stage1->Width());
    const auto height = static_cast<uint32_t>(stage1->Height());
    w.SetLong(raw, kTagNewSubFileType, kNewSubFileTypeMain);
    w.SetLong(raw, kTagImageWidth, width);
    w.SetLong(raw, kTagImageLength, height);
    w.SetShort(raw, kTagBitsPerSample, uint16_t(16));
    w.SetShort(raw, kTagCompression, uint16_t(kCompressionNone));
    w.SetShort(raw, kTagPhotometric, uint16_t(kPhotometricLinearRaw));
    w.SetShort(raw, kTagSamplesPerPixel, uint16_t(1));
    w.SetShort(raw, kTagPlanarConfiguration, uint16_t(1));
    const uint64_t rowBytes = uint64_t(width) * 2;
    file.rowsPerStrip = static_cast<uint32_t>(std::clamp<uint64_t>(kStripBytes / rowBytes, 1, height));
    w.SetLong(raw, kTagRowsPerStrip, file.rowsPerStrip);

    const Rect& active = lin->fActiveArea;
    if (active != stage1->Bounds()) {
        const uint32_t area[4] = {uint32_t(active.t), uint32_t(active.l), uint32_t(active.b), uint32_t(active.r)};
        w.SetLong(raw, kTagActiveArea, area);
    }
    if (!lin->fMaskedArea.empty()) {
        std::vector<uint32_t> areas;
        for (const Rect& m : lin->fMaskedArea)
            areas.insert(areas.end(), {uint32_t(m.t), uint32_t(m.l), uint32_t(m.b), uint32_t(m.r)});
        w.SetLong(raw, kTagMaskedAreas, areas);
    }
    SetLevels(w, raw, *lin);
    const URational scale[2] = {negative.DefaultScaleH(), negative.DefaultScaleV()};
    w.SetRational(raw, kTagDefaultScale, scale);
    const URational origin[2] = {negative.DefaultCropOriginH(), negative.DefaultCropOriginV()};
    w.SetRational(raw, kTagDefaultCropOrigin, origin);
    const URational size[2] = {negative.DefaultCropSizeH(), negative.DefaultCropSizeV()};
    w.SetRational(raw, kTagDefaultCropSize, size);
    if (const URational best = negative.BestQualityScale(); best.IsValid() && best.As_real64() >= 1.0)
        w.SetRational(raw, kTagBestQualityScale, best);
    const uint16_t opcodeTags[3] = {kTagOpcodeList1, kTagOpcodeList2, kTagOpcodeList3};
    for (uint32_t list = 0; list < 3; ++list)
        if (!negative.GetOpcodeList(list).IsEmpty())
            w.SetUndefined(raw, opcodeTags[list], negative.GetOpcodeList(list).Bytes());

    // The raw strips are laid out as one-byte stand-ins, so that the pixels never have to be copied
    // into memory: the writer puts image data after all directories, the raw (the last
    // directory) last, so only the raw's strip offsets and byte counts change when the real strips
    // take the stand-ins' place. The layout is checked for exactly that.
    const uint32_t strips = (height + file.rowsPerStrip - 1) / file.rowsPerStrip;
    w.SetStrips(raw, std::vector<std::vector<uint8_t>>(strips, std::vector<uint8_t>(1, 0)));
    TiffLayout layout;
    file.head = w.Finish(&layout);

    const TiffLayout::Directory& rawLayout = layout.directories.at(raw.index);
    const uint32_t dataStart = rawLayout.blocks.front().offset;
    bool rawLast = rawLayout.blocks.size() == strips &&
                   uint64_t(rawLayout.blocks.back().offset) + 2 == file.head.size();
    for (uint32_t s = 0; s < strips && rawLast; ++s)
        rawLast = rawLayout.blocks[s].offset == dataStart + 2 * s;
    for (size_t d = 0; d < layout.directories.size() && rawLast; ++d)
        if (d != raw.index)
            for (const TiffLayout::Block& b : layout.directories[d].blocks)
                rawLast = rawLast && uint64_t(b.offset) + b.size <= dataStart;
    const TiffLayout::Entry* offsets = rawLayout.Find(kTagStripOffsets);
    const TiffLayout::Entry* counts = rawLayout.Find(kTagStripByteCounts);
    auto holdsOnePerStrip = [&](const TiffLayout::Entry* e) {
        return e && e->type == kTypeLong && e->count == strips && uint64_t(e->valueOffset) + 4ull * strips <= dataStart;
    };
    if (!rawLast || !holdsOnePerStrip(offsets) || !holdsOnePerStrip(counts))
        throw Error(kErrorUnknown, "DNG writer: the raw strips are not at the end of the file");

    uint64_t at = dataStart;
    for (uint32_t s = 0; s < strips; ++s) {
        const uint32_t rows = std::min(file.rowsPerStrip, height - s * file.rowsPerStrip);
        const uint64_t bytes = rowBytes * rows; // even: no padding between strips
        if (at + bytes > kMaxFileBytes)
            throw Error(kErrorImageTooBig, "the DNG file would be larger than 4 GiB");
        Store32(&file.head[offsets->valueOffset + 4 * s], static_cast<uint32_t>(at), file.order);
        Store32(&file.head[counts->valueOffset + 4 * s], static_cast<uint32_t>(bytes), file.order);
        at += bytes;
    }
    file.head.resize(dataStart);
    CheckReadable(file.head);
    return file;
}

void RefuseSource(const fs::path& target, const std::string& sourcePath)
{
    if (sourcePath.empty())
        throw Error(kErrorWriteFile, "no source file given for " + target.string());
    // Compares the files themselves (links, other spellings of the path).
    if (base::IsSameFile(target, fs::path(sourcePath)))
        throw Error(kErrorWriteFile, "the output " + target.string() + " is the source file");
}

} // namespace

void WriteMonochromeDng(const std::string& path, const Negative& negative, const Info& source, const Image& preview,
                        const PreviewInfo& previewInfo, const WriteOptions& options)
try {
    const fs::path target(path);
    if (path.empty() || !target.has_filename())
        throw Error(kErrorWriteFile, "no file name to write to: '" + path + "'");
    RefuseSource(target, options.sourcePath);

    const PreparedFile file = Prepare(negative, source, preview, previewInfo, options);
    const Image& stage1 = *negative.Stage1Image();

    base::AtomicFile out(target);
    out.Write(file.head);
    // The pixels, a strip at a time, in the file's byte order.
    const auto width = static_cast<size_t>(stage1.Width());
    std::vector<uint8_t> buffer(width * 2 * file.rowsPerStrip);
    for (int32_t y0 = 0; y0 < stage1.Height(); y0 += int32_t(file.rowsPerStrip)) {
        const int32_t rows = std::min<int32_t>(int32_t(file.rowsPerStrip), stage1.Height() - y0);
        uint8_t* dst = buffer.data();
        for (int32_t y = y0; y < y0 + rows; ++y) {
            const uint16_t* src = stage1.Row16(y);
            for (size_t x = 0; x < width; ++x, dst += 2) {
                const uint16_t v = src[x];
                dst[0] = static_cast<uint8_t>(file.order == ByteOrder::kLittle ? v : v >> 8);
                dst[1] = static_cast<uint8_t>(file.order == ByteOrder::kLittle ? v >> 8 : v);
            }
        }
        out.Write(std::span(buffer.data(), static_cast<size_t>(dst - buffer.data())));
        if (options.keepAlive)
            options.keepAlive();
    }
    out.Commit();
} catch (const base::FileError& e) {
    throw Error(kErrorWriteFile, e.what());
}

} // namespace dng
