// The tools preview's crop at the navigation picture's edges and corners, at 100% and 200%: the
// origin rule on its own, and over the real driver the block a preview run processes against the
// crop shown while the button is down.
#include "photo_fixture.h"

#include "ui/logic/tools_crop.h"
#include "ui/toolspreview.h"
#include "tools_window_seam.h"
#include "ui_toolspreview.h"

#include "engine/fake_engine_ui.h"

#include <QApplication>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <cctype>
#include <iterator>
#include <string>

namespace {

// The control's corners and edge midpoints (it is 366 x 244).
struct ControlPoint {
    const char* name;
    int x, y;
};
constexpr ControlPoint kEdgePoints[] = {
    {"top left", 0, 0},         {"top", 183, 0},      {"top right", 365, 0},   {"right", 365, 122},
    {"bottom right", 365, 243}, {"bottom", 183, 243}, {"bottom left", 0, 243}, {"left", 0, 122},
};

TEST(ToolsCropEdges, OriginKeepsTheProcessedBlockInsideAtBothZooms)
{
    struct Case {
        int32_t pictureWidth, pictureHeight;
        int zoom;
        int32_t x[8], y[8]; // for kEdgePoints in order
    };
    // 2000 x 1334: the block ends at the picture's edge, (1488, 966), at both zooms; at the
    // midpoints the click centres the part shown (994 - 256 or - 128 across, 667 - 184 or - 92 down,
    // made even). 1001 x 701: odd sizes end one short of the edge, (488, 332), so that the origin
    // stays even. 401 x 301: smaller than the block, always at 0.
    const Case cases[] = {
        {2000, 1334, 100, {0, 738, 1488, 1488, 1488, 738, 0, 0}, {0, 0, 0, 484, 966, 966, 966, 484}},
        {2000, 1334, 200, {0, 866, 1488, 1488, 1488, 866, 0, 0}, {0, 0, 0, 576, 966, 966, 966, 576}},
        {1001, 701, 100, {0, 242, 488, 488, 488, 242, 0, 0}, {0, 0, 0, 166, 332, 332, 332, 166}},
        {1001, 701, 200, {0, 370, 488, 488, 488, 370, 0, 0}, {0, 0, 0, 258, 332, 332, 332, 258}},
        {401, 301, 200, {0, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases)
        for (size_t i = 0; i < std::size(kEdgePoints); ++i) {
            ui::ToolsCropRequest r;
            r.clickX = kEdgePoints[i].x;
            r.clickY = kEdgePoints[i].y;
            r.pictureWidth = c.pictureWidth;
            r.pictureHeight = c.pictureHeight;
            r.cropWidth = c.zoom == 200 ? 256 : 512;
            r.cropHeight = c.zoom == 200 ? 184 : 368;
            const ui::ToolsCropOrigin o = ui::ToolsCropOriginOf(r);
            const std::string where = std::to_string(c.pictureWidth) + " x " + std::to_string(c.pictureHeight) +
                                      " at " + std::to_string(c.zoom) + "%, " + kEdgePoints[i].name;
            EXPECT_EQ(o.x, c.x[i]) << where;
            EXPECT_EQ(o.y, c.y[i]) << where;
            EXPECT_EQ(o.x % 2, 0) << where;
            EXPECT_EQ(o.y % 2, 0) << where;
        }
}

// A button event at a point of a widget (QTest takes the point (0, 0) for the widget's centre).
void SendButton(QWidget* widget, QEvent::Type type, QPoint at)
{
    QMouseEvent e(type, at, widget->mapToGlobal(at), Qt::LeftButton,
                  type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, {});
    QApplication::sendEvent(widget, &e);
}

using WindowSeam = uitest::ToolsWindowSeam;

// A pressed point of the navigation picture shows a crop; its release runs the preview. The run
// must process the block that starts where the crop shown starts: the staged raw crop lies at the
// shown origin mapped to raw coordinates (the result's pixel (0, 0) is the active area's origin,
// in 50% mode at half scale), and away from the block's inner edges, where interpolation lacks
// its neighbours, the processed picture is the picture that was shown.
struct PhotoCase {
    const char* name;
    uint32_t width, height;
    dng::Rect active;
    bool halfSize;
};

class ToolsCropDriver : public ::testing::TestWithParam<PhotoCase> {};

TEST_P(ToolsCropDriver, TheRunProcessesTheCropShownAtEveryEdgeAndZoom)
{
    const PhotoCase& p = GetParam();
    const auto photo = uitest::MakePhoto(
        p.width, p.height, [](int x, int y) { return uint16_t(1000 + (x * 37 + y * 101) % 1500 + (x / 16) * 3); },
        "BSN-0042", p.active);
    WindowSeam seam;
    seam.halfSize = p.halfSize;
    engine::DNGConvert convert(seam);
    ui::DriverToolsPreviewEngine engine(
        convert, seam, [](int) {}, [](int) {});
    ui::TFToolsPreview window(engine, seam.boxes);
    seam.window = &window;
    ASSERT_EQ(convert.OpenAndIdentify(photo->PathString(), photo->FileName()), 1);
    ASSERT_TRUE(convert.fResultReady);
    Ui::TFToolsPreview& f = window.Form();
    window.show();
    const int scale = p.halfSize ? 2 : 1;
    // The result's first pixel in the pattern-aligned raw image that preview crops are counted in.
    const int32_t activeLeft = p.active.l - p.active.l % 2, activeTop = p.active.t - p.active.t % 2;

    for (int zoom : {100, 200}) {
        if (window.ZoomPercent() != zoom)
            f.btPercentage->click();
        for (const ControlPoint& at : kEdgePoints) {
            std::string where = std::string(p.name) + " at " + std::to_string(zoom) + "%, " + at.name;
            SendButton(f.imgPreview, QEvent::MouseButtonPress, QPoint(at.x, at.y));
            const platform::Bitmap shown = window.CropPicture();
            const int32_t column = window.CropColumn(), row = window.CropRow();
            where += " (" + std::to_string(column) + ", " + std::to_string(row) + ")";
            SendButton(f.imgPreview, QEvent::MouseButtonRelease, QPoint(at.x, at.y));
            const platform::Bitmap& processed = window.CropPicture();

            ASSERT_TRUE(convert.fNegative) << where;
            EXPECT_EQ(convert.fNegative->fStage1Origin.x, scale * column + activeLeft) << where;
            EXPECT_EQ(convert.fNegative->fStage1Origin.y, scale * row + activeTop) << where;
            ASSERT_EQ(processed.Width(), shown.Width()) << where;
            ASSERT_EQ(processed.Height(), shown.Height()) << where;
            // A few rows and columns at each side are left out: there the block's interpolation
            // lacks the neighbours that the whole photo's had (its masked border included).
            const int32_t margin = 4;
            int32_t differing = 0;
            for (int32_t y = margin; y < shown.Height() - margin; ++y)
                for (int32_t x = margin; x < shown.Width() - margin; ++x)
                    differing += shown.ScanLine(y)[x] != processed.ScanLine(y)[x];
            EXPECT_EQ(differing, 0) << where;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Photos, ToolsCropDriver,
    ::testing::Values(PhotoCase{"no border, odd size", 1101, 761, dng::Rect(0, 0, 761, 1101), false},
                      PhotoCase{"odd masked borders", 1109, 773, dng::Rect(3, 7, 771, 1103), false},
                      PhotoCase{"odd masked borders at 50%", 1409, 1073, dng::Rect(3, 7, 1071, 1403), true}),
    [](const ::testing::TestParamInfo<PhotoCase>& i) {
        std::string n = i.param.name;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

} // namespace
