#include "color_spec.h"

#include "error.h"
#include "temperature.h"

#include <cmath>
#include <string>
#include <utility>

namespace dng {

namespace {

constexpr int kMaxNeutralPasses = 30;
constexpr double kNeutralTolerance = 1e-7;
constexpr double kMinCameraWhite = 0.001;

// Linear Bradford cone response, and the limits on the per-cone gain of an adaptation.
constexpr double kBradford[9] = {
    0.8951, 0.2664, -0.1614,
    -0.7502, 1.7135, 0.0367,
    0.0389, -0.0685, 1.0296,
};
constexpr double kMinAdaptGain = 0.1;
constexpr double kMaxAdaptGain = 10.0;

// The matrices that apply to one white point.
struct Interpolated {
    Matrix xyzToCamera; // AB * CC * CM
    Matrix abcc;        // AB * CC
    Matrix forward;     // empty when the profile has no forward matrices
    Matrix reduction;   // empty unless CP > 3 and the profile has reduction matrices
};

// A white point we can work with: every XYZ component positive.
bool IsValidWhite(const XYCoord& xy)
{
    return std::isfinite(xy.x) && std::isfinite(xy.y) && xy.x > 0.0 && xy.y > 0.0 && xy.x + xy.y < 1.0;
}

void CheckMatrix(const Matrix& m, uint32_t rows, uint32_t cols, const char* name)
{
    if (m.IsEmpty())
        return;
    if (m.Rows() != rows || m.Cols() != cols)
        ThrowBadFormat(std::string(name) + " must be " + std::to_string(rows) + " x " + std::to_string(cols) +
                       ", not " + std::to_string(m.Rows()) + " x " + std::to_string(m.Cols()));
    if (!IsFinite(m))
        ThrowBadFormat(std::string(name) + " has a non-finite entry");
}

// Every matrix inverted here comes from the file's colour tags or is made of them (a blend of the
// two sets, a product with the calibration, the neutral of a white): one that cannot be inverted
// is damage of the photo, not a fault of the program. Called from a catch block.
[[noreturn]] void RethrowFileMatrixFailure(const Error& e)
{
    if (e.Code() == kErrorMatrixMath)
        throw Error(kErrorFileIsDamaged, std::string("the colour matrices give no colour transform (") + e.what() + ")");
    throw;
}

Matrix BradfordMatrix()
{
    return Matrix::FromRowMajor(3, 3, kBradford);
}

// Chromatic adaptation of XYZ values from white src to white dst.
Matrix Bradford(const XYCoord& src, const XYCoord& dst)
{
    const Matrix mb = BradfordMatrix();
    const Vector s = mb * XYtoXYZ(src);
    const Vector d = mb * XYtoXYZ(dst);
    Vector gain(3);
    for (uint32_t i = 0; i < 3; ++i) {
        const double si = std::fmax(s[i], 0.0);
        const double di = std::fmax(d[i], 0.0);
        // A cone with no response at the source white would need an unbounded gain.
        const double g = si > 0.0 ? di / si : kMaxAdaptGain;
        gain[i] = std::fmin(std::fmax(g, kMinAdaptGain), kMaxAdaptGain);
    }
    return Invert(mb) * Matrix::Diagonal(gain) * mb;
}

// Weight of set 1 for a white of temperature t; linear in mired between t1 < t2.
double MiredWeight(double t, double t1, double t2)
{
    if (t <= t1)
        return 1.0;
    if (t >= t2)
        return 0.0;
    const double g = (1.0 / t - 1.0 / t2) / (1.0 / t1 - 1.0 / t2);
    return std::fmin(std::fmax(g, 0.0), 1.0);
}

Matrix Blend(double g, const Matrix& m1, const Matrix& m2)
{
    if (m2.IsEmpty())
        return m1;
    return g * m1 + (1.0 - g) * m2;
}

// The profile has been normalised by the constructor: a second set exists only when it is to be
// interpolated (temperatures known, different and in ascending order), camera calibrations are
// present in both sets or in neither, and forward / reduction matrices likewise.
Interpolated Interpolate(const ColorProfileData& p, double t1, double t2, const XYCoord& white)
{
    double g = 1.0;
    if (!p.colorMatrix2.IsEmpty())
        g = MiredWeight(Temperature(white).Kelvin(), t1, t2);

    Interpolated out;
    const uint32_t cp = p.channels;
    const Matrix cm = Blend(g, p.colorMatrix1, p.colorMatrix2);
    const Matrix cc = p.cameraCalibration1.IsEmpty() ? Matrix::Identity(cp)
                                                     : Blend(g, p.cameraCalibration1, p.cameraCalibration2);
    const Matrix ab = p.analogBalance.IsEmpty() ? Matrix::Identity(cp) : Matrix::Diagonal(p.analogBalance);
    out.abcc = ab * cc;
    out.xyzToCamera = out.abcc * cm;
    if (!p.forwardMatrix1.IsEmpty())
        out.forward = Blend(g, p.forwardMatrix1, p.forwardMatrix2);
    if (!p.reductionMatrix1.IsEmpty())
        out.reduction = Blend(g, p.reductionMatrix1, p.reductionMatrix2);
    return out;
}

// Left inverse of an XYZ-to-camera matrix (CP x 3): exact for three channels, through the
// reduction matrix for more, otherwise the least-squares pseudo-inverse.
Matrix CameraToXYZ(const Matrix& xyzToCamera, const Matrix& reduction)
{
    if (xyzToCamera.Rows() == 3 || reduction.IsEmpty())
        return Invert(xyzToCamera);
    return Invert(reduction * xyzToCamera) * reduction;
}

// Scales a forward matrix row by row so that the camera white [1 ... 1] maps to XYZ(D50).
Matrix NormalizeForwardMatrix(const Matrix& fm)
{
    if (fm.IsEmpty())
        return fm;
    Vector ones(fm.Cols());
    for (uint32_t i = 0; i < ones.Count(); ++i)
        ones[i] = 1.0;
    const Vector sums = fm * ones;
    const Vector d50 = XYtoXYZ(kD50);
    Vector gain(3);
    for (uint32_t i = 0; i < 3; ++i) {
        if (!(sums[i] > 0.0))
            ThrowBadFormat("a forward matrix maps the camera white to a non-positive XYZ");
        gain[i] = d50[i] / sums[i];
    }
    return Matrix::Diagonal(gain) * fm;
}

// Camera values balanced for `white` (whose camera neutral is cameraWhite) to XYZ with a D50 white.
Matrix BalancedCameraToPCS(const Interpolated& m, const Vector& cameraWhite, const XYCoord& white)
{
    if (!m.forward.IsEmpty()) {
        // The forward matrix takes white-balanced camera values, so undo AB * CC and balance
        // the reference camera's neutral to [1 ... 1] first.
        const Matrix abccInverse = Invert(m.abcc);
        const Vector ref = abccInverse * cameraWhite;
        return m.forward * Invert(Matrix::Diagonal(ref)) * abccInverse;
    }
    // D50 white -> camera, scaled so that D50 at Y = 1 is reached just as the first camera
    // channel saturates, then inverted.
    Matrix pcsToCamera = m.xyzToCamera * Bradford(kD50, white);
    const double scale = (pcsToCamera * XYtoXYZ(kD50)).MaxEntry();
    if (!std::isfinite(scale) || !(scale > 0.0))
        ThrowBadFormat("colour matrix gives no camera white for this white point");
    pcsToCamera.Scale(1.0 / scale);
    return CameraToXYZ(pcsToCamera, m.reduction);
}

} // namespace

ColorSpec::ColorSpec(const ColorProfileData& data) : fChannels(data.channels)
{
    const uint32_t cp = data.channels;
    if (cp < 1 || cp > 4)
        ThrowBadFormat("colour planes must be 1 to 4, not " + std::to_string(cp));

    if (cp == 1) {
        // Monochrome: the colour tags do not apply.
        fData.channels = 1;
        fWhiteXY = kD50;
        fCameraWhite = Vector{1.0};
        const Vector d50 = XYtoXYZ(kD50);
        fCameraToPCS = Matrix(3, 1);
        for (uint32_t i = 0; i < 3; ++i)
            fCameraToPCS[i][0] = d50[i];
        return;
    }

    if (data.colorMatrix1.IsEmpty())
        ThrowBadFormat("colour image without a colour matrix");
    CheckMatrix(data.colorMatrix1, cp, 3, "ColorMatrix1");
    CheckMatrix(data.colorMatrix2, cp, 3, "ColorMatrix2");
    CheckMatrix(data.cameraCalibration1, cp, cp, "CameraCalibration1");
    CheckMatrix(data.cameraCalibration2, cp, cp, "CameraCalibration2");
    CheckMatrix(data.forwardMatrix1, 3, cp, "ForwardMatrix1");
    CheckMatrix(data.forwardMatrix2, 3, cp, "ForwardMatrix2");
    CheckMatrix(data.reductionMatrix1, 3, cp, "ReductionMatrix1");
    CheckMatrix(data.reductionMatrix2, 3, cp, "ReductionMatrix2");
    if (!data.analogBalance.IsEmpty()) {
        if (data.analogBalance.Count() != cp)
            ThrowBadFormat("AnalogBalance must have one entry per colour plane");
        for (uint32_t i = 0; i < cp; ++i)
            if (!std::isfinite(data.analogBalance[i]) || !(data.analogBalance[i] > 0.0))
                ThrowBadFormat("AnalogBalance entries must be positive");
    }

    fData = data;
    ColorProfileData& p = fData;
    fTemperature1 = IlluminantToTemperature(p.calibrationIlluminant1);
    fTemperature2 = IlluminantToTemperature(p.calibrationIlluminant2);

    const bool twoSets = !p.colorMatrix2.IsEmpty() && fTemperature1 > 0.0 && fTemperature2 > 0.0 &&
                         fTemperature1 != fTemperature2;
    if (!twoSets) {
        // Set 1 serves every white point.
        p.colorMatrix2 = Matrix();
        p.cameraCalibration2 = Matrix();
        p.forwardMatrix2 = Matrix();
        p.reductionMatrix2 = Matrix();
    } else if (fTemperature1 > fTemperature2) {
        std::swap(p.colorMatrix1, p.colorMatrix2);
        std::swap(p.cameraCalibration1, p.cameraCalibration2);
        std::swap(p.forwardMatrix1, p.forwardMatrix2);
        std::swap(p.reductionMatrix1, p.reductionMatrix2);
        std::swap(p.calibrationIlluminant1, p.calibrationIlluminant2);
        std::swap(fTemperature1, fTemperature2);
    }

    // Camera calibration: only for the unit it was measured on; a missing one is the identity.
    if (!p.calibrationSignaturesMatch) {
        p.cameraCalibration1 = Matrix();
        p.cameraCalibration2 = Matrix();
    } else if (twoSets && p.cameraCalibration1.IsEmpty() != p.cameraCalibration2.IsEmpty()) {
        (p.cameraCalibration1.IsEmpty() ? p.cameraCalibration1 : p.cameraCalibration2) = Matrix::Identity(cp);
    }

    // Forward and reduction matrices have no default: use them only when every set has one.
    if (p.forwardMatrix1.IsEmpty() || (twoSets && p.forwardMatrix2.IsEmpty())) {
        p.forwardMatrix1 = Matrix();
        p.forwardMatrix2 = Matrix();
    }
    p.forwardMatrix1 = NormalizeForwardMatrix(p.forwardMatrix1);
    p.forwardMatrix2 = NormalizeForwardMatrix(p.forwardMatrix2);
    if (cp <= 3 || p.reductionMatrix1.IsEmpty() || (twoSets && p.reductionMatrix2.IsEmpty())) {
        p.reductionMatrix1 = Matrix();
        p.reductionMatrix2 = Matrix();
    }
}

Matrix ColorSpec::FindXYZtoCamera(const XYCoord& white, Matrix* forwardMatrix) const
{
    Interpolated m = Interpolate(fData, fTemperature1, fTemperature2, white);
    if (forwardMatrix)
        *forwardMatrix = m.forward;
    return m.xyzToCamera;
}

XYCoord ColorSpec::NeutralToXY(const Vector& neutral) const
{
    if (neutral.Count() != fChannels)
        ThrowBadFormat("camera neutral must have one entry per colour plane");
    for (uint32_t i = 0; i < neutral.Count(); ++i)
        if (!std::isfinite(neutral[i]) || !(neutral[i] > 0.0))
            ThrowBadFormat("camera neutral entries must be positive");
    if (fChannels == 1)
        return kD50;

    // The matrix depends on the white point, so refine from D50 until the white settles.
    XYCoord last = kD50;
    for (int pass = 0; pass < kMaxNeutralPasses; ++pass) {
        const Interpolated m = Interpolate(fData, fTemperature1, fTemperature2, last);
        Vector xyz;
        try {
            xyz = CameraToXYZ(m.xyzToCamera, m.reduction) * neutral;
        } catch (const Error& e) {
            RethrowFileMatrixFailure(e);
        }
        const double sum = xyz[0] + xyz[1] + xyz[2];
        const XYCoord next{xyz[0] / sum, xyz[1] / sum};
        if (!IsValidWhite(next))
            ThrowBadFormat("camera neutral does not correspond to a valid white point");
        if (std::fabs(next.x - last.x) + std::fabs(next.y - last.y) < kNeutralTolerance)
            return next;
        if (pass == kMaxNeutralPasses - 1) {
            // Still moving: settle between the last two estimates (it may be oscillating).
            return XYCoord{(last.x + next.x) * 0.5, (last.y + next.y) * 0.5};
        }
        last = next;
    }
    return last; // not reached: the last pass returns
}

void ColorSpec::SetWhiteXY(const XYCoord& white)
{
    if (fChannels == 1)
        return; // monochrome: the white is always D50 and white balance does not apply
    if (!IsValidWhite(white))
        ThrowBadFormat("invalid white point");

    const Interpolated m = Interpolate(fData, fTemperature1, fTemperature2, white);

    Vector cameraWhite = m.xyzToCamera * XYtoXYZ(white);
    const double peak = cameraWhite.MaxEntry();
    for (uint32_t i = 0; i < cameraWhite.Count(); ++i)
        if (!std::isfinite(cameraWhite[i]))
            ThrowBadFormat("colour matrix gives no camera white for this white point");
    if (!(peak > 0.0))
        ThrowBadFormat("colour matrix gives no camera white for this white point");
    for (uint32_t i = 0; i < cameraWhite.Count(); ++i)
        cameraWhite[i] = std::fmin(std::fmax(cameraWhite[i] / peak, kMinCameraWhite), 1.0);

    Matrix cameraToPCS;
    try {
        cameraToPCS = BalancedCameraToPCS(m, cameraWhite, white);
    } catch (const Error& e) {
        RethrowFileMatrixFailure(e);
    }

    fWhiteXY = white;
    fCameraWhite = cameraWhite;
    fCameraToPCS = cameraToPCS;
}

} // namespace dng
