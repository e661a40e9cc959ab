#include "vrel_negative.h"

#include "dng/error.h"
#include "dng/ifd_info.h"
#include "dng/temperature.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

namespace engine {

namespace {

constexpr double kGamma22Exponent = 0.45454545454545453; // 1 / 2.2
constexpr double kGamma18Exponent = 0.5555555555555556;  // 1 / 1.8

void FillGammaTable(std::array<uint32_t, VrelNegative::kGammaEntries>& table, double exponent)
{
    for (int i = 0; i < VrelNegative::kGammaEntries; ++i) {
        const double x = double(i) / double(VrelNegative::kGammaEntries);
        table[size_t(i)] = static_cast<uint32_t>(std::pow(x, exponent) * 255.0 + 0.5);
    }
}

// A deep copy of a working image; a missing one is a sequencing fault of the caller.
std::unique_ptr<dng::Image> CloneOf(const std::unique_ptr<dng::Image>& image, const char* what)
{
    if (!image)
        throw dng::Error(dng::kErrorUnknown, std::string("no ") + what + " to copy");
    return image->Clone();
}

// The image itself, leaving its holder empty; a missing one is a sequencing fault of the caller.
std::unique_ptr<dng::Image> TakeImage(std::unique_ptr<dng::Image>& image, const char* what)
{
    if (!image)
        throw dng::Error(dng::kErrorUnknown, std::string("no ") + what + " to move");
    return std::move(image);
}

dng::Image& RequireStage1(const std::unique_ptr<dng::Image>& stage1, const char* operation)
{
    if (!stage1)
        throw dng::Error(dng::kErrorUnknown, std::string(operation) + ": there is no stage-1 image");
    return *stage1;
}

// dst[r][c] = src[min(r + dy, h - 1)][min(c + dx, w - 1)]: the image moves up by dy rows and
// left by dx columns, and the vacated last row / column repeats its neighbour.
template <typename T>
void ShiftPlane(dng::PlaneView<const T> src, dng::PlaneView<T> dst, int32_t dx, int32_t dy)
{
    const int32_t w = src.width;
    const int32_t h = src.height;
    for (int32_t y = 0; y < h; ++y) {
        const T* s = src.Row(std::min(y + dy, h - 1));
        T* d = dst.Row(y);
        const int32_t shifted = w - dx; // columns that have a source column dx to the right
        std::copy(s + dx, s + dx + shifted, d);
        for (int32_t x = shifted; x < w; ++x)
            d[x] = s[w - 1];
    }
}

template <typename T>
void CopyRect(dng::PlaneView<const T> src, dng::PlaneView<T> dst)
{
    for (int32_t y = 0; y < dst.height; ++y) {
        const T* s = src.Row(y);
        std::copy(s, s + dst.width, dst.Row(y));
    }
}

// floor(v * v / 4), clamped to 16 bits (reached from v = 512 on).
inline uint16_t SquareLaw(uint32_t v)
{
    const uint32_t y = (v * v) >> 2;
    return y > 65535u ? uint16_t(65535) : static_cast<uint16_t>(y);
}

} // namespace

std::unique_ptr<dng::Negative> VrelNegative::Make(dng::Host& host)
{
    try {
        auto negative = std::make_unique<VrelNegative>(host);
        negative->Initialize();
        return negative;
    } catch (const std::bad_alloc&) {
        throw dng::Error(dng::kErrorMemory, "out of memory for a negative");
    }
}

VrelNegative::VrelNegative(dng::Host& /*host*/)
{
    FillGammaTable(fGammaTable22, kGamma22Exponent);
    FillGammaTable(fGammaTable18, kGamma18Exponent);
}

VrelNegative::~VrelNegative()
{
    fClipImage.reset();
    fMonoCopy3.reset();
    fMonoCopy2.reset();
    fMonoCopy1.reset();
    fMonoImage.reset();
}

// The predicates read the colour of a photosite from the 2 x 2 corner of the pattern, for all four
// Bayer layouts: G1 is the green whose pattern row holds red, G2 the green whose row holds blue.
// Negative coordinates lie outside the image (and an even one would otherwise have remainder 0),
// so they give no colour.
int VrelNegative::PatternColor(int32_t col, int32_t row) const
{
    const dng::MosaicInfo* m = GetMosaicInfo();
    if (!m || col < 0 || row < 0)
        return -1;
    return m->fCFAPattern[row % 2][col % 2];
}

bool VrelNegative::IsRedPixel(int32_t col, int32_t row) const
{
    return PatternColor(col, row) == dng::kColorRed;
}

bool VrelNegative::IsBluePixel(int32_t col, int32_t row) const
{
    return PatternColor(col, row) == dng::kColorBlue;
}

bool VrelNegative::IsGreenPixel(int32_t col, int32_t row) const
{
    return PatternColor(col, row) == dng::kColorGreen;
}

bool VrelNegative::IsG1Pixel(int32_t col, int32_t row) const
{
    return IsGreenPixel(col, row) && PatternColor(col ^ 1, row) == dng::kColorRed;
}

bool VrelNegative::IsG2Pixel(int32_t col, int32_t row) const
{
    return IsGreenPixel(col, row) && PatternColor(col ^ 1, row) == dng::kColorBlue;
}

// The old image goes before its replacement is made, so that the two are never held at once.
void VrelNegative::CopyMonoToStage1()
{
    fStage1Image.reset();
    fStage1Image = CloneOf(fMonoImage, "monochrome image");
}

void VrelNegative::MoveMonoToStage1()
{
    fStage1Image = TakeImage(fMonoImage, "monochrome image");
}

// The working image moves into its copy: every pass writes a new working image before anything
// reads one again, so a clone would only be released unread.
void VrelNegative::SaveMonoCopy1()
{
    fMonoCopy1 = TakeImage(fMonoImage, "monochrome image");
}

void VrelNegative::SaveMonoCopy2()
{
    fMonoCopy2 = TakeImage(fMonoImage, "monochrome image");
}

// The filters' output has no reader but the working image it becomes.
void VrelNegative::RestoreMonoCopy3()
{
    fMonoImage = TakeImage(fMonoCopy3, "third monochrome copy");
}

// A stage-1 image of the same shape is overwritten in place: its memory is in use already, where a
// new image's would first have to be cleared by the system.
void VrelNegative::SetStage1Image(const dng::Image& image)
{
    // The image given is a whole raw image (the kept copy of the photo's), not a crop of one.
    fStage1Origin = {0, 0};
    fStage1IsCrop = false;
    dng::Image* old = fStage1Image.get();
    if (old && old->Width() == image.Width() && old->Height() == image.Height() && old->Planes() == image.Planes() &&
        old->Type() == image.Type()) {
        std::memcpy(old->Data(), image.Data(), image.PlaneBytes() * image.Planes());
        return;
    }
    fStage1Image.reset();
    fStage1Image = image.Clone();
}

void VrelNegative::RestoreStage2Image(const dng::Image& image)
{
    fStage2Image = image.Clone();
}

void VrelNegative::CopySettingsFrom(const VrelNegative& other)
{
    fCameraCode = other.fCameraCode;
    fFixDeadPixels = other.fFixDeadPixels;
    fDeadPixels = other.fDeadPixels;
    fRedBalance = other.fRedBalance;
    fBlueBalance = other.fBlueBalance;
    // Set when the raw image is first decoded; later stagings start from the kept raw image.
    fScaleH = other.fScaleH;
    fScaleV = other.fScaleV;
    fNoiseRegular = other.fNoiseRegular;
    fNoiseRed = other.fNoiseRed;
    fNoiseBlue = other.fNoiseBlue;
    fNoiseDetail = other.fNoiseDetail;
    fNoiseBalance = other.fNoiseBalance;
    fPreNoiseGreen = other.fPreNoiseGreen;
    fPreNoiseRed = other.fPreNoiseRed;
    fPreNoiseBlue = other.fPreNoiseBlue;
    fUi = other.fUi;
    fPool = other.fPool;
}

// The colour pattern is given from the active-area origin. When that origin is odd the image
// moves up and / or left by one, so that stage-1 coordinates have the pattern's parity.
void VrelNegative::AlignStage1ToPattern(dng::Host& host)
{
    const dng::LinearizationInfo* lin = GetLinearizationInfo();
    if (!lin)
        throw dng::Error(dng::kErrorUnknown, "AlignStage1ToPattern: the negative has no active area");
    const int32_t dy = lin->fActiveArea.t % 2 != 0 ? 1 : 0;
    const int32_t dx = lin->fActiveArea.l % 2 != 0 ? 1 : 0;
    if (dx == 0 && dy == 0)
        return;

    const dng::Image& src = RequireStage1(fStage1Image, "AlignStage1ToPattern");
    auto dst = host.Make_dng_image(src.Width(), src.Height(), src.Planes(), src.Type(), dng::ImageFill::kUnset);
    // A one-pixel-wide (high) image has nothing to move along that axis.
    const int32_t sx = std::min(dx, src.Width() - 1);
    const int32_t sy = std::min(dy, src.Height() - 1);
    for (uint32_t p = 0; p < src.Planes(); ++p) {
        if (src.Type() == dng::PixelType::kUInt16)
            ShiftPlane<uint16_t>(src.ConstView16Of(p), dst->View16Of(p), sx, sy);
        else
            ShiftPlane<uint8_t>(src.ConstView8Of(p), dst->View8Of(p), sx, sy);
    }
    fStage1Image = std::move(dst);
    // Everything given in stage-1 coordinates moves with the pixels, so that stage 2 and a written
    // file still describe the same part of the scene (only the copied last row or column is new):
    // the active area and the masked areas (the black deltas and the black pattern count from the
    // active area's origin and so move with it). A masked area moved out of the image, or onto
    // the active area, is cut back or dropped.
    dng::LinearizationInfo& area = *GetLinearizationInfo();
    area.MoveAreas(-sy, -sx);
    area.FitMaskedAreas(fStage1Image->Bounds(), dng::kMaxMaskedAreas);
}

// Square-law coded raw values (v stands for v * v / 4) made linear in place of the file's
// look-up table, which must then not be applied a second time when stage 2 is built.
void VrelNegative::ExpandSquareLaw()
{
    dng::Image& src = RequireStage1(fStage1Image, "ExpandSquareLaw");
    if (src.Type() == dng::PixelType::kUInt8) {
        auto dst = std::make_unique<dng::Image>(src.Width(), src.Height(), src.Planes(), dng::PixelType::kUInt16,
                                                dng::ImageFill::kUnset);
        std::array<uint16_t, 256> lut{};
        for (uint32_t v = 0; v < lut.size(); ++v)
            lut[v] = SquareLaw(v);
        for (uint32_t p = 0; p < src.Planes(); ++p) {
            const dng::ConstView8 s = src.ConstView8Of(p);
            const dng::View16 d = dst->View16Of(p);
            for (int32_t y = 0; y < s.height; ++y) {
                const uint8_t* sr = s.Row(y);
                uint16_t* dr = d.Row(y);
                for (int32_t x = 0; x < s.width; ++x)
                    dr[x] = lut[sr[x]];
            }
        }
        fStage1Image = std::move(dst);
    } else {
        for (uint32_t p = 0; p < src.Planes(); ++p) {
            const dng::View16 v = src.View16Of(p);
            for (int32_t y = 0; y < v.height; ++y) {
                uint16_t* r = v.Row(y);
                for (int32_t x = 0; x < v.width; ++x)
                    r[x] = SquareLaw(r[x]);
            }
        }
    }
    if (dng::LinearizationInfo* lin = GetLinearizationInfo())
        lin->fLinearizationTable.clear();
}

void VrelNegative::CropStage1(dng::Host& host, int32_t left, int32_t top, int32_t width, int32_t height)
{
    const dng::Image& src = RequireStage1(fStage1Image, "CropStage1");
    const int64_t right = int64_t(left) + width;
    const int64_t bottom = int64_t(top) + height;
    if (left < 0 || top < 0 || width < 1 || height < 1 || right > src.Width() || bottom > src.Height())
        throw dng::Error(dng::kErrorBadFormat,
                         "crop rectangle (left " + std::to_string(left) + ", top " + std::to_string(top) +
                             ", " + std::to_string(width) + " x " + std::to_string(height) +
                             ") does not lie inside the " + std::to_string(src.Width()) + " x " +
                             std::to_string(src.Height()) + " raw image");

    const dng::Rect rect(top, left, int32_t(bottom), int32_t(right));
    auto dst = host.Make_dng_image(width, height, src.Planes(), src.Type(), dng::ImageFill::kUnset);
    for (uint32_t p = 0; p < src.Planes(); ++p) {
        if (src.Type() == dng::PixelType::kUInt16)
            CopyRect<uint16_t>(src.ConstView16Of(p).Sub(rect), dst->View16Of(p));
        else
            CopyRect<uint8_t>(src.ConstView8Of(p).Sub(rect), dst->View8Of(p));
    }
    fStage1Image = std::move(dst);
    fStage1IsCrop = true;
    // The areas in the crop's coordinates, so that a result of the crop can be linearized. An
    // image not yet aligned (odd active-area origin) lies one row / column off the aligned one.
    if (dng::LinearizationInfo* lin = GetLinearizationInfo()) {
        fStage1Origin.x += left - (lin->fActiveArea.l % 2 != 0 ? 1 : 0);
        fStage1Origin.y += top - (lin->fActiveArea.t % 2 != 0 ? 1 : 0);
        lin->MoveAreas(-top, -left);
        const dng::Rect inside = dng::Intersect(lin->fActiveArea, dng::Rect(height, width));
        lin->fActiveArea = inside.IsEmpty() ? dng::Rect(height, width) : inside;
        lin->FitMaskedAreas(dng::Rect(height, width), dng::kMaxMaskedAreas);
    } else {
        fStage1Origin.x += left;
        fStage1Origin.y += top;
    }
}

void VrelNegative::ReleaseBuffers()
{
    fMonoImage.reset();
    fMonoCopy2.reset();
    fMonoCopy1.reset();
    fMonoCopy3.reset();
    fStage1Image.reset();
    fStage2Image.reset();
    fStage3Image.reset();
    fClipImage.reset();
}

void VrelNegative::ReleaseStage1()
{
    fStage1Image.reset();
    fStage1Origin = {0, 0};
    fStage1IsCrop = false;
}

void VrelNegative::ReleaseStage2()
{
    fStage2Image.reset();
}

// The as-shot white: from the camera neutral, else from the stored white chromaticity, else
// daylight (D65) for a file that records neither.
dng::XYCoord VrelNegative::StartWhite(const dng::ColorSpec& spec) const
{
    if (HasCameraNeutral())
        return spec.NeutralToXY(CameraNeutral());
    const dng::XYCoord& white = CameraWhiteXY();
    if (white.x > 0.0 && white.y > 0.0)
        return white;
    return dng::kD65;
}

double VrelNegative::AsShotTemperature() const
{
    const dng::ColorSpec spec = MakeColorSpec();
    return dng::Temperature(StartWhite(spec)).Kelvin() + 0.5;
}

// The multipliers that bring red and blue to green for a white of the given temperature, with
// the tint of the as-shot white.
void VrelNegative::CalcWhiteBalanceRatios(double kelvin)
{
    dng::ColorSpec spec = MakeColorSpec();
    const dng::XYCoord start = StartWhite(spec);
    spec.SetWhiteXY(start);
    dng::Temperature t(start);
    t.SetKelvin(kelvin);
    spec.SetWhiteXY(t.Get_xy_coord());
    const dng::Vector w = spec.CameraWhite();
    if (w.Count() != 3)
        return; // monochrome or four-colour: no red / blue multipliers
    fRedBalance = w[1] / w[0];
    fBlueBalance = w[1] / w[2];
}

} // namespace engine
