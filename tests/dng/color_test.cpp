#include "dng/color_spec.h"
#include "dng/error.h"
#include "dng/matrix.h"
#include "dng/temperature.h"
#include "dng/xy_coord.h"

#include <gtest/gtest.h>

#include <limits>
#include <utility>
#include <vector>

namespace {

using dng::ColorProfileData;
using dng::ColorSpec;
using dng::Matrix;
using dng::Temperature;
using dng::Vector;
using dng::XYCoord;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const Vector kXYZD50 = dng::XYtoXYZ(dng::kD50);

Matrix M(uint32_t rows, uint32_t cols, std::vector<double> v) { return Matrix::FromRowMajor(rows, cols, v.data()); }
Matrix M3(std::vector<double> v) { return M(3, 3, std::move(v)); }

void ExpectNear(const Matrix& a, const Matrix& b, double tol)
{
    ASSERT_EQ(a.Rows(), b.Rows());
    ASSERT_EQ(a.Cols(), b.Cols());
    for (uint32_t r = 0; r < a.Rows(); ++r)
        for (uint32_t c = 0; c < a.Cols(); ++c)
            EXPECT_NEAR(a[r][c], b[r][c], tol) << "at " << r << "," << c;
}

void ExpectNear(const Vector& a, const Vector& b, double tol)
{
    ASSERT_EQ(a.Count(), b.Count());
    for (uint32_t i = 0; i < a.Count(); ++i)
        EXPECT_NEAR(a[i], b[i], tol) << "at " << i;
}

void ExpectNear(const XYCoord& a, const XYCoord& b, double tol) { ExpectNear(Vector{a.x, a.y}, Vector{b.x, b.y}, tol); }

template <typename F>
void ExpectErrorCode(F&& f, int code)
{
    try {
        f();
        ADD_FAILURE() << "no dng::Error thrown";
    } catch (const dng::Error& e) {
        EXPECT_EQ(e.Code(), code) << e.what();
    }
}

// The camera neutral a colour matrix gives a white point, largest entry 1.
Vector NeutralOf(const Matrix& cm, const XYCoord& white)
{
    Vector v = cm * dng::XYtoXYZ(white);
    const double m = v.MaxEntry();
    for (uint32_t i = 0; i < v.Count(); ++i)
        v[i] /= m;
    return v;
}

TEST(MatrixInvert, KnownInversesAndErrors)
{
    ExpectNear(dng::Invert(M3({1, 2, 3, 0, 1, 4, 5, 6, 0})), M3({-24, 18, 5, 20, -15, -4, -5, 4, 1}), 1e-12);
    // Zero leading pivots need row exchanges.
    EXPECT_EQ(dng::Invert(M3({0, 1, 0, 1, 0, 0, 0, 0, 2})), M3({0, 1, 0, 1, 0, 0, 0, 0, 0.5}));
    // Small but regular: the singular test is relative to the size of the entries.
    const Matrix small = M3({1e-9, 0, 0, 0, 2e-9, 0, 0, 0, 4e-9});
    ExpectNear(dng::Invert(small) * small, Matrix::Identity(3), 1e-12);

    for (const Matrix& bad : {M3({1, 2, 3, 2, 4, 6, 0, 1, 1}), M3({1, 2, 3, 1, 2, 3 + 1e-15, 0, 1, 1}), Matrix(3, 3),
                              Matrix(), M3({1, 0, 0, 0, kNaN, 0, 0, 0, 1}), M3({kInf, 0, 0, 0, 1, 0, 0, 0, 1})})
        ExpectErrorCode([&] { dng::Invert(bad); }, dng::kErrorMatrixMath);
    EXPECT_THROW(Matrix(3, 3) * Matrix(2, 3), dng::Error);
    EXPECT_THROW(Matrix(5, 1), dng::Error);
}

TEST(MatrixInvert, PseudoInverse)
{
    const Matrix a = M(4, 3, {0.7, -0.2, -0.05, -0.4, 1.2, 0.25, -0.05, 0.2, 0.74, 0.3, 0.5, 0.1});
    const Matrix p = dng::Invert(a);
    ExpectNear(p * a, Matrix::Identity(3), 1e-12);
    // Least squares: the residual is orthogonal to the columns.
    const Vector y{1, 2, 3, 4};
    const Vector ax = a * (p * y);
    const Vector residual{y[0] - ax[0], y[1] - ax[1], y[2] - ax[2], y[3] - ax[3]};
    ExpectNear(dng::Transpose(a) * residual, Vector{0, 0, 0}, 1e-12);
    ExpectNear(dng::Transpose(a) * dng::Invert(dng::Transpose(a)), Matrix::Identity(3), 1e-12);
    ExpectErrorCode([] { dng::Invert(M(4, 3, {1, 2, 3, 2, 4, 6, 3, 6, 9, 1, 2, 3})); }, dng::kErrorMatrixMath);
}

TEST(ColorXY, ConversionGuardsAndIlluminants)
{
    ExpectNear(dng::XYtoXYZ(dng::kD65), Vector{0.3127 / 0.3290, 1, 0.3583 / 0.3290}, 1e-15);
    ExpectNear(dng::XYZtoXY(Vector{2 * 0.3127 / 0.3290, 2, 2 * 0.3583 / 0.3290}), dng::kD65, 1e-15);
    EXPECT_EQ(dng::XYtoXYZ(XYCoord{0.3, 0}), kXYZD50);
    EXPECT_EQ(dng::XYtoXYZ(XYCoord{kNaN, 0.3}), kXYZD50);
    EXPECT_EQ(dng::XYZtoXY(Vector{1, -1, 0}), dng::kD50);
    EXPECT_EQ(dng::XYZtoXY(Vector{kInf, 1, 1}), dng::kD50);
    const std::pair<uint32_t, double> known[] = {{17, 2850}, {21, 6500}, {13, 5050}, {2, 4150}, {14, 4150},
                                                 {15, 3525}, {16, 2925}, {0, 0},    {5, 0},    {255, 0}};
    for (const auto& [code, kelvin] : known)
        EXPECT_EQ(dng::IlluminantToTemperature(code), kelvin) << code;
}

TEST(Temperature, StandardWhitesAndTintSign)
{
    // Daylight sits above the Planckian locus (greenish): positive tint, about +10.
    EXPECT_NEAR(Temperature(dng::kD65).Kelvin(), 6503.7, 1.0);
    EXPECT_NEAR(Temperature(dng::kD65).Tint(), 9.77, 0.05);
    EXPECT_NEAR(Temperature(dng::kD50).Kelvin(), 5000.7, 1.0);
    EXPECT_NEAR(Temperature(dng::kStdA).Kelvin(), 2854.9, 1.0);
    EXPECT_NEAR(Temperature(dng::kStdA).Tint(), 0.0, 0.1);
    // The locus point at 325 mired keeps u = 0.24702.
    const XYCoord at325 = Temperature(1e6 / 325, 0).Get_xy_coord();
    EXPECT_NEAR(2 * at325.x / (1.5 - at325.x + 6 * at325.y), 0.24702, 1e-12);
    for (double kelvin : {2500.0, 9000.0}) {
        EXPECT_GT(Temperature(kelvin, 30).Get_xy_coord().y, Temperature(kelvin, 0).Get_xy_coord().y);
        EXPECT_LT(Temperature(kelvin, -30).Get_xy_coord().y, Temperature(kelvin, 0).Get_xy_coord().y);
    }
}

TEST(Temperature, RoundTrips)
{
    for (double kelvin = 2000; kelvin <= 50000; kelvin *= 1.07)
        for (double tint = -100; tint <= 100; tint += 12.5) {
            const Temperature back(Temperature(kelvin, tint).Get_xy_coord());
            EXPECT_NEAR(back.Kelvin(), kelvin, kelvin * 2e-4) << kelvin << " K, tint " << tint;
            EXPECT_NEAR(back.Tint(), tint, 0.01) << kelvin << " K, tint " << tint;
        }
}

TEST(Temperature, ClampingAndBadInput)
{
    const XYCoord coolest = Temperature(1e6 / 600.0, 0).Get_xy_coord();
    for (double kelvin : {1000.0, 1666.0, 0.0, -5000.0, -kInf})
        EXPECT_EQ(Temperature(kelvin, 0).Get_xy_coord(), coolest) << kelvin;
    EXPECT_NEAR(Temperature(XYCoord{0.62, 0.37}).Kelvin(), 1e6 / 600.0, 1e-9);
    ExpectNear(Temperature(kInf, 0).Get_xy_coord(), Temperature(1e12, 0).Get_xy_coord(), 1e-9);
    EXPECT_NEAR(Temperature(XYCoord{0.2, 0.2}).Kelvin(), 100000.0, 1e-6); // bluest isotherm used

    EXPECT_THROW(Temperature(XYCoord{kNaN, 0.3}), dng::Error);
    EXPECT_THROW(Temperature(XYCoord{3.0, 0.1}), dng::Error); // no uv point
    EXPECT_THROW(Temperature(kNaN, 0).Get_xy_coord(), dng::Error);
    EXPECT_THROW(Temperature(5000, 1e9).Get_xy_coord(), dng::Error);
}

// Colour matrices (standard light A, D65) of the shared sample files.
const double kM9[2][9] = {{0.7038, -0.2027, -0.0376, -0.3923, 1.1746, 0.2469, -0.0533, 0.1939, 0.7391},
                          {0.6687, -0.1751, -0.0291, -0.3556, 1.1373, 0.2492, -0.0548, 0.2204, 0.7146}};
const double kD800[2][9] = {{0.8276, -0.2424, -0.0662, -0.5318, 1.2927, 0.2668, -0.1183, 0.1803, 0.777},
                            {0.7866, -0.2108, -0.0555, -0.4869, 1.2483, 0.2681, -0.1176, 0.2069, 0.7501}};
const double k5D3[2][9] = {{0.7041, -0.0842, -0.109, -0.4714, 1.2911, 0.1981, -0.0926, 0.1981, 0.586},
                           {0.6722, -0.0635, -0.0963, -0.4287, 1.2461, 0.2028, -0.0908, 0.2162, 0.5668}};
const double kA7S[2][9] = {{0.6141, -0.1668, -0.0321, -0.3865, 1.1859, 0.2264, -0.0752, 0.1684, 0.5978},
                           {0.5838, -0.143, -0.0246, -0.3497, 1.1477, 0.2297, -0.0748, 0.1885, 0.5778}};
const double kLeicaT[2][9] = {{0.6622, -0.193, -0.0562, -0.6078, 1.3524, 0.2832, -0.143, 0.1647, 0.7333},
                              {0.6295, -0.1679, -0.0475, -0.5586, 1.3046, 0.2837, -0.141, 0.1889, 0.7075}};
const double kM240[2][9] = {{0.7564, -0.2422, -0.0813, -0.4447, 1.3848, 0.0533, -0.0818, 0.2295, 0.6888},
                            {0.7198, -0.214, -0.0712, -0.4005, 1.3326, 0.0649, -0.081, 0.2521, 0.6673}};
const double k7D[2][9] = {{0.7179, -0.1225, -0.0976, -0.4266, 1.216, 0.2368, -0.0582, 0.1541, 0.6413},
                          {0.6844, -0.0996, -0.0856, -0.3876, 1.1761, 0.2396, -0.0593, 0.1772, 0.6198}};
const double kD200[2][9] = {{0.879, -0.2572, -0.0882, -0.9463, 1.7148, 0.2395, -0.1532, 0.1251, 0.8346},
                            {0.8367, -0.2248, -0.0763, -0.8758, 1.6446, 0.2422, -0.1527, 0.155, 0.8053}};

ColorProfileData Profile(const double (&cm)[2][9], uint32_t illuminant1 = 17, uint32_t illuminant2 = 21)
{
    ColorProfileData p;
    p.channels = 3;
    p.colorMatrix1 = Matrix::FromRowMajor(3, 3, cm[0]);
    p.colorMatrix2 = Matrix::FromRowMajor(3, 3, cm[1]);
    p.calibrationIlluminant1 = illuminant1;
    p.calibrationIlluminant2 = illuminant2;
    return p;
}

TEST(ColorSpec, SampleNeutralsGiveTheSceneTemperature)
{
    struct Sample {
        const char* file;
        const double (*cm)[2][9];
        Vector neutral;
        double kelvin;
    } samples[] = {
        {"m9-16bit-rggb", &kM9, {0.42298, 1, 0.812886}, 5600},
        {"m9-8bit-squarelaw", &kM9, {0.437037, 1, 0.775619}, 5200},
        {"d800-3000x2000", &kD800, {0.457041, 1, 0.806737}, 6000},
        {"d800-fullsize", &kD800, {0.464134, 1, 0.789587}, 5800},
        {"5d3-2400x1600", &k5D3, {0.505024, 1, 0.594866}, 5000},
        {"sony-a7s-bggr", &kA7S, {0.361366, 1, 0.70018}, 6500},
        {"leica-t-warp", &kLeicaT, {0.356901, 1, 0.740446}, 6200},
        {"leica-m240-jpegpreview", &kM240, {0.428748, 1, 0.697581}, 4800},
        {"canon-7d-unsupported", &k7D, {0.464021, 1, 0.673138}, 5500},
        {"d200-grbg", &kD200, {0.439706, 1, 0.862779}, 7000},
    };
    for (const Sample& s : samples) {
        SCOPED_TRACE(s.file);
        ColorSpec spec(Profile(*s.cm));
        const XYCoord white = spec.NeutralToXY(s.neutral);
        EXPECT_NEAR(Temperature(white).Kelvin(), s.kelvin, s.kelvin * 0.002);
        // And back: the neutrals are stored to six digits.
        spec.SetWhiteXY(white);
        ExpectNear(spec.CameraWhite(), s.neutral, 2e-6);
        ExpectNear(spec.CameraToPCS() * spec.CameraWhite(), kXYZD50, 1e-12);
    }
}

TEST(ColorSpec, TwoIlluminantWeightIsLinearInMired)
{
    // Made-up matrices far apart, so that the weight shows.
    const double cm[2][9] = {{0.9, -0.3, -0.1, -0.4, 1.3, 0.2, -0.1, 0.3, 0.5},
                             {0.6, -0.1, -0.05, -0.3, 1.1, 0.25, -0.05, 0.15, 0.8}};
    const ColorProfileData p = Profile(cm); // 2850 K and 6500 K
    const Matrix cm1 = p.colorMatrix1, cm2 = p.colorMatrix2;
    const auto atMired = [](double w1) { return 1.0 / (w1 / 2850.0 + (1.0 - w1) / 6500.0); };
    const std::pair<double, double> cases[] = {{1800, 1}, {2850, 1}, {atMired(0.25), 0.25}, {atMired(0.5), 0.5},
                                               {6500, 0}, {12000, 0}};
    ColorSpec spec(p);
    ColorProfileData reversed = p;
    std::swap(reversed.colorMatrix1, reversed.colorMatrix2);
    std::swap(reversed.calibrationIlluminant1, reversed.calibrationIlluminant2);
    ColorSpec swapped(reversed);
    for (const auto& [kelvin, w1] : cases) {
        SCOPED_TRACE(kelvin);
        const XYCoord white = Temperature(kelvin, 0).Get_xy_coord();
        spec.SetWhiteXY(white);
        ExpectNear(spec.CameraWhite(), NeutralOf(w1 * cm1 + (1.0 - w1) * cm2, white), 1e-6);
        ExpectNear(spec.NeutralToXY(spec.CameraWhite()), white, 1e-6);
        swapped.SetWhiteXY(white);
        EXPECT_EQ(swapped.CameraWhite(), spec.CameraWhite());
        EXPECT_EQ(swapped.CameraToPCS(), spec.CameraToPCS());
    }

    // Set 1 alone when the second cannot be interpolated: unknown or equal temperatures, no CM2.
    ColorProfileData single = p;
    single.colorMatrix2 = Matrix();
    for (const ColorProfileData& q : {Profile(cm, 0, 21), Profile(cm, 17, 255), Profile(cm, 17, 3), single}) {
        ColorSpec one(q);
        for (double kelvin : {2000.0, 9000.0}) {
            const XYCoord white = Temperature(kelvin, 0).Get_xy_coord();
            one.SetWhiteXY(white);
            ExpectNear(one.CameraWhite(), NeutralOf(cm1, white), 1e-12);
        }
    }
}

TEST(ColorSpec, CameraToPCSAdaptsTheWhiteToD50)
{
    const Matrix mb = M3({0.8951, 0.2664, -0.1614, -0.7502, 1.7135, 0.0367, 0.0389, -0.0685, 1.0296});
    ColorProfileData p = Profile(kD200, 21, 0); // one matrix, so XYZ -> camera is known exactly
    ColorSpec spec(p);
    for (double kelvin : {2400.0, 5000.0, 7500.0}) {
        SCOPED_TRACE(kelvin);
        spec.SetWhiteXY(Temperature(kelvin, -4).Get_xy_coord());
        // The camera white, whose largest channel just saturates, is the D50 white at Y = 1.
        ExpectNear(spec.CameraToPCS() * spec.CameraWhite(), kXYZD50, 1e-12);
        // Scene XYZ -> camera -> PCS scales the Bradford cone responses and nothing else.
        const Matrix cone = mb * spec.CameraToPCS() * p.colorMatrix1 * dng::Invert(mb);
        for (uint32_t r = 0; r < 3; ++r)
            for (uint32_t c = 0; c < 3; ++c)
                EXPECT_NEAR(cone[r][c], r == c ? cone[r][c] : 0.0, 1e-9);
    }

    // With a forward matrix (not normalised: rows sum to about twice D50), analog balance and
    // calibration.
    const Matrix fm = M3({0.8, 0.6, 0.5286, 0.6, 1.2, 0.2, 0.1, 0.2, 1.3502});
    p.forwardMatrix1 = fm;
    p.analogBalance = Vector{1.1, 1.0, 0.9};
    p.cameraCalibration1 = M3({1.05, 0, 0, 0, 1, 0, 0, 0, 0.97});
    ColorSpec withFM(p);
    const XYCoord white = Temperature(4300, 3).Get_xy_coord();
    withFM.SetWhiteXY(white);
    const Matrix abcc = Matrix::Diagonal(p.analogBalance) * p.cameraCalibration1;
    ExpectNear(withFM.CameraWhite(), NeutralOf(abcc * p.colorMatrix1, white), 1e-12);
    ExpectNear(withFM.CameraToPCS() * withFM.CameraWhite(), kXYZD50, 1e-12);
    // A pure red of the white-balanced reference camera comes out as the first column of FM.
    const Vector ref = dng::Invert(abcc) * withFM.CameraWhite();
    const Vector pcs = withFM.CameraToPCS() * (abcc * Vector{ref[0], 0, 0});
    for (uint32_t i = 0; i < 3; ++i)
        EXPECT_NEAR(pcs[i], fm[i][0] * kXYZD50[i] / (fm[i][0] + fm[i][1] + fm[i][2]), 1e-12);

    // Calibrations made for another unit are ignored.
    p.calibrationSignaturesMatch = false;
    ColorSpec foreign(p);
    foreign.SetWhiteXY(white);
    ExpectNear(foreign.CameraWhite(), NeutralOf(Matrix::Diagonal(p.analogBalance) * p.colorMatrix1, white), 1e-12);
}

TEST(ColorSpec, FourChannelsAndMonochrome)
{
    ColorProfileData p;
    p.channels = 4;
    p.colorMatrix1 = M(4, 3, {0.7, -0.2, -0.05, -0.4, 1.2, 0.25, -0.05, 0.2, 0.74, 0.3, 0.5, 0.1});
    ColorProfileData reduced = p;
    reduced.reductionMatrix1 = M(3, 4, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0});
    const XYCoord white = Temperature(5200, 0).Get_xy_coord();
    for (const ColorProfileData& q : {p, reduced}) {
        ColorSpec spec(q);
        const XYCoord found = spec.NeutralToXY(NeutralOf(p.colorMatrix1, white));
        ExpectNear(found, white, 1e-9);
        spec.SetWhiteXY(found);
        ExpectNear(spec.CameraToPCS() * spec.CameraWhite(), kXYZD50, 1e-9);
        if (!q.reductionMatrix1.IsEmpty()) {
            EXPECT_EQ(spec.CameraToPCS()[1][3], 0.0); // only the selected channels are read
        }
    }

    ColorProfileData mono;
    mono.channels = 1;
    mono.colorMatrix1 = Matrix::Identity(3); // colour tags do not apply to one plane
    ColorSpec spec(mono);
    spec.SetWhiteXY(dng::kStdA);
    EXPECT_EQ(spec.WhiteXY(), dng::kD50);
    EXPECT_EQ(spec.CameraWhite(), Vector{1.0});
    EXPECT_EQ(spec.NeutralToXY(Vector{0.5}), dng::kD50);
    ExpectNear(spec.CameraToPCS() * Vector{0.25}, Vector{0.25 * kXYZD50[0], 0.25, 0.25 * kXYZD50[2]}, 1e-15);
}

TEST(ColorSpec, BadInputIsAnError)
{
    ColorSpec spec(Profile(kM9));
    for (const Vector& n :
         {Vector{0.4, 0, 0.8}, Vector{0, 0, 0}, Vector{0.4, -1, 0.8}, Vector{kNaN, 1, 1}, Vector{1, 1}})
        ExpectErrorCode([&] { spec.NeutralToXY(n); }, dng::kErrorBadFormat);
    spec.SetWhiteXY(dng::kD65);
    const Matrix before = spec.CameraToPCS();
    for (const XYCoord& xy : {XYCoord{0.3, 0}, XYCoord{0.3, -0.2}, XYCoord{kNaN, 0.3}, XYCoord{0.8, 0.4}})
        ExpectErrorCode([&] { spec.SetWhiteXY(xy); }, dng::kErrorBadFormat);
    EXPECT_EQ(spec.WhiteXY(), dng::kD65); // a failed call changes nothing
    EXPECT_EQ(spec.CameraToPCS(), before);
    // A camera that sees nothing in one channel: its neutral entry is floored, not zero.
    ColorProfileData blind = Profile(kM9, 21, 0);
    blind.colorMatrix1 = M3({0.7, -0.2, 0, -0.4, 1.2, 0.2, 0, 0, 0.0001});
    ColorSpec b(blind);
    b.SetWhiteXY(dng::kD65);
    EXPECT_EQ(b.CameraWhite()[2], 0.001);
    blind.colorMatrix1 = M3({1, 2, 3, 2, 4, 6, 0, 1, 1});
    ExpectErrorCode([&] { ColorSpec(blind).NeutralToXY(Vector{0.5, 1, 0.7}); }, dng::kErrorMatrixMath);

    // Profiles of the wrong shape or with impossible values.
    const auto refused = [](auto change) {
        ColorProfileData q = Profile(kM9);
        change(q);
        ExpectErrorCode([&] { ColorSpec s(q); }, dng::kErrorBadFormat);
    };
    for (uint32_t channels : {0u, 5u, 4u, 2u}) // 3 x 3 colour matrices fit none of these
        refused([=](ColorProfileData& q) { q.channels = channels; });
    refused([](ColorProfileData& q) { q.colorMatrix1 = Matrix(); });
    refused([](ColorProfileData& q) { q.colorMatrix2 = Matrix(4, 3); });
    refused([](ColorProfileData& q) { q.cameraCalibration1 = Matrix(3, 2); });
    refused([](ColorProfileData& q) { q.forwardMatrix2 = Matrix(3, 4); });
    refused([](ColorProfileData& q) { q.analogBalance = Vector{1, 0, 1}; });
    refused([](ColorProfileData& q) { q.colorMatrix2[1][1] = kNaN; });
    refused([](ColorProfileData& q) {
        q.colorMatrix2 = Matrix();
        q.forwardMatrix1 = M3({-1, 0, 0, 0, 1, 0, 0, 0, 1}); // takes the white to negative X
    });
}

} // namespace
