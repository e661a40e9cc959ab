// The embedded-preview step of the driver: shows the picture the camera stored beside the raw
// image, and records the camera's serial number, model and code for the photo just chosen.
#include "Class_dngconvert.h"
#include "kelvin_slider.h"

#include "dng/error.h"
#include "dng/ifd_info.h"
#include "platform/jpeg_image.h"
#include "base/text.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace engine {

namespace {

// The preview pane is about this wide; a wider preview only costs time to read and decode.
constexpr uint32_t kPreviewWidthLimit = 500;
// The Bitmap's own limit on either side.
constexpr uint32_t kMaxPreviewSide = 65000;

const char* const kLeicaT = "LEICA T (Typ 701)";
const char* const kLeicaM240 = "LEICA M (Typ 240)";

// Only these cameras write JPEG previews worth showing; those of others are never used.
bool ShowsJpegPreview(const std::string& model)
{
    return model == kLeicaM240 || model == kLeicaT;
}

// The data blocks (strips or tiles) of a directory lie inside the file and do not claim more
// bytes than the file has. Blocks of a sound file never overlap, so their total cannot exceed the
// file's length; this also keeps a hostile file from making us read one region over and over.
bool BlocksInsideFile(const dng::IfdInfo& ifd, const dng::Stream& stream)
{
    if (ifd.tileOffsets.empty() || ifd.tileOffsets.size() != ifd.tileByteCounts.size())
        return false;
    uint64_t total = 0;
    for (size_t i = 0; i < ifd.tileOffsets.size(); ++i) {
        const uint64_t count = ifd.tileByteCounts[i];
        if (!stream.InRange(ifd.tileOffsets[i], count))
            return false;
        total += count; // no overflow: both terms are at most the file's length here
        if (total > stream.Length())
            return false;
    }
    return total > 0;
}

// Rows of block `index` that fall inside the picture, and the pixels of each such row.
struct BlockExtent {
    uint32_t x0, y0, rows, cols;
};

BlockExtent ExtentOf(const dng::IfdInfo& ifd, size_t index)
{
    const uint32_t across = ifd.TilesAcross();
    const uint32_t x0 = static_cast<uint32_t>(index % across) * ifd.tileWidth;
    const uint32_t y0 = static_cast<uint32_t>(index / across) * ifd.tileLength;
    return {x0, y0, std::min(ifd.tileLength, ifd.height - y0), std::min(ifd.tileWidth, ifd.width - x0)};
}

// Bytes block `index` must hold: its rows at the block's own stride (tiles are stored full width;
// a strip is one picture wide), the last row only as far as the picture goes.
uint64_t BytesNeeded(const dng::IfdInfo& ifd, size_t index)
{
    const BlockExtent e = ExtentOf(ifd, index);
    return (uint64_t(e.rows - 1) * ifd.tileWidth + e.cols) * 3;
}

// An uncompressed thumbnail we can turn into a picture: 8-bit RGB, interleaved, and every strip or
// tile present and long enough for the pixels it holds.
bool IsReadableRgb(const dng::IfdInfo& ifd)
{
    if (ifd.samplesPerPixel != 3 || ifd.photometric != dng::kPhotometricRGB || ifd.planarConfiguration != 1)
        return false;
    for (uint32_t s = 0; s < 3; ++s)
        if (ifd.bitsPerSample[s] != 8)
            return false;
    if (ifd.tileWidth < 1 || ifd.tileLength < 1 || ifd.tileWidth > kMaxPreviewSide ||
        ifd.tileLength > kMaxPreviewSide)
        return false;
    if (ifd.TileCount() != uint64_t(ifd.TilesAcross()) * ifd.TilesDown())
        return false;
    for (size_t i = 0; i < ifd.TileCount(); ++i)
        if (ifd.tileByteCounts[i] < BytesNeeded(ifd, i))
            return false;
    return true;
}

// Whether a directory is a preview this step may show, checked against the file before any of
// its data are read. Only directories marked as previews count, JPEG ones included: the main
// image of a Leica compressed with lossless JPEG is no preview.
bool IsUsablePreview(const dng::IfdInfo& ifd, const std::string& model, const dng::Stream& stream)
{
    if (ifd.newSubFileType != 1 || !ifd.problem.empty())
        return false;
    if (ifd.width < 1 || ifd.height < 1 || ifd.width > kMaxPreviewSide || ifd.height > kMaxPreviewSide)
        return false;
    if (ifd.compression == dng::kCompressionNone)
        return BlocksInsideFile(ifd, stream) && IsReadableRgb(ifd);
    if (ifd.compression == dng::kCompressionJPEG)
        return ShowsJpegPreview(model) && BlocksInsideFile(ifd, stream);
    return false;
}

// Which preview is shown, by index into info.Ifds(), or none.
// For the two Leica models, a usable JPEG preview is taken before any uncompressed thumbnail:
// showing it is why those models are singled out. Among the previews of the kind taken, the
// widest one at most kPreviewWidthLimit pixels wide wins; when all are wider, the narrowest.
// Ties go to the first in directory order.
std::optional<size_t> ChoosePreview(const dng::Info& info, const std::string& model, const dng::Stream& stream)
{
    std::vector<size_t> jpeg, rgb;
    const std::vector<dng::IfdInfo>& ifds = info.Ifds();
    for (size_t i = 0; i < ifds.size(); ++i)
        if (IsUsablePreview(ifds[i], model, stream))
            (ifds[i].compression == dng::kCompressionJPEG ? jpeg : rgb).push_back(i);
    const std::vector<size_t>& candidates = jpeg.empty() ? rgb : jpeg;

    std::optional<size_t> fitting, narrowest;
    for (size_t i : candidates) {
        const uint32_t w = ifds[i].width;
        if (w <= kPreviewWidthLimit && (!fitting || w > ifds[*fitting].width))
            fitting = i;
        if (!narrowest || w < ifds[*narrowest].width)
            narrowest = i;
    }
    return fitting ? fitting : narrowest;
}

// All strips (or tiles) of a directory, each read at its own offset, one after the other.
// starts[i] is where block i begins in the result.
std::vector<uint8_t> ReadBlocks(const dng::IfdInfo& ifd, const dng::Stream& stream, std::vector<uint64_t>& starts)
{
    uint64_t total = 0;
    for (uint64_t count : ifd.tileByteCounts)
        total += count;
    std::vector<uint8_t> bytes(static_cast<size_t>(total));
    starts.clear();
    uint64_t at = 0;
    for (size_t i = 0; i < ifd.TileCount(); ++i) {
        starts.push_back(at);
        const uint64_t count = ifd.tileByteCounts[i];
        stream.Read(ifd.tileOffsets[i], std::span<uint8_t>(bytes.data() + at, static_cast<size_t>(count)));
        at += count;
    }
    return bytes;
}

// The picture of an uncompressed RGB thumbnail (checked by IsReadableRgb): red and blue swap
// places on the way into the bitmap.
platform::Bitmap RgbPicture(const dng::IfdInfo& ifd, const std::vector<uint8_t>& bytes,
                            const std::vector<uint64_t>& starts)
{
    platform::Bitmap picture;
    picture.SetPixelFormat(platform::PixelFormat::k24Bit);
    picture.SetSize(static_cast<int32_t>(ifd.width), static_cast<int32_t>(ifd.height));
    for (size_t t = 0; t < starts.size(); ++t) {
        const BlockExtent e = ExtentOf(ifd, t);
        for (uint32_t r = 0; r < e.rows; ++r) {
            const uint8_t* src = bytes.data() + starts[t] + uint64_t(r) * ifd.tileWidth * 3;
            uint8_t* dst = picture.ScanLine(static_cast<int32_t>(e.y0 + r)) + size_t(e.x0) * 3;
            for (uint32_t x = 0; x < e.cols; ++x, src += 3, dst += 3) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
            }
        }
    }
    return picture;
}

// Parses the file's structure; false when it is no DNG we can read (not even a TIFF file, or
// a TIFF file without the DNG essentials). A DNG whose values are damaged still shows its preview:
// converting it is what it cannot be, and the conversion says why.
bool ParseDng(dng::Host& host, const dng::Stream& stream, dng::Info& info)
{
    try {
        info.Parse(host, stream);
        info.PostParse(host);
    } catch (const dng::Error& e) {
        if (e.Code() == dng::kErrorBadFormat)
            return false;
        throw;
    }
    return info.StructureProblem().empty();
}

} // namespace

int32_t DNGConvert::ReadEmbeddedPreview(std::string path)
{
    try {
        // The previous photo's negative and the images made from it go: there is no result now.
        fResultReady = false;
        DropNegative();
        fResultNegative.reset();
        fOutputPreview.reset();
        fCookedCache.reset();
        fResultCopy.reset();
        fCameraLayout.reset();
        // So does its picture, whatever becomes of this one: no preview, no DNG, or a failure.
        fUi.ClearEmbeddedPreview();
        fUi.RepaintEmbeddedPreview();

        // A stream and a structure of this step's own: the driver's fStream and fInfo belong to
        // the photo being converted, which need not be this one.
        const dng::FileStream stream(path);
        fHost.SetPreferredSize(0);
        fHost.SetMinimumSize(0);
        fHost.SetMaximumSize(0);
        fHost.ValidateSizes();

        dng::Info info;
        if (!ParseDng(fHost, stream, info)) {
            fUi.SetModelLabel("Can't read preview...");
            return kResultNotDng;
        }

        // Without EXIF data there is no serial number; the previous photo's must not stay, or
        // the dead pixels of another body would be repaired in this one.
        fCameraSerial = info.HasExif() ? info.Exif().cameraSerialNumber : std::string();

        const std::string model = info.Shared().uniqueCameraModel;
        fCameraModel = model;
        fCameraLayout = PhotoBayerLayout(info.MainIfd());
        fUi.SetModelLabel("from: " + model);
        fCameraCode = base::Trimmed(model) == kLeicaT ? 3 : 0;

        if (const std::optional<size_t> chosen = ChoosePreview(info, model, stream)) {
            const dng::IfdInfo& ifd = info.Ifds()[*chosen];
            std::vector<uint64_t> starts;
            const std::vector<uint8_t> bytes = ReadBlocks(ifd, stream, starts);
            if (ifd.compression == dng::kCompressionJPEG)
                fUi.ShowEmbeddedPreview(platform::DecodeJpeg(bytes));
            else
                fUi.ShowEmbeddedPreview(RgbPicture(ifd, bytes, starts));
        }
        fUi.RepaintEmbeddedPreview();
        fUi.RepaintExplorer();

        // The RGB methods start from the photo's own white: the temperature slider follows it. A
        // photo whose values are damaged has no white to follow; the slider stays, and converting
        // the photo names the damage.
        if (fUi.MethodIndex() > 2 && info.DamageProblem().empty()) {
            try {
                std::unique_ptr<VrelNegative> negative = MakeNegative();
                negative->Parse(fHost, stream, info);
                negative->PostParse(fHost, stream, info);
                fNegative = std::move(negative);
                const double kelvin = fNegative->AsShotTemperature();
                fUi.SetTemperatureLabel(KelvinLabel(kelvin));
                fUi.SetKelvinSliderSilently(KelvinSliderPosition(kelvin));
            } catch (const dng::Error& e) {
                if (!IsDamagedSource(e.Code()))
                    throw;
                DropNegative();
            }
        }

        fUi.ResetToolsPreviewImages();
        fUi.ResetToolsPreviewSliders();
        return kResultDone;
    } catch (const std::exception&) {
        platform::MessageBoxRequest box;
        box.text = "Whoa... that's a bug...\n\nFailed to process the preview of this DNG...";
        box.caption = "Velloray error";
        box.icon = platform::MessageIcon::kWarning;
        box.buttons = platform::MessageButtons::kOk;
        box.ownedByMainWindow = true;
        fUi.MessageBoxes().Show(box);
        return kResultStopped;
    }
}

} // namespace engine
