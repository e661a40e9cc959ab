#include "render.h"

#include "acr3_tone_curve.h"
#include "error.h"
#include "host.h"
#include "negative.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace dng {

namespace {

// Beyond +-16 EV every 16-bit value renders as white or black anyway; the clamp keeps absurd stored
// exposures from producing infinities.
constexpr double kMaxExposureEV = 16.0;
// The black point never comes closer to white than this share of it.
constexpr double kMaxBlackOfWhite = 0.99;
// The exposure tone's lower piece is a plain gain up to this value.
constexpr double kExposureToneKnee = 0.25;

double Clip01(double v)
{
    // Written so that a NaN ends up as 0.
    return v > 0.0 ? (v < 1.0 ? v : 1.0) : 0.0;
}

} // namespace

double ExposureRamp(double x, double white, double black)
{
    black = std::min(black, kMaxBlackOfWhite * white);
    const double slope = 1.0 / (white - black);
    const double radius = std::min(0.5 * black, 1.0 / (16.0 * slope));
    if (radius > 0.0) {
        if (x <= black - radius)
            return 0.0;
        if (x < black + radius) {
            const double d = x - black + radius;
            return slope / (4.0 * radius) * d * d;
        }
    }
    return Clip01((x - black) * slope);
}

double ExposureTone(double y, double ev)
{
    if (!(ev < 0.0))
        return y;
    const double s = std::exp2(ev);
    if (y <= kExposureToneKnee)
        return y * s;
    const double a = 16.0 / 9.0 * (1.0 - s);
    const double b = s - 0.5 * a;
    const double c = 1.0 - a - b;
    return (a * y + b) * y + c;
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
    if (fProfileToneCurve)
        return fProfileToneCurve->Evaluate(v);
    return fSceneReferred ? AcrToneCurve(v) : Clip01(v);
}

std::vector<uint16_t> Render::BuildTable() const
{
    const double ev = std::clamp(fBaselineExposure + Exposure(), -kMaxExposureEV, kMaxExposureEV);
    const double white = std::exp2(-std::max(0.0, ev));
    const double black = std::min(ShadowsBlack(Shadows()), kMaxBlackOfWhite * white);
    const double maxCode = fFinalPixelType == PixelType::kUInt8 ? 255.0 : 65535.0;

    std::vector<uint16_t> table(65536);
    for (uint32_t x = 0; x < table.size(); ++x) {
        const double linear = static_cast<double>(x) / 65535.0;
        const double v = Tone(ExposureTone(ExposureRamp(linear, white, black), ev));
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
