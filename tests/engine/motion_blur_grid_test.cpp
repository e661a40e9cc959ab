#include "engine/motion_blur_grid.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using engine::MotionBlurGrid;
using Button = MotionBlurGrid::Button;

struct Recorder {
    std::string events;
    void Attach(MotionBlurGrid& g)
    {
        g.onChanged = [this] { events += 'c'; };
        g.onGridEmpty = [this] { events += 'e'; };
        g.onGridNotEmpty = [this] { events += 'n'; };
        g.onRepaint = [this] { events += 'r'; };
    }
};

int CountSet(const MotionBlurGrid& g)
{
    int n = 0;
    for (int x = 0; x < 100; ++x)
        for (int y = 0; y < 100; ++y)
            n += g.IsSet(x, y);
    return n;
}

TEST(MotionBlurGrid, ClicksAndDragsInTheFreeGrid)
{
    MotionBlurGrid g;
    Recorder r;
    r.Attach(g);
    g.MouseDown(Button::kRight); // a right click without movement toggles like a left one
    g.MouseUp(52, 48);
    EXPECT_TRUE(g.IsSet(52, 48));
    EXPECT_EQ(g.Colour(52, 48), 0x008000u);
    EXPECT_EQ(r.events, "rcn");
    g.CellClick(52, 48);
    EXPECT_FALSE(g.IsSet(52, 48));
    EXPECT_EQ(r.events, "rcnrce");

    // Left drag: each newly entered cell once, re-entering paints again, the release is no click.
    r.events.clear();
    g.MouseDown(Button::kLeft);
    for (int x : {40, 40, 41, 40, 41})
        g.MouseMove(x, 50);
    g.MouseMove(-1, 50); // off the grid
    g.MouseUp(41, 50);
    EXPECT_EQ(r.events, "rrrrc");
    EXPECT_TRUE(g.IsSet(40, 50) && g.IsSet(41, 50));
    EXPECT_EQ(CountSet(g), 2);

    // A right drag clears; moves without a button do nothing.
    g.MouseMove(42, 50);
    g.MouseDown(Button::kRight);
    g.MouseMove(41, 50);
    g.MouseUp(41, 50);
    EXPECT_FALSE(g.IsSet(41, 50));
    EXPECT_EQ(CountSet(g), 1);
    EXPECT_EQ(g.Weight(40, 50), 1.0);

    // Row 0 and column 0 do not count and are never cleared.
    g.Clear(false);
    g.CellClick(0, 7);
    g.CellClick(7, 0);
    EXPECT_FALSE(g.AnyCellSet());
    g.Clear(true);
    EXPECT_TRUE(g.IsSet(0, 7));
}

TEST(MotionBlurGrid, LinesRunPointSymmetricThroughTheCentre)
{
    MotionBlurGrid g;
    g.SetLineKind(MotionBlurGrid::kLineThroughCentre);
    for (auto [x, y] : {std::pair{54, 50}, {50, 44}, {60, 53}, {43, 57}, {31, 69}, {45, 38}, {0, 3}}) {
        SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
        g.CellClick(x, y);
        const int steps = std::max(std::abs(x - 50), std::abs(y - 50));
        EXPECT_TRUE(g.IsSet(x, y) && g.IsSet(50, 50));
        int n = 0;
        for (int cx = 0; cx < 100; ++cx)
            for (int cy = 0; cy < 100; ++cy) {
                if (!g.IsSet(cx, cy))
                    continue;
                ++n;
                if (cx > 0 && cy > 0) {
                    EXPECT_TRUE(g.IsSet(100 - cx, 100 - cy)) << cx << "," << cy;
                }
            }
        // One cell per step along the longer axis (the mirror of column or row 0 is off the grid).
        EXPECT_EQ(n, (x == 0 ? 2 * steps : 2 * steps + 1));
    }
    g.ClickCentre(); // draws nothing
    EXPECT_FALSE(g.AnyCellSet());
}

TEST(MotionBlurGrid, FocusDiscsHaveAHalfWeightRing)
{
    MotionBlurGrid g;
    Recorder r;
    r.Attach(g);
    g.SetMode(MotionBlurGrid::kFocusDisc); // a disc at the centre at once
    EXPECT_EQ(CountSet(g), 9);
    EXPECT_EQ(g.Weight(50, 50), 1.0);
    EXPECT_EQ(g.Weight(49, 51), 0.5);
    EXPECT_EQ(g.Colour(51, 49), 0xD2D200u);
    EXPECT_EQ(r.events, "rcn");

    g.CellClick(60, 40);
    g.SetRadius(3); // redrawn around the last centre
    double full = 0, half = 0;
    for (int x = 50; x < 70; ++x)
        for (int y = 30; y < 50; ++y) {
            const double w = g.Weight(x, y);
            (w == 1.0 ? full : half) += w > 0;
            EXPECT_EQ(w, g.Weight(120 - x, 80 - y)); // symmetric about (60, 40)
            if (w > 0) {
                EXPECT_LE((x - 60) * (x - 60) + (y - 40) * (y - 40), 12);
            }
        }
    EXPECT_EQ(full, 21); // radius 2: 5 x 5 without its corners
    EXPECT_EQ(half, 16);
    EXPECT_EQ(g.Weight(63, 40), 0.5);
    EXPECT_EQ(g.Weight(62, 41), 1.0);

    // Clearing with notice leaves a fresh disc at the centre, not an empty grid.
    g.ResetRadius();
    g.Clear(true);
    EXPECT_EQ(CountSet(g), 9);
    EXPECT_EQ(g.Weight(50, 50), 1.0);
}

TEST(MotionBlurGrid, ViewZoomsBetweenNineAndThirtyNineCells)
{
    MotionBlurGrid g;
    EXPECT_EQ(g.VisibleCount(), 11);
    EXPECT_EQ(g.ViewOrigin(), 45);
    for (int i = 0; i < 30; ++i)
        g.GrowView();
    EXPECT_EQ(g.VisibleCount(), 39);
    EXPECT_EQ(g.ViewOrigin(), 31);
    for (int i = 0; i < 30; ++i)
        g.ShrinkView();
    EXPECT_EQ(g.VisibleCount(), 9);
    EXPECT_EQ(g.ViewOrigin(), 46);
}

TEST(MotionBlurGrid, DisplayValuesColourCellsWithoutChangingWeights)
{
    const std::pair<double, engine::TColor> table[] = {
        {0.0, 0x000000}, {0.5, 0x69FF69}, {0.9, 0x008000}, {1.0, 0x008000}, {0.25, 0xB4FFB4}};
    MotionBlurGrid g;
    g.CellClick(50, 50);
    for (auto [v, colour] : table) {
        g.SetCellValue(50, 50, v);
        EXPECT_EQ(g.Colour(50, 50), colour) << v;
        EXPECT_EQ(g.Weight(50, 50), 1.0);
    }
}

} // namespace
