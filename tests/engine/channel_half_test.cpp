// The half-size red / blue pass: which photosite lands in which cell, the sizes, the halved
// geometry, smoothing, cancel, and one colour sample.
#include "engine/vrel_negative.h"

#include "dng/image.h"
#include "dng/info.h"
#include "dng/stream.h"
#include "fixtures/dng_fixture.h"
#include "fixtures/samples.h"
#include "negative_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using engine::VrelNegative;
using fixtures::Mosaic;

using enginetest::MakeImage;
using enginetest::Negative;

std::vector<uint16_t> PlaneOf(const dng::Image& img)
{
    std::vector<uint16_t> v;
    for (int32_t y = 0; y < img.Height(); ++y)
        v.insert(v.end(), img.ConstView16Of(0).Row(y), img.ConstView16Of(0).Row(y) + img.Width());
    return v;
}

uint16_t Code(int32_t x, int32_t y)
{
    return uint16_t((x * 31 + y * 7) & 0xFFFF);
}

// A negative of the given size and pattern whose stage-1 plane is a position code; with
// geometry, also an active area from (4, 6), two masked areas, black-level deltas and a default
// crop.
std::unique_ptr<Negative> MakeNegative(Mosaic mosaic, uint32_t width, uint32_t height, bool geometry,
                                       std::vector<dng::SRational>* deltaH = nullptr,
                                       std::vector<dng::SRational>* deltaV = nullptr)
{
    fixtures::DngSpec desc;
    desc.mosaic = mosaic;
    desc.width = width;
    desc.height = height;
    desc.whiteLevel = 16383;
    if (geometry) {
        desc.activeArea = dng::Rect(4, 6, int32_t(height), int32_t(width));
        desc.maskedAreas = {dng::Rect(0, 0, 4, int32_t(width)), dng::Rect(4, 0, int32_t(height), 6)};
        for (uint32_t i = 0; i < width - 6; ++i)
            desc.blackLevelDeltaH.push_back(dng::SRational(int32_t(i), 1));
        for (uint32_t i = 0; i < height - 4; ++i)
            desc.blackLevelDeltaV.push_back(dng::SRational(-int32_t(i), 2));
        desc.defaultCropOrigin = std::array<dng::URational, 2>{dng::URational(7, 1), dng::URational(5, 1)};
        desc.defaultCropSize =
            std::array<dng::URational, 2>{dng::URational(width - 13, 1), dng::URational(height - 11, 1)};
        if (deltaH)
            *deltaH = desc.blackLevelDeltaH;
        if (deltaV)
            *deltaV = desc.blackLevelDeltaV;
    }
    auto n = enginetest::FromSynthetic(desc);
    n->neg->SetStage1(MakeImage(int32_t(width), int32_t(height), Code));
    return n;
}

// --- Which photosite lands where ---

TEST(RawChannelHalf, TakesTheChosenPhotositeOfEveryBlock)
{
    const struct {
        Mosaic mosaic;
        int32_t redRow, redCol, blueRow, blueCol; // within the 2 x 2 block
    } layouts[] = {{Mosaic::kRGGB, 0, 0, 1, 1},
                   {Mosaic::kBGGR, 1, 1, 0, 0},
                   {Mosaic::kGRBG, 0, 1, 1, 0},
                   {Mosaic::kGBRG, 1, 0, 0, 1}};
    for (const auto& l : layouts)
        for (const bool blue : {false, true}) {
            SCOPED_TRACE(testing::Message() << "layout " << int(l.mosaic) << (blue ? " blue" : " red"));
            auto n = MakeNegative(l.mosaic, 2088, 1390, true);
            const auto before = PlaneOf(n->Stage1());
            n->neg->ExtractRawChannelHalf(n->host, n->info, blue, &n->progress);
            const dng::Image& half = *n->neg->fMonoImage;
            // 2088 / 2 = 1044; 1390 / 2 = 695 is odd, so 694.
            ASSERT_EQ(half.Width(), 1044);
            ASSERT_EQ(half.Height(), 694);
            const int32_t row = blue ? l.blueRow : l.redRow;
            const int32_t col = blue ? l.blueCol : l.redCol;
            for (int32_t r = 0; r < 694; ++r)
                for (int32_t c = 0; c < 1044; ++c)
                    ASSERT_EQ(half.ConstView16Of(0).Row(r)[c], Code(2 * c + col, 2 * r + row)) << c << "," << r;
            EXPECT_EQ(PlaneOf(n->Stage1()), before) << "stage 1 is left alone";
            EXPECT_EQ(n->ui.status.history,
                      std::vector<std::string>{blue ? "Processing blue result..." : "Processing red result..."});
            EXPECT_EQ(n->ui.bar.maximum, 1386);
        }
}

TEST(RawChannelHalf, WidthStopsAtTheActiveAreaOnlyAbove1024)
{
    // The active area ends 10 columns short of the image: from 1025 columns on it bounds the
    // width, at 1000 columns the image is taken whole.
    for (const int32_t width : {1000, 1025, 1026}) {
        SCOPED_TRACE(width);
        auto n = MakeNegative(Mosaic::kRGGB, uint32_t(width), 12, false);
        n->neg->GetLinearizationInfo()->fActiveArea = dng::Rect(0, 0, 12, width - 10);
        n->neg->ExtractRawChannelHalf(n->host, n->info, false, nullptr);
        const int32_t w = width > 1024 ? width - 10 : width;
        int32_t hw = w / 2;
        hw -= hw & 1;
        EXPECT_EQ(n->neg->fMonoImage->Width(), hw);
        EXPECT_EQ(n->neg->fMonoImage->Height(), 6);
        EXPECT_EQ(n->neg->fMonoImage->ConstView16Of(0).Row(5)[hw - 1], Code(2 * hw - 2, 10));
    }

    // An active area reaching past the image is cut at the image's edge: nothing is read beyond a row.
    auto n = MakeNegative(Mosaic::kRGGB, 1100, 8, false);
    n->neg->GetLinearizationInfo()->fActiveArea = dng::Rect(0, 0, 8, 5000);
    n->neg->ExtractRawChannelHalf(n->host, n->info, true, nullptr);
    EXPECT_EQ(n->neg->fMonoImage->Width(), 550);
    EXPECT_EQ(n->neg->fMonoImage->ConstView16Of(0).Row(3)[549], Code(1099, 7));
}

TEST(RawChannelHalf, OddHalvesLeaveOutTheLastPhotositesAndEmptyCellsAreZero)
{
    // 1030 / 2 = 515 and 14 / 2 = 7 are odd: 514 x 6, the blue photosites of columns 1028 / 1029
    // and rows 12 / 13 have no cell.
    auto n = MakeNegative(Mosaic::kGBRG, 1030, 14, false);
    n->neg->GetLinearizationInfo()->fActiveArea = dng::Rect(0, 0, 14, 1030);
    n->neg->ExtractRawChannelHalf(n->host, n->info, true, nullptr);
    const dng::Image& half = *n->neg->fMonoImage;
    ASSERT_EQ(half.Width(), 514);
    ASSERT_EQ(half.Height(), 6);
    EXPECT_EQ(half.ConstView16Of(0).Row(5)[513], Code(1027, 10));

    // Without a colour pattern no photosite is red: the new image stays zero.
    n->neg->ClearMosaicInfo();
    n->neg->ExtractRawChannelHalf(n->host, n->info, false, nullptr);
    const auto cells = PlaneOf(*n->neg->fMonoImage);
    EXPECT_TRUE(std::all_of(cells.begin(), cells.end(), [](uint16_t v) { return v == 0; }));
}

// --- Geometry ---

TEST(RawChannelHalf, HalvesTheGeometryConsistently)
{
    std::vector<dng::SRational> deltaH;
    std::vector<dng::SRational> deltaV;
    auto n = MakeNegative(Mosaic::kRGGB, 2088, 1390, true, &deltaH, &deltaV);
    VrelNegative& neg = *n->neg;
    neg.ExtractRawChannelHalf(n->host, n->info, false, &n->progress);
    const dng::LinearizationInfo& lin = *neg.GetLinearizationInfo();

    EXPECT_EQ(lin.fActiveArea, dng::Rect(2, 3, 694, 1044));
    EXPECT_EQ(neg.DefaultCropOriginH(), dng::URational(3, 1));
    EXPECT_EQ(neg.DefaultCropOriginV(), dng::URational(2, 1));
    EXPECT_EQ(neg.DefaultCropSizeH(), dng::URational(1037, 1)) << "2075 x 0.5, truncated";
    EXPECT_EQ(neg.DefaultCropSizeV(), dng::URational(689, 1)) << "1379 x 0.5";
    ASSERT_EQ(lin.fMaskedArea.size(), 2u);
    EXPECT_EQ(lin.fMaskedArea[0], dng::Rect(0, 0, 2, 1044));
    EXPECT_EQ(lin.fMaskedArea[1], dng::Rect(2, 0, 695, 3)) << "every masked rectangle is halved";

    // Column and row deltas alike: half the count, the values of every second column / row.
    const auto thinned = [](const std::vector<dng::SRational>& v) {
        std::vector<dng::SRational> kept;
        for (size_t i = 0; i + 1 < v.size(); i += 2)
            kept.push_back(v[i]);
        return kept;
    };
    const auto real = [](const std::vector<dng::SRational>& v) {
        std::vector<double> r;
        for (const auto& d : v)
            r.push_back(d.As_real64());
        return r;
    };
    const dng::IfdInfo& raw = n->info.Ifds()[size_t(n->info.MainIndex())];
    EXPECT_EQ(raw.blackLevelDeltaH, thinned(deltaH));
    EXPECT_EQ(raw.blackLevelDeltaV, thinned(deltaV));
    EXPECT_EQ(lin.fBlackDeltaH, real(thinned(deltaH)));
    EXPECT_EQ(lin.fBlackDeltaV, real(thinned(deltaV)));
}

TEST(RawChannelHalf, NarrowImageHalvesTheGeometryToo)
{
    // Unlike the regular half-size pass, a frame of 1024 columns or fewer has its active area and
    // crop halved as well. Crop values from the odd end: 7 -> 3, 5215 -> 2607.
    std::vector<dng::SRational> deltaV;
    auto n = MakeNegative(Mosaic::kBGGR, 1000, 600, true, nullptr, &deltaV);
    VrelNegative& neg = *n->neg;
    neg.SetDefaultCropSize(dng::URational(5215, 1), dng::URational(3471, 1));
    neg.ExtractRawChannelHalf(n->host, n->info, true, nullptr);
    EXPECT_EQ(neg.GetLinearizationInfo()->fActiveArea, dng::Rect(2, 3, 300, 500));
    EXPECT_EQ(neg.DefaultCropOriginH(), dng::URational(3, 1));
    EXPECT_EQ(neg.DefaultCropSizeH(), dng::URational(2607, 1));
    EXPECT_EQ(neg.DefaultCropSizeV(), dng::URational(1735, 1));
    EXPECT_EQ(neg.GetLinearizationInfo()->fMaskedArea[1], dng::Rect(2, 0, 300, 3));
    EXPECT_EQ(n->info.Ifds()[size_t(n->info.MainIndex())].blackLevelDeltaV.size(), 298u);
    ASSERT_EQ(neg.GetLinearizationInfo()->fBlackDeltaV.size(), 298u);
    EXPECT_EQ(neg.GetLinearizationInfo()->fBlackDeltaV[1], deltaV[2].As_real64());

    // Without masked areas or deltas there is nothing to halve, and nothing appears.
    auto plain = MakeNegative(Mosaic::kRGGB, 64, 40, false);
    plain->neg->ExtractRawChannelHalf(plain->host, plain->info, false, nullptr);
    EXPECT_TRUE(plain->neg->GetLinearizationInfo()->fMaskedArea.empty());
    EXPECT_TRUE(plain->neg->GetLinearizationInfo()->fBlackDeltaH.empty());
    EXPECT_TRUE(plain->neg->GetLinearizationInfo()->fBlackDeltaV.empty());
    EXPECT_TRUE(plain->info.Ifds()[size_t(plain->info.MainIndex())].blackLevelDeltaH.empty());
}

// --- Smoothing and cancel ---

TEST(RawChannelHalf, SmoothsWithTheChosenColoursStrengthOnly)
{
    std::mt19937 rng(5);
    std::vector<uint16_t> plane(96 * 72);
    for (auto& v : plane)
        v = uint16_t(2000 + rng() % 700);
    const auto fill = [&](int32_t x, int32_t y) { return plane[size_t(y) * 96 + size_t(x)]; };
    const auto make = [&] {
        auto n = MakeNegative(Mosaic::kRGGB, 96, 72, false);
        n->neg->SetStage1(MakeImage(96, 72, fill));
        n->neg->fNoiseDetail = 2;
        n->neg->fNoiseBalance = 1;
        return n;
    };

    for (const bool blue : {false, true}) {
        SCOPED_TRACE(blue ? "blue" : "red");
        auto plain = make();
        plain->neg->fNoiseRegular = 30; // not this pass's strengths
        (blue ? plain->neg->fNoiseRed : plain->neg->fNoiseBlue) = 40;
        plain->neg->ExtractRawChannelHalf(plain->host, plain->info, blue, &plain->progress);
        EXPECT_EQ(plain->ui.status.history.size(), 1u) << "no noise text at strength 0";

        auto smoothed = make();
        VrelNegative& neg = *smoothed->neg;
        (blue ? neg.fNoiseBlue : neg.fNoiseRed) = 40;
        neg.fPreNoiseRed = neg.fPreNoiseBlue = 50; // no pre-smoothing or repair at half size
        neg.fFixDeadPixels = true;
        neg.fDeadPixels = {{5, 4}};
        neg.ExtractRawChannelHalf(smoothed->host, smoothed->info, blue, &smoothed->progress);
        EXPECT_EQ(smoothed->ui.status.history,
                  (std::vector<std::string>{blue ? "Processing blue result..." : "Processing red result...",
                                            blue ? "Applying noise reduction: blue result..."
                                                 : "Applying noise reduction: red result..."}));

        plain->neg->WaveletDenoise(*plain->neg->fMonoImage, 40, 2, 1, 0, nullptr);
        EXPECT_EQ(PlaneOf(*neg.fMonoImage), PlaneOf(*plain->neg->fMonoImage));
        EXPECT_EQ(PlaneOf(smoothed->Stage1()), PlaneOf(*MakeImage(96, 72, fill)));
    }
}

TEST(RawChannelHalf, CancelKeepsThePreviousResultButNotTheGeometry)
{
    auto n = MakeNegative(Mosaic::kRGGB, 1100, 40, true);
    VrelNegative& neg = *n->neg;
    auto previous = std::make_unique<dng::Image>(3, 3, 1, dng::PixelType::kUInt16);
    const dng::Image* kept = previous.get();
    neg.fMonoImage = std::move(previous);
    n->ui.onPump = [&] { neg.fCancelRequested = true; };
    neg.ExtractRawChannelHalf(n->host, n->info, true, &n->progress);
    EXPECT_EQ(neg.fMonoImage.get(), kept);
    EXPECT_EQ(n->ui.pumps, 1) << "stopped on row 10";
    EXPECT_EQ(n->ui.bar.position, 11);
    EXPECT_EQ(neg.GetLinearizationInfo()->fActiveArea, dng::Rect(2, 3, 20, 550)) << "geometry already halved";
}

// --- A colour sample ---

TEST(RawChannelHalf, RunsOverAColourSample)
{
    auto n = enginetest::FromFile(fixtures::SamplePath("sony-a7s-bggr.dng"));
    VrelNegative& neg = *n->neg;
    ASSERT_EQ(n->Stage1().Type(), dng::PixelType::kUInt16);
    const dng::Image& stage1 = n->Stage1();
    const int32_t w = stage1.Width() > 1024 ? std::min(neg.GetLinearizationInfo()->fActiveArea.r, stage1.Width())
                                            : stage1.Width();
    const int32_t h = stage1.Height();
    neg.ExtractRawChannelHalf(n->host, n->info, false, &n->progress);
    ASSERT_NE(neg.fMonoImage, nullptr);
    const dng::Image& half = *neg.fMonoImage;
    EXPECT_EQ(half.Width(), w / 2 - (w / 2) % 2);
    EXPECT_EQ(half.Height(), h / 2 - (h / 2) % 2);
    // The red photosite's place in the 2 x 2 block, as the negative's pattern has it.
    int32_t row = -1;
    int32_t col = -1;
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 2; ++x)
            if (neg.IsRedPixel(x, y)) {
                row = y;
                col = x;
            }
    ASSERT_GE(row, 0);
    for (int32_t r = 0; r < half.Height(); ++r)
        for (int32_t c = 0; c < half.Width(); ++c)
            ASSERT_EQ(half.ConstView16Of(0).Row(r)[c], stage1.ConstView16Of(0).Row(2 * r + row)[2 * c + col]);
    EXPECT_EQ(neg.GetLinearizationInfo()->fActiveArea.b, half.Height());
    EXPECT_EQ(neg.GetLinearizationInfo()->fActiveArea.r, half.Width());
}

} // namespace
