// The half-size red / blue pass: which photosite lands in which cell, the sizes, the halved
// geometry, smoothing, cancel, and one colour sample.
#include "engine/vrel_negative.h"

#include "fixtures/samples.h"
#include "negative_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using engine::VrelNegative;
using enginetest::MakeImage;
using enginetest::Negative;
using fixtures::Mosaic;

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

// A negative of the given size and pattern whose stage-1 plane is a position code, with an
// active area from (4, 6), two masked areas, black-level deltas and a default crop.
std::unique_ptr<Negative> MakeNegative(Mosaic mosaic, uint32_t width, uint32_t height)
{
    fixtures::DngSpec desc;
    desc.mosaic = mosaic;
    desc.width = width;
    desc.height = height;
    desc.whiteLevel = 16383;
    desc.activeArea = dng::Rect(4, 6, int32_t(height), int32_t(width));
    desc.maskedAreas = {dng::Rect(0, 0, 4, int32_t(width)), dng::Rect(4, 0, int32_t(height), 6)};
    for (int32_t i = 0; i < int32_t(width) - 6; ++i)
        desc.blackLevelDeltaH.emplace_back(i, 1);
    for (int32_t i = 0; i < int32_t(height) - 4; ++i)
        desc.blackLevelDeltaV.emplace_back(-i, 2);
    desc.defaultCropOrigin = std::array<dng::URational, 2>{dng::URational(7, 1), dng::URational(5, 1)};
    desc.defaultCropSize = std::array<dng::URational, 2>{dng::URational(width - 13, 1), dng::URational(height - 11, 1)};
    auto n = enginetest::FromSynthetic(desc);
    n->neg->SetStage1(MakeImage(int32_t(width), int32_t(height), Code));
    return n;
}

TEST(RawChannelHalf, TakesTheChosenPhotositeOfEveryBlockAndHalvesTheGeometry)
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
            auto n = MakeNegative(l.mosaic, 2088, 1390);
            VrelNegative& neg = *n->neg;
            const auto before = PlaneOf(n->Stage1());
            neg.ExtractRawChannelHalf(n->host, n->info, blue, &n->progress);
            const dng::Image& half = *neg.fMonoImage;
            // 2088 / 2 = 1044; 1390 / 2 = 695 is odd, so 694.
            ASSERT_EQ(half.Width(), 1044);
            ASSERT_EQ(half.Height(), 694);
            const int32_t row = blue ? l.blueRow : l.redRow, col = blue ? l.blueCol : l.redCol;
            for (int32_t r = 0; r < 694; ++r)
                for (int32_t c = 0; c < 1044; ++c)
                    ASSERT_EQ(half.ConstView16Of(0).Row(r)[c], Code(2 * c + col, 2 * r + row)) << c << "," << r;
            EXPECT_EQ(PlaneOf(n->Stage1()), before) << "stage 1 is left alone";

            const dng::LinearizationInfo& lin = *neg.GetLinearizationInfo();
            EXPECT_EQ(lin.fActiveArea, dng::Rect(2, 3, 694, 1044));
            EXPECT_EQ(neg.DefaultCropOriginH(), dng::URational(3, 1));
            EXPECT_EQ(neg.DefaultCropOriginV(), dng::URational(2, 1));
            EXPECT_EQ(neg.DefaultCropSizeH(), dng::URational(1037, 1)) << "2075 x 0.5, truncated";
            EXPECT_EQ(neg.DefaultCropSizeV(), dng::URational(689, 1)) << "1379 x 0.5";
            // Masked areas and deltas are halved as in the regular half-size pass (see its test).
            EXPECT_EQ(lin.fMaskedArea, (std::vector<dng::Rect>{dng::Rect(0, 0, 2, 1044), dng::Rect(2, 0, 695, 3)}));
            EXPECT_EQ(lin.fBlackDeltaH.size(), 1041u);
        }
}

TEST(RawChannelHalf, WidthStopsAtTheActiveAreaOnlyAbove1024AndOddHalvesLoseTheirLastCell)
{
    const struct {
        Mosaic mosaic;
        int32_t width, height, activeRight;
        bool blue;
        int32_t halfW, halfH, lastX, lastY; // the new size, the photosite in its last cell
    } cases[] = {
        {Mosaic::kRGGB, 1000, 12, 990, false, 500, 6, 998, 10},   // 1024 or fewer: the whole image
        {Mosaic::kRGGB, 1025, 12, 1015, false, 506, 6, 1010, 10}, // 1015 / 2 = 507 is odd
        {Mosaic::kRGGB, 1026, 12, 1016, false, 508, 6, 1014, 10},
        {Mosaic::kRGGB, 1100, 8, 5000, true, 550, 4, 1099, 7}, // past the image: cut at its edge
        {Mosaic::kGBRG, 1030, 14, 1030, true, 514, 6, 1027, 10}, // 515 and 7 are odd
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        auto n = MakeNegative(c.mosaic, uint32_t(c.width), uint32_t(c.height));
        n->neg->GetLinearizationInfo()->fActiveArea = dng::Rect(0, 0, c.height, c.activeRight);
        n->neg->ExtractRawChannelHalf(n->host, n->info, c.blue, nullptr);
        ASSERT_EQ(n->neg->fMonoImage->Width(), c.halfW);
        ASSERT_EQ(n->neg->fMonoImage->Height(), c.halfH);
        EXPECT_EQ(n->neg->fMonoImage->ConstView16Of(0).Row(c.halfH - 1)[c.halfW - 1], Code(c.lastX, c.lastY));
    }

    // Without a colour pattern no photosite is red: the new image stays zero.
    auto n = MakeNegative(Mosaic::kGBRG, 64, 14);
    n->neg->ClearMosaicInfo();
    n->neg->ExtractRawChannelHalf(n->host, n->info, false, nullptr);
    const auto cells = PlaneOf(*n->neg->fMonoImage);
    EXPECT_TRUE(std::all_of(cells.begin(), cells.end(), [](uint16_t v) { return v == 0; }));
}

TEST(RawChannelHalf, NarrowImageHalvesTheGeometryToo)
{
    // Unlike the regular half-size pass, a frame of 1024 columns or fewer has its active area and
    // crop halved as well. Crop values from the odd end: 7 -> 3, 981 -> 490.
    auto n = MakeNegative(Mosaic::kBGGR, 1000, 600);
    VrelNegative& neg = *n->neg;
    neg.SetDefaultCropSize(dng::URational(981, 1), dng::URational(587, 1));
    neg.ExtractRawChannelHalf(n->host, n->info, true, nullptr);
    EXPECT_EQ(neg.GetLinearizationInfo()->fActiveArea, dng::Rect(2, 3, 300, 500));
    EXPECT_EQ(neg.DefaultCropOriginH(), dng::URational(3, 1));
    EXPECT_EQ(neg.DefaultCropSizeH(), dng::URational(490, 1));
    EXPECT_EQ(neg.DefaultCropSizeV(), dng::URational(293, 1));
    EXPECT_EQ(neg.GetLinearizationInfo()->fMaskedArea[1], dng::Rect(2, 0, 300, 3));
    EXPECT_EQ(neg.GetLinearizationInfo()->fBlackDeltaV.size(), 298u);
}

TEST(RawChannelHalf, SmoothsWithTheChosenColoursStrengthOnly)
{
    const auto fill = [](int32_t x, int32_t y) { return uint16_t(2000 + (x * 7919 + y * 6007 + x * y * 31) % 700); };
    const auto make = [&] {
        auto n = MakeNegative(Mosaic::kRGGB, 96, 72);
        n->neg->SetStage1(MakeImage(96, 72, fill));
        n->neg->fNoiseDetail = 2;
        n->neg->fNoiseBalance = 1;
        return n;
    };
    for (const bool blue : {false, true}) {
        SCOPED_TRACE(blue ? "blue" : "red");
        const std::string channel = blue ? "blue" : "red";
        auto plain = make();
        plain->neg->fNoiseRegular = 30; // not this pass's strengths
        (blue ? plain->neg->fNoiseRed : plain->neg->fNoiseBlue) = 40;
        plain->neg->ExtractRawChannelHalf(plain->host, plain->info, blue, nullptr);
        plain->neg->WaveletDenoise(*plain->neg->fMonoImage, 40, 2, 1, 0, nullptr);

        auto smoothed = make();
        VrelNegative& neg = *smoothed->neg;
        (blue ? neg.fNoiseBlue : neg.fNoiseRed) = 40;
        neg.fPreNoiseRed = neg.fPreNoiseBlue = 50; // no pre-smoothing or repair at half size
        neg.fFixDeadPixels = true;
        neg.fDeadPixels = {{5, 4}};
        neg.ExtractRawChannelHalf(smoothed->host, smoothed->info, blue, &smoothed->progress);
        EXPECT_EQ(smoothed->ui.status.history,
                  (std::vector<std::string>{"Processing " + channel + " result...",
                                            "Applying noise reduction: " + channel + " result..."}));
        EXPECT_EQ(PlaneOf(*neg.fMonoImage), PlaneOf(*plain->neg->fMonoImage));
        EXPECT_EQ(PlaneOf(smoothed->Stage1()), PlaneOf(*MakeImage(96, 72, fill)));
    }
}

TEST(RawChannelHalf, CancelKeepsThePreviousResultButNotTheGeometry)
{
    auto n = MakeNegative(Mosaic::kRGGB, 1100, 40);
    VrelNegative& neg = *n->neg;
    neg.fMonoImage = std::make_unique<dng::Image>(3, 3, 1, dng::PixelType::kUInt16);
    const dng::Image* kept = neg.fMonoImage.get();
    n->ui.onPump = [&] { neg.fCancelRequested = true; };
    neg.ExtractRawChannelHalf(n->host, n->info, true, &n->progress);
    EXPECT_EQ(neg.fMonoImage.get(), kept);
    EXPECT_EQ(n->ui.pumps, 1) << "stopped on row 10";
    EXPECT_EQ(neg.GetLinearizationInfo()->fActiveArea, dng::Rect(2, 3, 20, 550)) << "geometry already halved";
}

TEST(RawChannelHalf, RunsOverAColourSample)
{
    auto n = enginetest::FromFile(fixtures::SamplePath("sony-a7s-bggr.dng"));
    VrelNegative& neg = *n->neg;
    ASSERT_EQ(n->Stage1().Type(), dng::PixelType::kUInt16);
    const dng::Image& stage1 = n->Stage1();
    const int32_t w = stage1.Width() > 1024 ? std::min(neg.GetLinearizationInfo()->fActiveArea.r, stage1.Width())
                                            : stage1.Width();
    const int32_t h = stage1.Height();
    // The red photosite's place in the 2 x 2 block, as the negative's pattern has it.
    const int32_t row = neg.IsRedPixel(0, 1) || neg.IsRedPixel(1, 1) ? 1 : 0;
    const int32_t col = neg.IsRedPixel(1, row) ? 1 : 0;
    ASSERT_TRUE(neg.IsRedPixel(col, row));
    neg.ExtractRawChannelHalf(n->host, n->info, false, &n->progress);
    ASSERT_NE(neg.fMonoImage, nullptr);
    const dng::Image& half = *neg.fMonoImage;
    EXPECT_EQ(half.Width(), w / 2 - (w / 2) % 2);
    EXPECT_EQ(half.Height(), h / 2 - (h / 2) % 2);
    for (int32_t r = 0; r < half.Height(); ++r)
        for (int32_t c = 0; c < half.Width(); ++c)
            ASSERT_EQ(half.ConstView16Of(0).Row(r)[c], stage1.ConstView16Of(0).Row(2 * r + row)[2 * c + col]);
    EXPECT_EQ(neg.GetLinearizationInfo()->fActiveArea.r, half.Width());
    EXPECT_EQ(neg.GetLinearizationInfo()->fActiveArea.b, half.Height());
}

} // namespace
