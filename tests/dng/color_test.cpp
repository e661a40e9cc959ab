#include "dng/color_spec.h"
#include "dng/error.h"
#include "dng/host.h"
#include "dng/info.h"
#include "dng/negative.h"
#include "dng/stream.h"
#include "dng/matrix.h"
#include "dng/temperature.h"
#include "dng/xy_coord.h"
#include "fixtures/samples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>
#include <vector>

namespace {

using namespace dng;

const Vector kXYZD50 = XYtoXYZ(kD50);

Matrix M(uint32_t rows, uint32_t cols, std::vector<double> v) { return Matrix::FromRowMajor(rows, cols, v.data()); }
Matrix M3(std::vector<double> v) { return M(3, 3, std::move(v)); }

// Matrices, vectors and xy points as lists of numbers, compared within a tolerance.
std::vector<double> Flat(const Matrix& m)
{
    std::vector<double> out;
    for (uint32_t i = 0; i < m.Rows() * m.Cols(); ++i)
        out.push_back(m[i / m.Cols()][i % m.Cols()]);
    return out;
}
std::vector<double> Flat(const Vector& v) { return Flat(Matrix::Diagonal(v)); }
std::vector<double> Flat(const XYCoord& c) { return {c.x, c.y}; }
template <typename A, typename B>
testing::AssertionResult Close(const A& a, const B& b, double tol)
{
    const std::vector<double> x = Flat(a), y = Flat(b);
    if (x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin(), [=](double u, double v) { return std::abs(u - v) <= tol; }))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << testing::PrintToString(x) << " vs " << testing::PrintToString(y);
}

int ErrorCode(const std::function<void()>& f)
{
    try {
        f();
    } catch (const Error& e) {
        return e.Code();
    }
    return 0;
}

// The camera neutral a colour matrix gives a white point, largest entry 1.
Vector NeutralOf(const Matrix& cm, const XYCoord& white)
{
    Vector v = cm * XYtoXYZ(white);
    v.Scale(1.0 / v.MaxEntry());
    return v;
}

TEST(Matrix, InversesPseudoInversesAndErrors)
{
    EXPECT_TRUE(Close(Invert(M3({1, 2, 3, 0, 1, 4, 5, 6, 0})), M3({-24, 18, 5, 20, -15, -4, -5, 4, 1}), 1e-12));
    EXPECT_EQ(Invert(M3({0, 1, 0, 1, 0, 0, 0, 0, 2})), M3({0, 1, 0, 1, 0, 0, 0, 0, 0.5})); // row exchanges
    const Matrix small = M3({1e-9, 0, 0, 0, 2e-9, 0, 0, 0, 4e-9}); // singular only relative to the entries
    EXPECT_TRUE(Close(Invert(small) * small, Matrix::Identity(3), 1e-12));
    // 4 x 3: least squares, so the residual is orthogonal to the columns.
    const Matrix a = M(4, 3, {0.7, -0.2, -0.05, -0.4, 1.2, 0.25, -0.05, 0.2, 0.74, 0.3, 0.5, 0.1});
    EXPECT_TRUE(Close(Invert(a) * a, Matrix::Identity(3), 1e-12));
    const Vector y{1, 2, 3, 4}, ax = a * (Invert(a) * y);
    EXPECT_TRUE(Close(Transpose(a) * Vector{y[0] - ax[0], y[1] - ax[1], y[2] - ax[2], y[3] - ax[3]}, Vector{0, 0, 0}, 1e-12));
    EXPECT_TRUE(Close(Transpose(a) * Invert(Transpose(a)), Matrix::Identity(3), 1e-12));
    for (const Matrix& bad : {M3({1, 2, 3, 2, 4, 6, 0, 1, 1}), M3({1, 2, 3, 1, 2, 3 + 1e-15, 0, 1, 1}), Matrix(3, 3), Matrix(),
                              M3({1, 0, 0, 0, NAN, 0, 0, 0, 1}), M3({HUGE_VAL, 0, 0, 0, 1, 0, 0, 0, 1}),
                              M(4, 3, {1, 2, 3, 2, 4, 6, 3, 6, 9, 1, 2, 3})})
        EXPECT_EQ(ErrorCode([&] { Invert(bad); }), kErrorMatrixMath);
    EXPECT_THROW(Matrix(3, 3) * Matrix(2, 3), Error);
    EXPECT_THROW(Matrix(5, 1), Error);
}

TEST(Temperature, ChromaticityIlluminantsWhitesRoundTripsAndClamps)
{
    EXPECT_TRUE(Close(XYtoXYZ(kD65), Vector{0.3127 / 0.3290, 1, 0.3583 / 0.3290}, 1e-15));
    EXPECT_TRUE(Close(XYZtoXY(Vector{2 * 0.3127 / 0.3290, 2, 2 * 0.3583 / 0.3290}), kD65, 1e-15));
    for (auto [xy, xyz] : {std::pair{XYCoord{0.3, 0}, Vector{1, -1, 0}}, {XYCoord{NAN, 0.3}, Vector{HUGE_VAL, 1, 1}}})
        EXPECT_TRUE(XYtoXYZ(xy) == kXYZD50 && XYZtoXY(xyz) == kD50); // unusable input gives D50
    for (auto [code, kelvin] : {std::pair{17u, 2850.0}, {21u, 6500.0}, {13u, 5050.0}, {2u, 4150.0}, {14u, 4150.0},
                                {15u, 3525.0}, {16u, 2925.0}, {0u, 0.0}, {5u, 0.0}, {255u, 0.0}})
        EXPECT_EQ(IlluminantToTemperature(code), kelvin) << code;

    // Daylight sits above the Planckian locus (greenish): positive tint; light A on it.
    for (auto [xy, kelvin, tint] : {std::tuple{kD65, 6503.7, 9.77}, {kStdA, 2854.9, 0.0}})
        EXPECT_TRUE(Close(Vector({Temperature(xy).Kelvin() / 10, Temperature(xy).Tint()}), Vector({kelvin / 10, tint}), 0.1));
    const XYCoord at325 = Temperature(1e6 / 325, 0).Get_xy_coord(); // the 325 mired point keeps u = 0.24702
    EXPECT_NEAR(2 * at325.x / (1.5 - at325.x + 6 * at325.y), 0.24702, 1e-12);
    for (double kelvin = 2000; kelvin <= 50000; kelvin *= 1.07)
        for (double tint = -100; tint <= 100; tint += 12.5) {
            const Temperature back(Temperature(kelvin, tint).Get_xy_coord());
            EXPECT_TRUE(std::abs(back.Kelvin() / kelvin - 1) < 2e-4 && std::abs(back.Tint() - tint) < 0.01) << kelvin << " K, tint " << tint;
        }
    // Clamped to 600 mired and to the bluest isotherm; what has no uv point is an error.
    for (double kelvin : {1000.0, 0.0, -HUGE_VAL})
        EXPECT_EQ(Temperature(kelvin, 0).Get_xy_coord(), Temperature(1e6 / 600.0, 0).Get_xy_coord()) << kelvin;
    EXPECT_NEAR(Temperature(XYCoord{0.62, 0.37}).Kelvin(), 1e6 / 600.0, 1e-9);
    EXPECT_TRUE(Close(Temperature(HUGE_VAL, 0).Get_xy_coord(), Temperature(1e12, 0).Get_xy_coord(), 1e-9));
    EXPECT_NEAR(Temperature(XYCoord{0.2, 0.2}).Kelvin(), 100000.0, 1e-6);
    for (const auto& bad : std::initializer_list<std::function<void()>>{[] { Temperature(XYCoord{NAN, 0.3}); }, [] { Temperature(XYCoord{3.0, 0.1}); },
                                             [] { Temperature(NAN, 0).Get_xy_coord(); }, [] { Temperature(5000, 1e9).Get_xy_coord(); }})
        EXPECT_NE(ErrorCode(bad), 0);
}

using Pair = double[2][9];
// Made-up matrices for standard light A and D65, far apart so that the weight shows.
const Pair kCM = {{0.9, -0.3, -0.1, -0.4, 1.3, 0.2, -0.1, 0.3, 0.5}, {0.6, -0.1, -0.05, -0.3, 1.1, 0.25, -0.05, 0.15, 0.8}};

ColorProfileData Profile(const Pair& cm = kCM, uint32_t illuminant1 = 17, uint32_t illuminant2 = 21)
{
    ColorProfileData p;
    p.channels = 3;
    p.colorMatrix1 = Matrix::FromRowMajor(3, 3, cm[0]);
    p.colorMatrix2 = Matrix::FromRowMajor(3, 3, cm[1]);
    p.calibrationIlluminant1 = illuminant1;
    p.calibrationIlluminant2 = illuminant2;
    return p;
}

TEST(ColorSpec, SampleNeutralsGiveTheSceneTemperaturesOfTheManifestAndBack)
{
    const std::pair<const char*, double> samples[] = {
        {"m9-16bit-rggb", 5600},  {"m9-8bit-squarelaw", 5200}, {"d800-3000x2000", 6000},         {"d800-fullsize", 5800},
        {"5d3-2400x1600", 5000},  {"sony-a7s-bggr", 6500},     {"leica-t-warp", 6200},           {"leica-m240-jpegpreview", 4800},
        {"canon-7d-unsupported", 5500}, {"d200-grbg", 7000}};
    for (const auto& [file, kelvin] : samples) {
        SCOPED_TRACE(file);
        FileStream stream(fixtures::SamplePath(std::string(file) + ".dng"));
        Host host;
        Info info;
        info.Parse(host, stream);
        info.PostParse(host);
        auto negative = host.Make_dng_negative();
        negative->Parse(host, stream, info);
        negative->PostParse(host, stream, info);
        ColorSpec cs(negative->ColorProfile());
        const XYCoord white = cs.NeutralToXY(negative->CameraNeutral());
        EXPECT_NEAR(Temperature(white).Kelvin(), kelvin, kelvin * 0.002);
        cs.SetWhiteXY(white);
        EXPECT_TRUE(Close(cs.CameraWhite(), negative->CameraNeutral(), 2e-6)); // neutrals are stored to six digits
        EXPECT_TRUE(Close(cs.CameraToPCS() * cs.CameraWhite(), kXYZD50, 1e-12));
    }
}

TEST(ColorSpec, TwoIlluminantWeightIsLinearInMiredAndSetOneStandsAlone)
{
    const Pair& cm = kCM;
    const ColorProfileData p = Profile(); // 2850 K and 6500 K
    const auto atMired = [](double w1) { return 1.0 / (w1 / 2850.0 + (1.0 - w1) / 6500.0); };
    ColorProfileData reversed = p;
    std::swap(reversed.colorMatrix1, reversed.colorMatrix2);
    std::swap(reversed.calibrationIlluminant1, reversed.calibrationIlluminant2);
    ColorSpec cs(p), swapped(reversed);
    for (auto [kelvin, w1] : {std::pair{1800.0, 1.0}, {2850, 1}, {atMired(0.25), 0.25}, {atMired(0.5), 0.5}, {6500, 0}, {12000, 0}}) {
        SCOPED_TRACE(kelvin);
        const XYCoord white = Temperature(kelvin, 0).Get_xy_coord();
        cs.SetWhiteXY(white);
        EXPECT_TRUE(Close(cs.CameraWhite(), NeutralOf(w1 * p.colorMatrix1 + (1.0 - w1) * p.colorMatrix2, white), 1e-6));
        EXPECT_TRUE(Close(cs.NeutralToXY(cs.CameraWhite()), white, 1e-6));
        swapped.SetWhiteXY(white);
        EXPECT_EQ(swapped.CameraWhite(), cs.CameraWhite());
        EXPECT_EQ(swapped.CameraToPCS(), cs.CameraToPCS());
    }
    // Set 1 alone when the second cannot be interpolated: unknown or equal temperatures, no CM2.
    ColorProfileData single = p;
    single.colorMatrix2 = Matrix();
    for (const ColorProfileData& q : {Profile(cm, 0, 21), Profile(cm, 17, 255), Profile(cm, 17, 3), single}) {
        ColorSpec one(q);
        for (double kelvin : {2000.0, 9000.0}) {
            one.SetWhiteXY(Temperature(kelvin, 0).Get_xy_coord());
            EXPECT_TRUE(Close(one.CameraWhite(), NeutralOf(p.colorMatrix1, Temperature(kelvin, 0).Get_xy_coord()), 1e-12));
        }
    }
}

TEST(ColorSpec, CameraToPCSAdaptsTheWhiteToD50)
{
    const Matrix bradford = M3({0.8951, 0.2664, -0.1614, -0.7502, 1.7135, 0.0367, 0.0389, -0.0685, 1.0296});
    ColorProfileData p = Profile(kCM, 21, 0); // one matrix, so XYZ -> camera is known exactly
    ColorSpec cs(p);
    for (double kelvin : {2400.0, 5000.0, 7500.0}) {
        cs.SetWhiteXY(Temperature(kelvin, -4).Get_xy_coord());
        EXPECT_TRUE(Close(cs.CameraToPCS() * cs.CameraWhite(), kXYZD50, 1e-12)); // the camera white is D50 at Y = 1
        // Scene XYZ -> camera -> PCS scales the Bradford cone responses and nothing else.
        const Matrix cone = bradford * cs.CameraToPCS() * p.colorMatrix1 * Invert(bradford);
        for (uint32_t i = 0; i < 9; ++i)
            EXPECT_NEAR(cone[i / 3][i % 3], i % 4 == 0 ? cone[i / 3][i % 3] : 0.0, 1e-9) << kelvin;
    }
    // A forward matrix (rows summing to about twice D50), analog balance and calibration.
    const Matrix fm = M3({0.8, 0.6, 0.5286, 0.6, 1.2, 0.2, 0.1, 0.2, 1.3502});
    p.forwardMatrix1 = fm;
    p.analogBalance = Vector{1.1, 1.0, 0.9};
    p.cameraCalibration1 = M3({1.05, 0, 0, 0, 1, 0, 0, 0, 0.97});
    ColorSpec withFM(p);
    const XYCoord white = Temperature(4300, 3).Get_xy_coord();
    withFM.SetWhiteXY(white);
    const Matrix abcc = Matrix::Diagonal(p.analogBalance) * p.cameraCalibration1;
    EXPECT_TRUE(Close(withFM.CameraWhite(), NeutralOf(abcc * p.colorMatrix1, white), 1e-12));
    EXPECT_TRUE(Close(withFM.CameraToPCS() * withFM.CameraWhite(), kXYZD50, 1e-12));
    // A pure red of the white-balanced reference camera comes out as the first column of FM.
    const Vector ref = Invert(abcc) * withFM.CameraWhite(), pcs = withFM.CameraToPCS() * (abcc * Vector{ref[0], 0, 0});
    for (uint32_t i = 0; i < 3; ++i)
        EXPECT_NEAR(pcs[i], fm[i][0] * kXYZD50[i] / (fm[i][0] + fm[i][1] + fm[i][2]), 1e-12);
    p.calibrationSignaturesMatch = false; // calibrations made for another unit are ignored
    ColorSpec foreign(p);
    foreign.SetWhiteXY(white);
    EXPECT_TRUE(Close(foreign.CameraWhite(), NeutralOf(Matrix::Diagonal(p.analogBalance) * p.colorMatrix1, white), 1e-12));
}

TEST(ColorSpec, FourChannelsAndMonochrome)
{
    ColorProfileData p, reduced, mono;
    p.channels = 4;
    p.colorMatrix1 = M(4, 3, {0.7, -0.2, -0.05, -0.4, 1.2, 0.25, -0.05, 0.2, 0.74, 0.3, 0.5, 0.1});
    reduced = p;
    reduced.reductionMatrix1 = M(3, 4, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0});
    const XYCoord white = Temperature(5200, 0).Get_xy_coord();
    for (const ColorProfileData& q : {p, reduced}) {
        ColorSpec cs(q);
        const XYCoord found = cs.NeutralToXY(NeutralOf(p.colorMatrix1, white));
        EXPECT_TRUE(Close(found, white, 1e-9));
        cs.SetWhiteXY(found);
        EXPECT_TRUE(Close(cs.CameraToPCS() * cs.CameraWhite(), kXYZD50, 1e-9));
        EXPECT_TRUE(q.reductionMatrix1.IsEmpty() || cs.CameraToPCS()[1][3] == 0.0); // only selected channels read
    }
    mono.channels = 1;
    mono.colorMatrix1 = Matrix::Identity(3); // colour tags do not apply to one plane
    ColorSpec cs(mono);
    cs.SetWhiteXY(kStdA);
    EXPECT_EQ(std::pair(cs.WhiteXY(), cs.NeutralToXY(Vector{0.5})), std::pair(kD50, kD50));
    EXPECT_EQ(cs.CameraWhite(), Vector{1.0});
    EXPECT_TRUE(Close(cs.CameraToPCS() * Vector{0.25}, Vector{0.25 * kXYZD50[0], 0.25, 0.25 * kXYZD50[2]}, 1e-15));
}

TEST(ColorSpec, BadInputIsAnErrorAndChangesNothing)
{
    ColorSpec cs(Profile());
    for (const Vector& n : {Vector{0.4, 0, 0.8}, Vector{0, 0, 0}, Vector{0.4, -1, 0.8}, Vector{NAN, 1, 1}, Vector{1, 1}})
        EXPECT_EQ(ErrorCode([&] { cs.NeutralToXY(n); }), kErrorBadFormat);
    cs.SetWhiteXY(kD65);
    const Matrix before = cs.CameraToPCS();
    for (const XYCoord& xy : {XYCoord{0.3, 0}, XYCoord{0.3, -0.2}, XYCoord{NAN, 0.3}, XYCoord{0.8, 0.4}})
        EXPECT_EQ(ErrorCode([&] { cs.SetWhiteXY(xy); }), kErrorBadFormat);
    EXPECT_EQ(cs.WhiteXY(), kD65);
    EXPECT_EQ(cs.CameraToPCS(), before);
    // A camera that sees nothing in one channel: its neutral entry is floored, not zero.
    ColorProfileData blind = Profile(kCM, 21, 0);
    blind.colorMatrix1 = M3({0.7, -0.2, 0, -0.4, 1.2, 0.2, 0, 0, 0.0001});
    ColorSpec b(blind);
    b.SetWhiteXY(kD65);
    EXPECT_EQ(b.CameraWhite()[2], 0.001);
    // Matrices with no inverse come from the file: the photo is damaged, the program is not at fault.
    blind.colorMatrix1 = M3({1, 2, 3, 2, 4, 6, 0, 1, 1});
    EXPECT_EQ(ErrorCode([&] { ColorSpec(blind).NeutralToXY(Vector{0.5, 1, 0.7}); }), kErrorFileIsDamaged);
    EXPECT_EQ(ErrorCode([&] { ColorSpec(blind).SetWhiteXY(kD65); }), kErrorFileIsDamaged);
    // Each of full rank, but the reduction keeps a channel that the colour matrix leaves dark.
    ColorProfileData four;
    four.channels = 4;
    four.colorMatrix1 = M(4, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0});
    four.reductionMatrix1 = M(3, 4, {0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    EXPECT_EQ(ErrorCode([&] { ColorSpec(four).NeutralToXY(Vector{1, 1, 1, 1}); }), kErrorFileIsDamaged);
    // Profiles of the wrong shape (3 x 3 matrices fit no other channel count) or impossible values.
    const std::function<void(ColorProfileData&)> spoils[] = {
        [](auto& q) { q.channels = 0; }, [](auto& q) { q.channels = 5; }, [](auto& q) { q.channels = 4; },
        [](auto& q) { q.channels = 2; }, [](auto& q) { q.colorMatrix1 = Matrix(); },
        [](auto& q) { q.colorMatrix2 = Matrix(4, 3); }, [](auto& q) { q.cameraCalibration1 = Matrix(3, 2); },
        [](auto& q) { q.forwardMatrix2 = Matrix(3, 4); }, [](auto& q) { q.analogBalance = Vector{1, 0, 1}; },
        [](auto& q) { q.colorMatrix2[1][1] = NAN; },
        [](auto& q) { q.colorMatrix2 = Matrix(), q.forwardMatrix1 = M3({-1, 0, 0, 0, 1, 0, 0, 0, 1}); }}; // white to X < 0
    for (size_t i = 0; i < std::size(spoils); ++i) {
        ColorProfileData q = Profile();
        spoils[i](q);
        EXPECT_EQ(ErrorCode([&] { ColorSpec s(q); }), kErrorBadFormat);
    }
}

} // namespace
