#include "render.h"

#include "error.h"
#include "host.h"
#include "negative.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace dng {

namespace {

constexpr double kToneContrast = 0.4; // a in the tone-curve formula
constexpr double kToneGamma = 2.2;

// Beyond +-16 EV every 16-bit value renders as white or black anyway; the clamp keeps absurd stored
// exposures from producing infinities.
constexpr double kMaxExposureEV = 16.0;

double Clip01(double v)
{
    // Written so that a NaN ends up as 0.
    return v > 0.0 ? (v < 1.0 ? v : 1.0) : 0.0;
}

} // namespace

double DefaultToneCurve(double x)
{
    x = Clip01(x);
    if (x == 0.0 || x == 1.0)
        return x;
    const double u = std::pow(x, 1.0 / kToneGamma);
    const double s = (1.0 - kToneContrast) * u + kToneContrast * u * u * (3.0 - 2.0 * u);
    return std::pow(s, kToneGamma);
}

double ExposureRamp(double v, double black)
{
    if (black <= 0.0)
        return Clip01(v);
    const double knee = black * 0.5;
    const double scale = 1.0 / (1.0 - black);
    if (v <= black - knee)
        return 0.0;
    if (v < black + knee) {
        const double d = v - black + knee;
        return d * d / (4.0 * knee) * scale;
    }
    return Clip01((v - black) * scale);
}

double ShadowsBlack(double shadows)
{
    return 0.001 * std::clamp(shadows, 0.0, 100.0);
}

double EncodeFinalSpace(FinalSpace space, double v)
{
    v = Clip01(v);
    switch (space) {
    case FinalSpace::kGrayGamma22:
        return std::pow(v, 1.0 / 2.2);
    case FinalSpace::kGrayGamma18:
        return std::pow(v, 1.0 / 1.8);
    case FinalSpace::kSRGB:
        return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
    }
    throw Error(kErrorUnknown, "unknown final colour space");
}

Render::Render(Host& host, const Negative& negative)
    : fHost(host), fNegative(negative), fSceneReferred(negative.IsSceneReferred()),
      fProfileToneCurve(negative.ProfileToneCurve())
{
    const SRational be = negative.BaselineExposure();
    const double ev = be.As_real64();
    fBaselineExposure = std::isfinite(ev) ? ev : 0.0;
}

Render::~Render() = default;

double Render::Tone(double v) const
{
    if (!fSceneReferred)
        return Clip01(v);
    return fProfileToneCurve ? fProfileToneCurve->Evaluate(v) : DefaultToneCurve(v);
}

std::vector<uint16_t> Render::BuildTable() const
{
    const double ev = std::clamp(fBaselineExposure + Exposure(), -kMaxExposureEV, kMaxExposureEV);
    const double gain = std::exp2(ev);
    const double black = ShadowsBlack(Shadows());
    const double maxCode = fFinalPixelType == PixelType::kUInt8 ? 255.0 : 65535.0;

    std::vector<uint16_t> table(65536);
    for (uint32_t x = 0; x < table.size(); ++x) {
        double v = static_cast<double>(x) / 65535.0 * gain;
        v = Tone(ExposureRamp(v, black));
        const double code = std::floor(EncodeFinalSpace(fFinalSpace, v) * maxCode + 0.5);
        table[x] = static_cast<uint16_t>(std::clamp(code, 0.0, maxCode));
    }
    return table;
}

std::unique_ptr<Image> Render::RenderArea(const Image& src, const Rect& area, uint32_t planes) const
{
    if (src.Planes() != 1 || src.Type() != PixelType::kUInt16)
        ThrowBadFormat("render: the source must be one 16-bit plane");
    if (area.IsEmpty() || !src.Bounds().Contains(area))
        ThrowBadFormat("render: the area is empty or outside the source image");
    if (planes != 1 && planes != 3)
        ThrowBadFormat("render: " + std::to_string(planes) + " output planes asked for, 1 or 3 allowed");

    const std::vector<uint16_t> table = BuildTable();
    auto dst = fHost.Make_dng_image(area.W(), area.H(), planes, fFinalPixelType, ImageFill::kUnset);
    const ConstView16 in = src.ConstView16Of(0).Sub(area);
    const int32_t w = area.W();

    if (fFinalPixelType == PixelType::kUInt8) {
        const View8 out = dst->View8Of(0);
        for (int32_t y = 0; y < in.height; ++y) {
            const uint16_t* s = in.Row(y);
            uint8_t* d = out.Row(y);
            for (int32_t x = 0; x < w; ++x)
                d[x] = static_cast<uint8_t>(table[s[x]]);
            fHost.KeepAlive();
        }
    } else {
        const View16 out = dst->View16Of(0);
        for (int32_t y = 0; y < in.height; ++y) {
            const uint16_t* s = in.Row(y);
            uint16_t* d = out.Row(y);
            for (int32_t x = 0; x < w; ++x)
                d[x] = table[s[x]];
            fHost.KeepAlive();
        }
    }
    // Grey in every space: the other planes are copies of the first.
    uint8_t* data = dst->Data();
    for (uint32_t p = 1; p < planes; ++p)
        std::copy(data, data + dst->PlaneBytes(), data + p * dst->PlaneBytes());
    return dst;
}

} // namespace dng
