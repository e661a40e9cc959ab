// Widget-free logic of the gradient dialog, the update check and the dead-pixel windows.
#include "ui/logic/dead_pixel_finder.h"
#include "ui/logic/gradient_ramp.h"
#include "ui/logic/update_text.h"

#include <gtest/gtest.h>

namespace {

using ui::RampLine;

TEST(GradientRamp, CoversTheReachFromItsEdgeAndStopsShortOfWhite)
{
    struct Case {
        int direction, extent;
        size_t lines;
        RampLine first, last;
    };
    const Case cases[] = {
        {0, 0, 1, {0, 55}, {0, 55}},       {0, 100, 100, {0, 55}, {99, 253}}, {0, 200, 200, {0, 55}, {199, 254}},
        {1, 0, 199, {199, 55}, {1, 253}},  {1, 100, 100, {199, 55}, {100, 253}}, {1, 200, 1, {199, 55}, {199, 55}},
        {2, 100, 100, {0, 55}, {99, 253}}, {3, 0, 199, {199, 55}, {1, 253}},   {3, 200, 1, {199, 55}, {199, 55}},
        {0, 7, 7, {0, 55}, {6, 55 + 171}}, {4, 100, 0, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "direction " << c.direction << " extent " << c.extent);
        const auto lines = ui::GradientRamp(c.direction, c.extent, 200);
        ASSERT_EQ(lines.size(), c.lines);
        if (lines.empty())
            continue;
        EXPECT_EQ(lines.front(), c.first);
        EXPECT_EQ(lines.back(), c.last);
        for (size_t i = 1; i < lines.size(); ++i) // one line per step, never darker than the one before
            EXPECT_GE(lines[i].grey, lines[i - 1].grey);
    }
    // Extent 100 runs in steps of 2.
    EXPECT_EQ(ui::GradientRamp(0, 100, 200)[10], (RampLine{10, 75}));
}

TEST(GradientRamp, PercentFollowsTheSliderOfTheDirection)
{
    struct Case {
        int direction, vertical, horizontal, percent;
    };
    const Case cases[] = {{0, 100, 0, 50},  {0, 201, 0, 100}, {1, 0, 200, 100}, {1, 199, 0, 0},
                          {2, 0, 37, 18},  {3, 200, 0, 100},  {3, 0, 200, 0},   {7, 100, 100, 200}};
    for (const Case& c : cases)
        EXPECT_EQ(ui::GradientPercent(c.direction, c.vertical, c.horizontal), c.percent) << c.direction;
}

TEST(UpdateText, ClassifiesTheReceivedBytes)
{
    using ui::UpdateOutcome;
    struct Case {
        std::string received;
        UpdateOutcome outcome;
        std::string text;
    };
    const Case cases[] = {
        {"0.9.83", UpdateOutcome::kUpToDate, "0.9.83"},
        {"0.9.84", UpdateOutcome::kNewVersion, "0.9.84"},
        {"0.9.82", UpdateOutcome::kNewVersion, "0.9.82"}, // no ordering: an older one is offered too
        {"0.9.83\n", UpdateOutcome::kLacking, "0.9.83\n"},
        {"0.9.83\r\n", UpdateOutcome::kLacking, "0.9.83\r\n"},
        {"", UpdateOutcome::kNothing, ""},
        {std::string("0.9\0garbage", 11), UpdateOutcome::kNewVersion, "0.9"},
        {std::string(600, 'x'), UpdateOutcome::kLacking, std::string(512, 'x')},
    };
    for (const Case& c : cases) {
        const std::string text = ui::UpdateTextFromBytes(c.received);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(ui::ClassifyUpdateText(text, "0.9.83"), c.outcome) << c.received;
    }
    EXPECT_EQ(ui::UpdateMessage(UpdateOutcome::kNewVersion, "<b>1</b>"),
              "A new version (<b>1</b>) of Velloray is available.\n\nDo you want to download it now?");
    EXPECT_TRUE(ui::UpdateMessage(UpdateOutcome::kNothing, "").empty());
}

TEST(DeadPixelFinder, AreaMarkersAndTexts)
{
    const ui::FinderArea area = ui::FinderSearchArea(1656.9, 1098.2, 368, 244);
    EXPECT_EQ(area.left, 1656);
    EXPECT_EQ(area.top, 1098);
    EXPECT_EQ(area.width, 368);
    EXPECT_EQ(area.height, 244);
    const ui::MarkerPosition m = ui::MarkerTopLeft(area, 1656 + 10, 1098 + 20);
    EXPECT_EQ(m.x, 6); // the 9 x 9 square is centred on picture pixel (10, 20)
    EXPECT_EQ(m.y, 16);
    // A photo with a masked border of 60 columns and 17 rows (staged from row 16), after a
    // half-size run: the crop covers twice the pixels from the active area's origin on.
    const ui::RawMapping half = ui::RawMappingFor(60, 17, true);
    const ui::FinderArea raw = ui::FinderSearchArea(100.5, 10, 368, 244, half);
    EXPECT_EQ(raw.left, 260);
    EXPECT_EQ(raw.top, 36);
    EXPECT_EQ(raw.width, 736);
    EXPECT_EQ(raw.height, 488);
    const ui::MarkerPosition h = ui::MarkerTopLeft(raw, 260 + 21, 36 + 40, half);
    EXPECT_EQ(h.x, 6);
    EXPECT_EQ(h.y, 16);

    struct Case {
        size_t found, registered;
        ui::StatusColour colour;
        std::string text;
    };
    const Case cases[] = {
        {0, 0, ui::StatusColour::kMaroon, "Found none... lower the threshold and try again..."},
        {11, 0, ui::StatusColour::kMaroon, "Found more than 10... raise the threshold and try again..."},
        {10, 9, ui::StatusColour::kGreen, "Found candidates (10), click on the red square(s) to confirm..."},
        {2, 2, ui::StatusColour::kOrange, "Found candidates, but they are already registered..."},
    };
    for (const Case& c : cases) {
        const ui::FinderStatus s = ui::SearchStatus(c.found, c.registered);
        EXPECT_EQ(s.text, c.text);
        EXPECT_EQ(s.colour, c.colour);
    }
    EXPECT_EQ(ui::ConfirmedStatus(0), "Confirmed 0 pixels...");
    EXPECT_EQ(ui::ConfirmedStatus(1), "Confirmed 1 pixel... click 'OK' to add to list...");
    EXPECT_EQ(ui::ConfirmedStatus(2), "Confirmed 2 pixels... click 'OK' to add to list...");
    EXPECT_EQ(ui::PixelsAddedMessage(0).substr(0, 39), "0 confirmed pixels were added to the de");
    EXPECT_EQ(ui::PixelsAddedMessage(1).substr(0, 38), "1 confirmed pixel was added to the dea");
}

TEST(DeadPixelList, BayerColourOfTheBody)
{
    struct Case {
        int column, row;
        std::string model, colour;
    };
    const Case cases[] = {
        {10, 20, "M9 Digital Camera", "Red"},  {11, 21, "M9 Digital Camera", "Blue"},
        {11, 20, "M9 Digital Camera", "Green"}, {10, 20, "LEICA M (Typ 240)", "Blue"},
        {10, 20, "LEICA M (typ 240)", "Blue"}, {11, 21, "LEICA M (Typ 240)", "Red"},
        {11, 20, "LEICA M (Typ 240)", "Green"}, {10, 20, "LEICA M (Typ 240) ", "Blue"}, {10, 20, "LEICA M (Typ 2400)", "Red"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ui::BayerColourName(c.column, c.row, c.model), c.colour) << c.model << c.column << c.row;
}

} // namespace
