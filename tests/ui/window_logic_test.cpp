// Widget-free rules of the gradient dialog, the update check and the dead-pixel windows that the
// window tests do not reach.
#include "ui/logic/dead_pixel_finder.h"
#include "ui/logic/gradient_ramp.h"
#include "ui/logic/update_text.h"

#include <gtest/gtest.h>

namespace {

TEST(WindowLogic, RampOfAnUnevenStepAndPercentOfAnUnknownDirection)
{
    // 200 / 7 per line, truncated: the seventh line is the last before white.
    const auto lines = ui::GradientRamp(0, 7, 200);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[1], (ui::RampLine{1, 55 + 28}));
    EXPECT_EQ(lines[6], (ui::RampLine{6, 55 + 171}));
    EXPECT_TRUE(ui::GradientRamp(4, 100, 200).empty());
    EXPECT_EQ(ui::GradientPercent(4, 100, 100), 200);
}

TEST(WindowLogic, UpdateTextIsTheBytesUpToTheFirstZero)
{
    EXPECT_EQ(ui::UpdateTextFromBytes(std::string("0.9\0junk", 8)), "0.9");
    EXPECT_EQ(ui::ClassifyUpdateText(ui::UpdateTextFromBytes(std::string("0.9\0junk", 8)), "0.9.83"),
              ui::UpdateOutcome::kNewVersion);
    EXPECT_EQ(ui::UpdateTextFromBytes(std::string(600, 'x')).size(), 512u);
}

TEST(WindowLogic, FinderGeometryAfterAHalfSizeRunAndTheAllRegisteredStatus)
{
    // A masked border of 60 columns and 17 rows (staged from row 16), after a half-size run: the
    // crop covers twice the pixels from the active area's origin on.
    const ui::RawMapping half = ui::RawMappingFor(60, 17, true);
    const ui::FinderArea raw = ui::FinderSearchArea(100.5, 10, 368, 244, half);
    EXPECT_EQ(raw.left, 260);
    EXPECT_EQ(raw.top, 36);
    EXPECT_EQ(raw.width, 736);
    EXPECT_EQ(raw.height, 488);
    const ui::MarkerPosition m = ui::MarkerTopLeft(raw, 260 + 21, 36 + 40, half);
    EXPECT_EQ(m.x, 6);
    EXPECT_EQ(m.y, 16);
    const ui::FinderStatus s = ui::SearchStatus(2, 2);
    EXPECT_EQ(s.text, "Found candidates, but they are already registered...");
    EXPECT_EQ(s.colour, ui::StatusColour::kOrange);
}

TEST(WindowLogic, BayerColourOfTheListedBody)
{
    struct Case {
        int column, row;
        std::string model, colour;
    };
    const Case cases[] = {
        {10, 20, "M9 Digital Camera", "Red"},   {11, 21, "M9 Digital Camera", "Blue"},
        {11, 20, "M9 Digital Camera", "Green"}, {10, 20, "LEICA M (Typ 240)", "Blue"},
        {10, 20, "LEICA M (typ 240)", "Blue"},  {11, 21, "LEICA M (Typ 240) ", "Red"},
        {11, 20, "LEICA M (Typ 240)", "Green"}, {10, 20, "LEICA M (Typ 2400)", "Red"},
        {10, 20, "Nikon D200", "Green"},        {11, 20, "Nikon D200", "Red"},
        {10, 21, "Nikon D200", "Blue"},         {10, 20, "Sony ILCE-7S", "Blue"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ui::BayerColourName(c.column, c.row, engine::ModelBayerLayout(c.model)), c.colour)
            << c.model << c.column << c.row;
}

} // namespace
