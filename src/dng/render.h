// Rendering of one-channel negatives: linear stage-2 values are turned into output-referred grey
// (gamma 2.2, gamma 1.8, or sRGB with equal planes) through exposure, a black-point ramp with a
// soft knee, a tone curve (the camera profile's, else the default one) and the final encoding. The
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

// The default tone curve on linear values in [0, 1] (values outside are clipped first).
// It is an S-curve applied in a gamma-2.2 domain so that its contrast sits in the perceptual
// mid-tones while mid-grey stays nearly where it was (0.18 -> about 0.173):
//     u = x^(1/2.2)
//     s = (1 - a) u + a u^2 (3 - 2u)            with a = 0.4
//     T(x) = s^2.2
// s(0) = 0, s(1) = 1 and s'(u) = (1 - a) + 6a u(1 - u) >= 1 - a > 0, so T is monotone; written as
// T(x) = x ((1 - a) + a u (3 - 2u))^2.2 its derivative is continuous on [0, 1]. The slope is
// (1 - a)^2.2 ~ 0.33 at 0 (soft toe), 1 - a = 0.6 at 1 (soft shoulder) and 1 + a/2 = 1.2 at u = 0.5.
double DefaultToneCurve(double x);

// The black-point ramp on an exposed linear value v, with black point b (0 <= b < 0.5) and a
// quadratic knee of half-width k = b / 2 around it:
//     v <= b - k           : 0
//     b - k < v < b + k    : (v - b + k)^2 / (4k (1 - b))
//     v >= b + k           : (v - b) / (1 - b)            clipped to 1
// Value and slope agree where the pieces meet (slope 0 at b - k, 1 / (1 - b) at b + k), and 1.0
// stays 1.0. With b = 0 it is the identity on [0, 1].
double ExposureRamp(double v, double black);

// The black point that a shadows setting (0..100) gives: 0.001 x shadows, in linear units after
// exposure (shadows 5 clips at 0.005, about code 23 of 255 in gamma 2.2).
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

    // A negative whose values are scene-referred (the usual case) gets its camera profile's tone
    // curve, or the default curve when it has no valid one, and shadows 5; one that is
    // output-referred is rendered with no tone change and shadows 0. Taken from the negative's
    // ColorimetricReference at construction.
    void SetSceneReferred(bool sceneReferred) { fSceneReferred = sceneReferred; }
    bool SceneReferred() const { return fSceneReferred; }
    // Whether the tone comes from the negative's profile curve (scene-referred, valid curve).
    bool UsesProfileToneCurve() const { return fSceneReferred && fProfileToneCurve.has_value(); }
    // The tone curve in use on a linear value: identity (clipped to [0, 1]) for an output-referred
    // negative, else the profile's curve or DefaultToneCurve.
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
    //     round(max x Encode(Tone(Ramp(x / 65535 x 2^E, black))))
    // with E = baseline exposure + exposure, limited to +-16 EV (beyond that every 16-bit value
    // is black or white anyway), and Tone the curve above.
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
