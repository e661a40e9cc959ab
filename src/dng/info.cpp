#include "info.h"

#include "error.h"
#include "image.h"

#include <algorithm>
#include <string>

namespace dng {

namespace {

constexpr uint32_t kNewestReadableMinor = 7;

std::string VersionText(const std::array<uint8_t, 4>& v)
{
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
}

// The checks of the main raw directory's layout. They concern the structure only: whether the
// strips or tiles cover the image and lie inside the file, and whether the compression is one
// that can be decoded, is left to the pixel reader.
std::string LayoutProblem(const IfdInfo& m)
{
    if (!m.problem.empty())
        return m.problem;
    const uint32_t kMaxSide = static_cast<uint32_t>(Image::kMaxSide);
    if (m.width < 1 || m.height < 1 || m.width > kMaxSide || m.height > kMaxSide)
        return "image size " + std::to_string(m.width) + "x" + std::to_string(m.height) + " is out of range";

    const uint32_t spp = m.samplesPerPixel;
    if (m.photometric == kPhotometricCFA && spp != 1)
        return "colour filter array data with " + std::to_string(spp) + " samples per pixel";
    if (spp < 1 || spp > kMaxSamplesPerPixel)
        return "samples per pixel out of range";
    if (spp > 1 && m.planarConfiguration != 1)
        return "samples are not interleaved";
    for (uint32_t s = 0; s < spp; ++s)
        if (m.bitsPerSample[s] < 8 || m.bitsPerSample[s] > 32 || m.bitsPerSample[s] != m.bitsPerSample[0])
            return "bits per sample out of range";
    if (m.sampleFormat != 1 && m.sampleFormat != 3)
        return "unknown sample format";

    // Whether the offsets cover the whole tile grid is, like where they point, the pixel
    // reader's check: a file whose data were cut off is still read for its metadata.
    if (m.tileWidth < 1 || m.tileLength < 1)
        return "tile or strip size is 0";
    if (m.tileOffsets.empty() || m.tileOffsets.size() != m.tileByteCounts.size())
        return "the strip or tile offsets and byte counts are missing or differ in number";

    if (m.photometric == kPhotometricCFA) {
        if (m.cfaRepeatRows < 1 || m.cfaRepeatRows > kMaxPatternSize || m.cfaRepeatCols < 1 ||
            m.cfaRepeatCols > kMaxPatternSize)
            return "no colour filter pattern";
        if (m.cfaLayout < 1 || m.cfaLayout > 9)
            return "CFALayout " + std::to_string(m.cfaLayout) + " is not a defined layout";
    }
    const Rect whole(static_cast<int32_t>(m.height), static_cast<int32_t>(m.width));
    if (m.activeArea.IsEmpty() || m.activeArea.t < 0 || m.activeArea.l < 0 || !whole.Contains(m.activeArea))
        return "the active area is empty or does not lie inside the image";
    if (m.blackLevelRepeatRows < 1 || m.blackLevelRepeatRows > kMaxPatternSize || m.blackLevelRepeatCols < 1 ||
        m.blackLevelRepeatCols > kMaxPatternSize)
        return "black level pattern out of range";
    if (!m.blackLevelDeltaH.empty() && m.blackLevelDeltaH.size() != size_t(m.activeArea.W()))
        return "BlackLevelDeltaH does not match the active width";
    if (!m.blackLevelDeltaV.empty() && m.blackLevelDeltaV.size() != size_t(m.activeArea.H()))
        return "BlackLevelDeltaV does not match the active height";
    for (uint32_t s = 0; s < spp; ++s)
        if (m.whiteLevel[s] == 0)
            return "white level is 0";
    return {};
}

} // namespace

void Info::Parse(Host& /*host*/, const Stream& stream)
{
    fIfds.clear();
    fMainIndex = -1;
    fShared = SharedInfo();
    fExif = ExifInfo();
    fHasExif = false;
    fFileLength = stream.Length();

    fContainer.Parse(stream);
    const std::vector<TiffDirectory>& images = fContainer.Images();
    fIfds.reserve(images.size());
    for (const TiffDirectory& dir : images)
        fIfds.push_back(ParseIfd(dir));
    fShared = ParseShared(images.front());
    fHasExif = fContainer.Exif() != nullptr;
    fExif = ParseExif(images.front(), fContainer.Exif(), fShared);
}

void Info::PostParse(Host& /*host*/)
{
    // The main raw image is the first directory, breadth-first, marked as the main image
    // (NewSubFileType 0) with raw photometric.
    fMainIndex = -1;
    for (size_t i = 0; i < fIfds.size(); ++i) {
        const IfdInfo& ifd = fIfds[i];
        if (ifd.hasNewSubFileType && ifd.newSubFileType == 0 && ifd.IsRaw()) {
            fMainIndex = static_cast<int32_t>(i);
            return;
        }
    }
    // Broken files: the largest raw directory that does not say it is something else (a preview,
    // a mask, an enhanced image ...).
    uint64_t bestArea = 0;
    for (size_t i = 0; i < fIfds.size(); ++i) {
        const IfdInfo& ifd = fIfds[i];
        if (!ifd.IsRaw() || (ifd.hasNewSubFileType && ifd.newSubFileType != 0))
            continue;
        const uint64_t area = uint64_t(ifd.width) * ifd.height;
        if (fMainIndex < 0 || area > bestArea) {
            fMainIndex = static_cast<int32_t>(i);
            bestArea = area;
        }
    }
}

const IfdInfo& Info::MainIfd() const
{
    if (fMainIndex < 0 || static_cast<size_t>(fMainIndex) >= fIfds.size())
        ThrowBadFormat("the file has no main raw image");
    return fIfds[static_cast<size_t>(fMainIndex)];
}

IfdInfo& Info::MutableMainIfd()
{
    if (fMainIndex < 0 || static_cast<size_t>(fMainIndex) >= fIfds.size())
        ThrowBadFormat("the file has no main raw image");
    return fIfds[static_cast<size_t>(fMainIndex)];
}

std::string Info::StructureProblem() const
{
    const SharedInfo& s = fShared;
    if (!s.HasVersion())
        return "no DNGVersion";
    if (s.dngVersion[0] != 1)
        return "DNGVersion " + VersionText(s.dngVersion) + " is not readable";
    const auto& back = s.dngBackwardVersion;
    if (back[0] > 1 || (back[0] == 1 && back[1] > kNewestReadableMinor))
        return "the file needs a newer reader (DNGBackwardVersion " + VersionText(back) + ")";
    if (s.uniqueCameraModel.empty())
        return "no UniqueCameraModel";
    if (fMainIndex < 0 || static_cast<size_t>(fMainIndex) >= fIfds.size())
        return "no main raw image";
    const std::string layout = LayoutProblem(fIfds[static_cast<size_t>(fMainIndex)]);
    return layout.empty() ? layout : "main raw image: " + layout;
}

std::string Info::ValidityProblem() const
{
    const std::string structure = StructureProblem();
    return structure.empty() ? DamageProblem() : structure;
}

bool Info::IsValidDNG() const
{
    return ValidityProblem().empty();
}

} // namespace dng
