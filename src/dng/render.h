// Rendering of one-channel negatives as DNG readers render them: linear stage-2 values are turned
// into output-referred grey (gamma 2.2, gamma 1.8, or sRGB with equal planes) through the exposure
// ramp (white point and a black point with a soft knee), the exposure tone for a negative exposure,
// a tone curve (the camera profile's, else the readers' default curve) and the final encoding. The
// program's renderer derives from Render and decides which image and area it renders; this class
// does the pixel work. With one channel white balance is the identity, so the negative's camera
// white has nothing to change.
#pragma once

#include "image.h"
#include "rect.h"
#include "tone_curve.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace dng {

class Host;
class Negative;

enum class FinalSpace : uint8_t { kGrayGamma22, kGrayGamma18, kSRGB };

// The exposure ramp on a linear value x in [0, 1] for a white point (2^-max(0, E): a positive
// exposure E brightens by moving white down) and a black point (the shadows setting's, at most
// 0.99 x white). With slope = 1 / (white - black) and a knee of radius
// r = min(black / 2, 1 / (16 slope)) around the black point:
//     x <= black - r          : 0
//     black - r < x < black + r: slope / (4 r) x (x - black + r)^2
//     otherwise               : min(1, (x - black) x slope)
// Value and slope agree where the pieces meet. With black 0 there is no knee.
double ExposureRamp(double x, double white, double black);

// The exposure tone that darkens for a negative exposure E (identity for E >= 0): with s = 2^E,
// a = 16/9 (1 - s), b = s - a/2, c = 1 - a - b,
//     y <= 0.25: y s        otherwise: (a y + b) y + c
// The two pieces meet at 0.25 with the same value and slope, and white stays white.
double ExposureTone(double y, double ev);

// The black point that a shadows setting (0..100) gives: 0.001 x shadows, linear.
double ShadowsBlack(double shadows);

// Encodes a linear value in [0, 1] for the final space: v^(1/2.2), v^(1/1.8), or the sRGB transfer
// function (12.92 v up to 0.0031308, then 1.055 v^(1/2.4) - 0.055).
double EncodeFinalSpace(FinalSpace space, double v);

class Render {
public:
    // The renderer keeps references to both; they must outlive it.
    Render(Host& host, const Negative& negative);
    Render(const Render&) = delete;
    Render& operator=(const Render&) = delete;
    virtual ~Render();

    void SetFinalSpace(FinalSpace space) { fFinalSpace = space; }
    FinalSpace GetFinalSpace() const { return fFinalSpace; }
    // 8- or 16-bit output.
    void SetFinalPixelType(PixelType type) { fFinalPixelType = type; }
    PixelType FinalPixelType() const { return fFinalPixelType; }
    // Longest side of a rendering (0 = no limit); kept for the derived renderer, which sizes.
    void SetMaximumSize(uint32_t size) { fMaximumSize = size; }
    uint32_t MaximumSize() const { return fMaximumSize; }

    // A negative whose values are scene-referred (the usual case) gets the default tone curve and
    // shadows 5; one that is output-referred gets no default tone and shadows 0. A valid camera
    // profile curve is taken in either case, in place of the default. Taken from the negative's
    // ColorimetricReference and profile at construction.
    void SetSceneReferred(bool sceneReferred) { fSceneReferred = sceneReferred; }
    bool SceneReferred() const { return fSceneReferred; }
    // Whether the tone comes from the negative's profile curve (it has a valid one).
    bool UsesProfileToneCurve() const { return fProfileToneCurve.has_value(); }
    // The tone curve in use on a linear value: the profile's curve, else AcrToneCurve for a
    // scene-referred negative, else identity (clipped to [0, 1]).
    double Tone(double v) const;

    // Exposure in EV on top of the negative's baseline exposure (always 0 here).
    double Exposure() const { return 0.0; }
    // The shadows setting (0..100) that sets the black point of the ramp.
    double Shadows() const { return fSceneReferred ? 5.0 : 0.0; }
    // The negative's BaselineExposure in EV (0 when not stored or not a number).
    double BaselineExposure() const { return fBaselineExposure; }

    // The stage-2 value (0..65535) to output code table for the current settings: 256 or 65536
    // levels depending on the final pixel type. Monotone, unless a profile's curve is not (a spline
    // may dip between its points). Each entry is
    //     round(max x Encode(Tone(ExposureTone(ExposureRamp(x / 65535, white, black), E))))
    // with E = baseline exposure + exposure, limited to +-16 EV (beyond that every 16-bit value
    // is black or white anyway), white = 2^-max(0, E), black = min(ShadowsBlack, 0.99 white),
    // and Tone the curve above.
    std::vector<uint16_t> BuildTable() const;

protected:
    Host& GetHost() const { return fHost; }
    const Negative& GetNegative() const { return fNegative; }

    // Renders the area of a one-plane 16-bit stage-2 image into a new image of the area's size with
    // planes planes (1 or 3, all equal) of the final pixel type. Throws kErrorBadFormat for a
    // source that is not one 16-bit plane, an empty area or one outside the source, or a plane
    // count other than 1 or 3.
    std::unique_ptr<Image> RenderArea(const Image& src, const Rect& area, uint32_t planes) const;

private:
    Host& fHost;
    const Negative& fNegative;
    FinalSpace fFinalSpace = FinalSpace::kSRGB;
    PixelType fFinalPixelType = PixelType::kUInt8;
    uint32_t fMaximumSize = 0;
    bool fSceneReferred = true;
    std::optional<ToneCurve> fProfileToneCurve;
    double fBaselineExposure = 0.0;
};

} // namespace dng
