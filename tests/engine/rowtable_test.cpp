// The row table copy and the G2 equalisation, on negatives read from synthetic DNGs (for their
// colour pattern and white level) and buffers built by hand.
#include "engine/vrel_negative.h"

#include "dng/image.h"
#include "dng/info.h"
#include "dng/stream.h"
#include "fixtures/dng_fixture.h"
#include "negative_fixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace {

using engine::RowTable;
using engine::VrelNegative;

using enginetest::MakeImage;
using Parsed = enginetest::ParsedNegative;

// A parsed negative (no pixels read) with the given pattern and a white level of 16383.
std::unique_ptr<Parsed> ParsedNegative(fixtures::Mosaic mosaic)
{
    fixtures::DngSpec desc;
    desc.mosaic = mosaic;
    desc.width = 16;
    desc.height = 16;
    desc.valueBits = 14;
    desc.whiteLevel = 16383;
    return enginetest::FromSynthetic<Parsed>(desc);
}

uint16_t At(const dng::Image& img, int32_t x, int32_t y)
{
    return img.ConstView16Of(0).Row(y)[x];
}

// A smooth RGGB-style field: G1 at 1000, G2 at g2, red and blue at 700 and 500.
std::unique_ptr<dng::Image> GreenField(const VrelNegative& neg, int32_t w, int32_t h, uint16_t g2)
{
    return MakeImage(w, h, [&](int32_t x, int32_t y) -> uint16_t {
        if (neg.IsG1Pixel(x, y))
            return 1000;
        if (neg.IsG2Pixel(x, y))
            return g2;
        return neg.IsRedPixel(x, y) ? 700 : 500;
    });
}

RowTable TableOf(const VrelNegative& neg, const dng::Image& buffer)
{
    RowTable rows(buffer.Width(), buffer.Height());
    neg.CopyBufferToRows(rows, buffer);
    return rows;
}

TEST(RowTable, CopiesEveryPhotositeAndIsNotLimitedInHeight)
{
    auto p = ParsedNegative(fixtures::Mosaic::kRGGB);
    // Taller than the 5000 rows a fixed table would hold.
    auto img = MakeImage(3, 6001, [](int32_t x, int32_t y) { return uint16_t((y * 3 + x) % 65536); });
    const RowTable rows = TableOf(*p->neg, *img);
    for (int32_t y : {0, 1, 4999, 5000, 6000})
        for (int32_t x = 0; x < 3; ++x)
            EXPECT_EQ(rows.Row(y)[x], At(*img, x, y)) << x << "," << y;
}

TEST(EqualizeG2, ChoosesTheDiagonalPairThatVariesLeast)
{
    auto p = ParsedNegative(fixtures::Mosaic::kRGGB);
    const VrelNegative& neg = *p->neg;
    // Site (4, 5): D1 = (3, 4), D2 = (5, 4), D3 = (3, 6), D4 = (5, 6) as (column, row).
    auto build = [&](uint16_t d1, uint16_t d2, uint16_t d3, uint16_t d4, uint16_t p0) {
        auto img = GreenField(neg, 10, 10, 1000);
        const dng::View16 v = img->View16Of(0);
        v.Row(4)[3] = d1;
        v.Row(4)[5] = d2;
        v.Row(6)[3] = d3;
        v.Row(6)[5] = d4;
        v.Row(5)[4] = p0;
        return img;
    };
    {
        // |D2 - D3| > |D1 - D4|: the D1 / D4 pair, mean 1000.5 kept without its fraction.
        auto img = build(1000, 994, 1010, 1001, 1002);
        RowTable rows = TableOf(neg, *img);
        neg.EqualizeG2Pixels(rows, *img, 1850, true);
        EXPECT_EQ(rows.Row(5)[4], 1000);
    }
    {
        // |D1 - D4| > |D2 - D3|: the D2 / D3 pair, mean 1003.5.
        auto img = build(990, 1003, 1004, 1010, 1006);
        RowTable rows = TableOf(neg, *img);
        neg.EqualizeG2Pixels(rows, *img, 1850, true);
        EXPECT_EQ(rows.Row(5)[4], 1003);
    }
    {
        // Equal spreads: the mean of all four, (1000 + 1002 + 1004 + 1002) / 4 = 1002.
        auto img = build(1000, 1002, 1004, 1002, 1005);
        RowTable rows = TableOf(neg, *img);
        neg.EqualizeG2Pixels(rows, *img, 1850, true);
        EXPECT_EQ(rows.Row(5)[4], 1002);
    }
}

TEST(EqualizeG2, LeavesSitesThatFailATest)
{
    auto p = ParsedNegative(fixtures::Mosaic::kRGGB);
    const VrelNegative& neg = *p->neg;
    const auto run = [&](const dng::Image& img, int32_t value, bool vertical) {
        RowTable rows = TableOf(neg, img);
        neg.EqualizeG2Pixels(rows, img, value, vertical);
        return rows.Row(5)[4];
    };

    // Darker than the upper-right G1 neighbour: never changed.
    auto darker = GreenField(neg, 10, 10, 1000);
    darker->View16Of(0).Row(5)[4] = 999;
    EXPECT_EQ(run(*darker, 3500, true), 999);

    // Darker than the upper-right G1 only.
    auto belowUpperRight = GreenField(neg, 10, 10, 1000);
    belowUpperRight->View16Of(0).Row(5)[4] = 1010;
    belowUpperRight->View16Of(0).Row(4)[5] = 1012;
    EXPECT_EQ(run(*belowUpperRight, 3500, true), 1010);

    // Value 0: the threshold is 0 and nothing changes.
    auto bright = GreenField(neg, 10, 10, 1000);
    bright->View16Of(0).Row(5)[4] = 1010;
    EXPECT_EQ(run(*bright, 0, true), 1010);

    // Too far from its neighbours for the threshold: 1850 / 16383 x 1200 = 135.5 < 200.
    auto far = GreenField(neg, 10, 10, 1000);
    far->View16Of(0).Row(5)[4] = 1200;
    EXPECT_EQ(run(*far, 1850, true), 1200);
    EXPECT_EQ(run(*far, 3500, true), 1000) << "within 3500 / 16383 x 1200 = 256.4";

    // A vertical edge through the site (red above 700, below 1700): only the vertical check
    // stops it.
    auto edge = GreenField(neg, 10, 10, 1000);
    edge->View16Of(0).Row(5)[4] = 1010;
    edge->View16Of(0).Row(6)[4] = 1700;
    EXPECT_EQ(run(*edge, 1850, true), 1010);
    EXPECT_EQ(run(*edge, 1850, false), 1000);
}

TEST(EqualizeG2, EvensOutInsideOnlyAndNeverOtherColours)
{
    // G2 at 1010 beside G1 at 1000 everywhere: every G2 at least 3 rows / columns inside (and
    // above the last row, left of the last two columns) becomes 1000, nothing else changes.
    for (fixtures::Mosaic mosaic : {fixtures::Mosaic::kRGGB, fixtures::Mosaic::kBGGR, fixtures::Mosaic::kGRBG,
                                    fixtures::Mosaic::kGBRG}) {
        auto p = ParsedNegative(mosaic);
        const VrelNegative& neg = *p->neg;
        for (int32_t w : {10, 11}) {
            const int32_t h = 21 - w; // 11 x 10 and 10 x 11, so both parities meet the last rows
            auto img = GreenField(neg, w, h, 1010);
            RowTable rows = TableOf(neg, *img);
            neg.EqualizeG2Pixels(rows, *img, 1850, true);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) {
                    const bool inside = y >= 3 && y <= h - 2 && x >= 3 && x <= w - 3;
                    const uint16_t expected = neg.IsG2Pixel(x, y) && inside ? 1000 : At(*img, x, y);
                    EXPECT_EQ(rows.Row(y)[x], expected)
                        << "layout " << int(mosaic) << ", " << w << " x " << h << ", (" << x << "," << y << ")";
                }
        }
    }
}

} // namespace
