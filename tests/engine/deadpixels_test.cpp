// Dead-pixel search and repair on the stage-1 image of negatives read from synthetic DNGs.
#include "engine/Class_vrel_host.h"
#include "engine/vrel_negative.h"

#include "dng/error.h"
#include "dng/info.h"
#include "dng/stream.h"
#include "fixtures/dng_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace {

using engine::PixelPoint;
using Points = std::vector<PixelPoint>;

struct Negative {
    engine::VrelHost host;
    std::vector<uint8_t> bytes;
    std::unique_ptr<dng::Negative> owner;
    engine::VrelNegative* neg = nullptr;

    dng::Image& Stage1() { return *neg->Stage1Image(); }
    uint16_t& At(int32_t x, int32_t y) { return Stage1().View16Of(0).Row(y)[x]; }
    void Fill(uint16_t v)
    {
        for (int32_t y = 0; y < Stage1().Height(); ++y)
            std::fill_n(&At(0, y), Stage1().Width(), v);
    }
};

std::unique_ptr<Negative> MakeNegative(fixtures::Mosaic mosaic, uint32_t width, uint32_t height, bool decode = true,
                                       std::optional<dng::Rect> activeArea = {})
{
    fixtures::DngSpec wanted;
    wanted.activeArea = activeArea;
    wanted.mosaic = mosaic;
    wanted.width = width;
    wanted.height = height;
    auto n = std::make_unique<Negative>();
    n->bytes = fixtures::MakeDng(wanted).bytes;
    dng::MemoryStream s(n->bytes);
    dng::Info info;
    info.Parse(n->host, s);
    info.PostParse(n->host);
    n->owner = n->host.Make_dng_negative();
    n->neg = &dynamic_cast<engine::VrelNegative&>(*n->owner);
    n->owner->Parse(n->host, s, info);
    n->owner->PostParse(n->host, s, info);
    if (decode)
        n->owner->ReadStage1Image(n->host, s, info);
    return n;
}

TEST(DeadPixelSearch, BrightestOfItsGridByMoreThanTheThreshold)
{
    auto n = MakeNegative(fixtures::Mosaic::kRGGB, 40, 40);
    n->Fill(1000);
    n->At(20, 16) = 5000; // 4000 above the mean of the other eight
    EXPECT_EQ(n->neg->FindDeadPixels(0, 0, 40, 40, 3999), (Points{{20, 16}}));
    EXPECT_TRUE(n->neg->FindDeadPixels(0, 0, 40, 40, 4000).empty());
    // Two in each other's grid: each 3500 above (7 x 1000 + 5000) / 8. Listed row by row.
    n->At(22, 16) = n->At(7, 30) = 5000;
    EXPECT_EQ(n->neg->FindDeadPixels(0, 0, 40, 40, 3499), (Points{{20, 16}, {22, 16}, {7, 30}}));
    EXPECT_EQ(n->neg->FindDeadPixels(0, 0, 40, 40, 3500), (Points{{7, 30}}));
    // Only the brightest of a grid counts; brighter photosites of other colours beside it do not
    // hide it (they are listed for their own grids).
    n->At(22, 16) = 6000;
    n->At(21, 16) = n->At(20, 17) = 60000;
    EXPECT_EQ(n->neg->FindDeadPixels(0, 0, 40, 40, 1000), (Points{{21, 16}, {22, 16}, {20, 17}, {7, 30}}));
    // A dark photosite is never listed (its neighbours are, at a low threshold); a flat image never.
    n->Fill(1000);
    n->At(20, 16) = 0;
    const Points low = n->neg->FindDeadPixels(0, 0, 40, 40, 100);
    EXPECT_EQ(low.size(), 8u);
    EXPECT_EQ(std::count(low.begin(), low.end(), PixelPoint{20, 16}), 0);
    n->Fill(65535);
    EXPECT_TRUE(n->neg->FindDeadPixels(0, 0, 40, 40, 0).empty());
}

TEST(DeadPixelSearch, TestsTheInnerPartOfTheClippedRectangle)
{
    struct Case {
        int32_t top, left, height, width, firstRow, lastRow, firstCol, lastCol; // first > last: none
    };
    const Case cases[] = {
        {0, 0, 20, 20, 6, 15, 6, 15}, {10, 12, 20, 20, 16, 25, 18, 27}, {0, 0, 10, 40, 1, 0, 1, 0},
        {-10, -10, 40, 40, 6, 25, 6, 25}, {20, 24, 100, 100, 26, 35, 30, 35}, // partly outside: clipped
        {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 1, 0, 1, 0}, {0, 0, INT32_MAX, INT32_MAX, 6, 35, 6, 35},
    };
    auto n = MakeNegative(fixtures::Mosaic::kBGGR, 40, 40);
    n->Fill(1000);
    for (const Case& c : cases)
        for (int32_t y : {0, 5, 6, 15, 16, 17, 25, 26, 35, 36, 39})
            for (int32_t x : {0, 5, 6, 15, 16, 17, 18, 25, 26, 27, 28, 29, 30, 35, 36, 39}) {
                n->At(x, y) = 5000;
                const Points found = n->neg->FindDeadPixels(c.top, c.left, c.height, c.width, 1000);
                n->At(x, y) = 1000;
                const bool tested = y >= c.firstRow && y <= c.lastRow && x >= c.firstCol && x <= c.lastCol;
                const Points expected = tested ? Points{{x, y}} : Points{};
                ASSERT_EQ(found, expected) << "rectangle at " << c.top << "," << c.left << ", hot at " << x << "," << y;
            }
}

// At and next to every corner, in all four layouts: the grid moves inward at the edges and holds
// the photosite's own colour only. A colour's photosites carry base + 100 x (row / 2) + column / 2
// with a base of its own, so the result shows where it came from.
TEST(DeadPixelRepair, EdgesAndCornersTakeTheMedianOfTheSameColour)
{
    for (auto mosaic : {fixtures::Mosaic::kRGGB, fixtures::Mosaic::kBGGR, fixtures::Mosaic::kGRBG,
                        fixtures::Mosaic::kGBRG}) {
        auto n = MakeNegative(mosaic, 20, 20);
        auto base = [&](int32_t x, int32_t y) {
            if (n->neg->IsRedPixel(x, y))
                return 10000;
            if (n->neg->IsBluePixel(x, y))
                return 40000;
            return n->neg->IsG1Pixel(x, y) ? 20000 : 30000;
        };
        std::array<int, 4> perColour{};
        for (int32_t y : {0, 1, 18, 19})
            for (int32_t x : {0, 1, 18, 19}) {
                for (int32_t r = 0; r < 20; ++r)
                    for (int32_t c = 0; c < 20; ++c)
                        n->At(c, r) = uint16_t(base(c, r) + 100 * (r / 2) + c / 2);
                n->At(x, y) = 65000;
                n->neg->RepairDeadPixel(n->Stage1(), x, y);
                // The fifth smallest of the other eight, e.g. top left of 1 2 100 101 102 200 201 202.
                const int offset = y < 2 ? (x < 2 ? 102 : 109) : (x < 2 ? 801 : 808);
                EXPECT_EQ(n->At(x, y), base(x, y) + offset) << "layout " << int(mosaic) << " at " << x << "," << y;
                ++perColour[size_t(base(x, y) / 10000 - 1)];
            }
        EXPECT_EQ(perColour, (std::array<int, 4>{4, 4, 4, 4}));
    }
}

TEST(DeadPixelRepair, OutsideOrTinyImagesStayInBounds)
{
    auto n = MakeNegative(fixtures::Mosaic::kRGGB, 16, 16);
    n->Fill(1000);
    n->At(0, 0) = 5000;
    for (auto [x, y] : Points{{-1, 0}, {0, -1}, {16, 0}, {0, 16}, {INT32_MIN, INT32_MAX}})
        n->neg->RepairDeadPixel(n->Stage1(), x, y);
    EXPECT_EQ(n->At(0, 0), 5000);
    // Below 6 photosites a side only the grid cells inside count; of an even count the lower middle.
    dng::Image tiny(5, 1, 1, dng::PixelType::kUInt16);
    uint16_t* row = tiny.View16Of(0).Row(0);
    std::copy_n(std::array<uint16_t, 5>{5000, 9000, 10, 400, 40}.begin(), 5, row);
    n->neg->RepairDeadPixel(tiny, 0, 0); // of 10 40 5000
    n->neg->RepairDeadPixel(tiny, 1, 0); // of 400 9000
    EXPECT_EQ(row[0], 40);
    EXPECT_EQ(row[1], 400);
}

TEST(DeadPixelRepair, RegisteredPixelsInListOrderInsideTheImageOnly)
{
    auto n = MakeNegative(fixtures::Mosaic::kGRBG, 32, 24);
    n->Fill(1000);
    for (auto [x, y] : Points{{0, 0}, {31, 23}, {10, 10}, {12, 10}, {14, 10}, {10, 12}, {12, 12}})
        n->At(x, y) = 9000;
    // (12, 10) has five 9000s in its grid unless (10, 10) was repaired before it.
    n->neg->fDeadPixels = {{-1, 0}, {0, -1}, {32, 0}, {0, 24}, {INT32_MIN, 3}, {0, 0}, {31, 23}, {10, 10}, {12, 10}};
    n->neg->RepairRegisteredDeadPixels();
    for (int32_t y = 0; y < 24; ++y)
        for (int32_t x = 0; x < 32; ++x) {
            const bool kept = (x == 14 && y == 10) || (y == 12 && (x == 10 || x == 12));
            EXPECT_EQ(n->At(x, y), kept ? 9000 : 1000) << x << "," << y;
        }
    auto bare = MakeNegative(fixtures::Mosaic::kRGGB, 32, 32, false);
    EXPECT_THROW(bare->neg->RepairRegisteredDeadPixels(), dng::Error);
    EXPECT_THROW(bare->neg->FindDeadPixels(0, 0, 32, 32, 1000), dng::Error);
}

TEST(DeadPixelRepair, RegisteredPointsFindTheirPhotositeInAToolsPreviewCrop)
{
    // Points are registered in the aligned whole image. The crop of an image not yet aligned
    // (active area from row and column 1) lies one row and column off.
    for (const bool odd : {false, true}) {
        const int32_t shift = odd ? 1 : 0;
        auto n = MakeNegative(fixtures::Mosaic::kRGGB, 32, 24, true,
                              odd ? std::optional(dng::Rect(1, 1, 24, 32)) : std::nullopt);
        n->Fill(1000);
        n->At(12 + shift, 10 + shift) = 9000;
        n->neg->CropStage1(n->host, 4 + shift, 6 + shift, 16, 12);
        n->neg->fDeadPixels = {{12, 10}};
        n->neg->RepairRegisteredDeadPixels();
        EXPECT_EQ(n->At(8, 4), 1000) << odd;
    }
}

} // namespace
