// The tools preview against a scripted engine: slider press and release, the busy rule, stops,
// the mode table, crops at the picture's edges, the snapshot and the ways of closing; the kernel
// editor's mouse and wheel; and one run over the real driver.
#include "ui/class_motionblurpanel.h"
#include "ui/toolspreview.h"
#include "tools_window_seam.h"
#include "ui_toolspreview.h"

#include "engine/fake_engine_ui.h"
#include "fixtures/samples.h"

#include <QAccessible>
#include <QApplication>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cstring>

namespace {

using engine::MotionBlurGrid;

class ScriptedEngine : public ui::ToolsPreviewEngine {
public:
    void RunPreview(platform::Bitmap& crop, const ui::PreviewStrengths& s) override
    {
        ++runs;
        if (mark)
            std::memset(crop.ScanLine(0), 255, crop.RowBytes());
        last = s;
        if (auto f = std::exchange(duringRun, nullptr))
            f();
    }
    bool DrawNavigationPrecooked(platform::Bitmap& p, int, int, int) override { return Draw(p, platform::PixelFormat::k8Bit); }
    bool DrawNavigationCooked(platform::Bitmap& p, int) override { return Draw(p, platform::PixelFormat::k24Bit); }
    bool HalfSizeRun() const override { return false; }
    int MainBrightness() const override { return brightness; }
    int MainContrast() const override { return contrast; }
    void SetMainBrightness(int v) override { brightness = v; }
    void SetMainContrast(int v) override { contrast = v; }

    bool Draw(platform::Bitmap& p, platform::PixelFormat format)
    {
        p.SetPixelFormat(format);
        p.SetSize(width, height);
        for (int y = 0; y < height; ++y)
            for (size_t x = 0; x < p.RowBytes(); ++x)
                p.ScanLine(y)[x] = uint8_t(1 + (x * 7 + size_t(y) * 3) % 250);
        return true;
    }

    int runs = 0;
    bool mark = false; // a run leaves its trace in the crop's first row
    ui::PreviewStrengths last;
    std::function<void()> duringRun;
    int width = 1001, height = 701, brightness = 0, contrast = 0;
};

class ToolsPreview : public ::testing::Test {
protected:
    void Open(int mode = 1)
    {
        window.SetMode(mode);
        window.show();
    }
    // A release of the slider's button, as the user's hand gives it.
    static void Release(ui::TTrackBarMouse* s)
    {
        QTest::mousePress(s, Qt::LeftButton, {}, QPoint(5, s->height() / 2));
        QTest::mouseRelease(s, Qt::LeftButton, {}, QPoint(5, s->height() / 2));
    }
    uint8_t CropAt(int x, int y) const { return window.CropPicture().ScanLine(y)[x]; }
    uint8_t PictureAt(int x, int y) const { return window.NavigationPicture().ScanLine(y)[x]; }

    ScriptedEngine engine;
    enginetest::FakeMessageBoxes boxes;
    ui::TFToolsPreview window{engine, boxes};
    Ui::TFToolsPreview& f = window.Form();
};

TEST_F(ToolsPreview, HoldingShowsTheHintAndAReleaseDuringAnUpdateGivesExactlyOneMore)
{
    Open();
    const int before = engine.runs;
    f.tbNoiseRegular->setValue(40);
    QTest::mousePress(f.tbNoiseRegular, Qt::LeftButton, {}, QPoint(5, 10));
    EXPECT_EQ(f.lbStatus->text().toStdString(), "[release slider for new result to show]");
    EXPECT_EQ(engine.runs, before);
    QTest::mouseRelease(f.tbNoiseRegular, Qt::LeftButton, {}, QPoint(5, 10));
    EXPECT_EQ(engine.runs, before + 1);
    EXPECT_EQ(engine.last.regular, f.tbNoiseRegular->value() * 6);
    EXPECT_TRUE(f.tbNoiseRegular->isEnabled());

    // Two releases while an update runs: the running one ends, then one more shows them.
    engine.duringRun = [&] {
        f.tbPreRed->setValue(30);
        Release(f.tbPreRed);
        Release(f.tbPreBlue);
    };
    Release(f.tbNoiseRegular);
    EXPECT_EQ(engine.runs, before + 3);
    EXPECT_EQ(engine.last.preRed, f.tbPreRed->value() * 10);
    EXPECT_FALSE(window.Busy());

    // A value that assistive technology sets updates once, as a key does.
    engine.duringRun = {};
    const int runs = engine.runs;
    QAccessible::queryAccessibleInterface(f.tbNoiseRegular)->valueInterface()->setCurrentValue(20);
    EXPECT_EQ(engine.runs, runs + 1);
    EXPECT_EQ(engine.last.regular, 20 * 6);
}

TEST_F(ToolsPreview, StopsDetailAndBalanceAndTheModeTable)
{
    Open(1);
    EXPECT_FALSE(f.tbNoiseDetail->isEnabled());
    EXPECT_TRUE(f.sbStopBalance->isHidden());
    f.tbNoiseRegular->setValue(40);
    EXPECT_TRUE(f.tbNoiseDetail->isEnabled());
    EXPECT_FALSE(f.sbStopBalance->isHidden());

    f.sbStopRegular->click();
    EXPECT_EQ(engine.last.regular, 0);
    EXPECT_EQ(f.lbNoiseRegular->text(), "0");
    EXPECT_FALSE(f.tbNoiseRegular->isEnabled());
    f.tbNoiseBalance->setValue(130);
    EXPECT_EQ(f.lbNoiseBalance->text(), "+30");
    f.sbStopBalance->click();
    EXPECT_EQ(engine.last.balance, 100);
    EXPECT_EQ(f.lbNoiseBalance->text(), "0");
    f.sbStopRegular->click();
    EXPECT_EQ(engine.last.regular, 240);
    f.tbNoiseRegular->setValue(0);
    EXPECT_FALSE(f.tbNoiseDetail->isEnabled());
    EXPECT_TRUE(f.sbStopDetail->isHidden());
    window.hide();

    window.ResetSliders();
    Open(4);
    EXPECT_TRUE(f.tbNoiseRegular->isEnabled());
    for (auto* s : {f.tbPreGreen, f.tbPreRed, f.tbPreBlue, f.tbNoiseRed, f.tbNoiseBlue})
        EXPECT_FALSE(s->isEnabled()) << s->objectName().toStdString();
    f.tbNoiseRegular->setValue(30);
    EXPECT_EQ(f.tbNoiseRed->value(), 30);
    EXPECT_EQ(f.tbNoiseBlue->value(), 30);
}

TEST_F(ToolsPreview, CropsAtTheEdgesStayInsideThePicture)
{
    window.SetCropPoint(365, 243); // bottom right of an odd-sized picture
    Open();
    EXPECT_EQ(window.CropColumn(), 488); // even, as the processed block starts
    EXPECT_EQ(window.CropRow(), 332);
    EXPECT_EQ(CropAt(511, 367), PictureAt(999, 699));
    EXPECT_EQ(window.NavigationPicture().Width(), 1001); // one pixel per image pixel

    f.btPercentage->click();
    EXPECT_EQ(f.lbPercent->text(), "200%");
    EXPECT_EQ(window.NavigationPicture().Width(), 1001); // the whole picture at 200% too
    EXPECT_EQ(window.CropPicture().Width(), 256);
    // The top-left of the same 512 x 368 block that the preview run processes.
    EXPECT_EQ(window.CropColumn(), 488);
    EXPECT_EQ(window.CropRow(), 332);
    EXPECT_EQ(CropAt(255, 183), PictureAt(488 + 255, 332 + 183));
    f.btPercentage->click();
    window.hide();

    // A picture smaller than the crop: copied where it lies, the rest left black.
    engine.width = 301;
    engine.height = 199;
    window.ResetPreviewImages();
    Open();
    QTest::mouseClick(f.imgPreview, Qt::LeftButton, {}, QPoint(0, 0));
    EXPECT_EQ(window.CropRow(), 0);
    QTest::mouseClick(f.imgPreview, Qt::LeftButton, {}, QPoint(365, 243));
    EXPECT_EQ(window.CropColumn(), 0);
    EXPECT_EQ(CropAt(300, 198), PictureAt(300, 198));
    EXPECT_EQ(CropAt(301, 0), 0);
    EXPECT_EQ(CropAt(0, 199), 0);
}

TEST_F(ToolsPreview, ClosingRestoresOrKeepsTheSnapshot)
{
    Open();
    EXPECT_FALSE(f.btApply->isEnabled());
    f.tbNoiseRegular->setValue(10);
    f.tbMasking->setValue(500);
    engine.mark = true;
    window.BlurKernel().CellClick(52, 50);
    EXPECT_TRUE(f.btApply->isEnabled());
    EXPECT_EQ(CropAt(0, 0), 255);

    boxes.answers = {platform::MessageResult::kNo, platform::MessageResult::kYes};
    window.close();
    EXPECT_TRUE(window.isVisible());
    window.close();
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].caption, "Values changed...");
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), ui::TFToolsPreview::kResultCancel);
    EXPECT_EQ(f.tbNoiseRegular->value(), 0);
    EXPECT_EQ(f.tbMasking->value(), 0);
    EXPECT_FALSE(window.BlurKernel().AnyCellSet());
    EXPECT_EQ(CropAt(0, 0), PictureAt(window.CropColumn(), window.CropRow())); // not the given-up run
    engine.mark = false;

    // Keep: the changes stay and become the snapshot; a kernel keeps the apply action offered.
    Open();
    f.tbNoiseRegular->setValue(10);
    window.BlurKernel().CellClick(52, 50);
    f.btCloseKeep->click();
    EXPECT_EQ(window.result(), ui::TFToolsPreview::kResultKeep);
    EXPECT_TRUE(window.ChangesKept());
    Open();
    EXPECT_EQ(f.tbNoiseRegular->value(), 10);
    EXPECT_TRUE(f.btApply->isEnabled());
    f.tbMasking->setValue(700);
    window.BlurKernel().Clear(false);
    f.btCloseCancel->click();
    EXPECT_EQ(f.tbMasking->value(), 0);
    EXPECT_TRUE(window.BlurKernel().IsSet(52, 50));
}

// The editor: cells at their pitch (18 x 17 at 11 cells a side), drags, the wheel.
TEST(MotionBlurPanel, MouseAndWheelMapToCells)
{
    MotionBlurGrid grid;
    ui::MotionBlurPanel panel;
    panel.SetGrid(&grid);
    panel.show();
    const auto at = [](int i, int j) { return QPoint(18 * i + 9, 17 * j + 8); };
    const auto send = [&](QEvent::Type type, QPoint p, Qt::MouseButton b) {
        QMouseEvent e(type, p, panel.mapToGlobal(p), type == QEvent::MouseMove ? Qt::NoButton : b, b, {});
        QApplication::sendEvent(&panel, &e);
    };
    QTest::mouseClick(&panel, Qt::LeftButton, {}, at(5, 5));
    EXPECT_TRUE(grid.IsSet(50, 50));
    QTest::mouseClick(&panel, Qt::RightButton, {}, at(5, 5));
    EXPECT_FALSE(grid.IsSet(50, 50));

    // A drag along the top row and out of the panel paints the three cells and nothing beyond.
    send(QEvent::MouseButtonPress, at(0, 0), Qt::LeftButton);
    for (int i : {0, 1, 2})
        send(QEvent::MouseMove, at(i, 0), Qt::LeftButton);
    send(QEvent::MouseMove, QPoint(250, 8), Qt::LeftButton);
    send(QEvent::MouseMove, QPoint(-5, 8), Qt::LeftButton);
    send(QEvent::MouseButtonRelease, QPoint(250, 8), Qt::LeftButton);
    for (int c = 0; c < 100; ++c)
        EXPECT_EQ(grid.IsSet(c, 45), c >= 45 && c <= 47) << c;

    const auto wheel = [&](int delta) {
        QWheelEvent e(QPointF(50, 50), panel.mapToGlobal(QPointF(50, 50)), {}, QPoint(0, delta), Qt::NoButton, {},
                      Qt::NoScrollPhase, false);
        QApplication::sendEvent(&panel, &e);
    };
    wheel(120);
    EXPECT_EQ(grid.VisibleCount(), 13);
    for (int i = 0; i < 3; ++i)
        wheel(-40); // a touchpad: three small steps make one
    EXPECT_EQ(grid.VisibleCount(), 11);
    wheel(-600); // a fast spin: five steps, down to the limit
    EXPECT_EQ(grid.VisibleCount(), 9);
    // Zoomed in, the same cell sits under a new pitch (199 / 9 = 22, 188 / 9 = 20, margins 0 and 4).
    QTest::mouseClick(&panel, Qt::LeftButton, {}, QPoint(22 * 4 + 11, 20 * 4 + 4 + 10));
    EXPECT_TRUE(grid.IsSet(50, 50));
}

} // namespace

namespace {

using WindowSeam = uitest::ToolsWindowSeam;

// Over the real driver: the crop is the preview run's, the navigation picture stays the kept
// result's after runs, and after "apply" a conversion gives what one with the same settings
// given directly gives.
TEST(ToolsPreviewDriver, PreviewRunsLeaveTheKeptResultAndApplyConvertsWithTheSliders)
{
    const std::string sample = fixtures::SamplePath("d200-grbg.dng");
    WindowSeam seam;
    engine::DNGConvert convert(seam);
    ui::DriverToolsPreviewEngine engine(convert, seam, [&](int v) { seam.brightness = v; },
                                        [&](int v) { seam.contrast = v; });
    ui::TFToolsPreview window(engine, seam.boxes);
    seam.window = &window;
    ASSERT_EQ(convert.OpenAndIdentify(sample, "d200-grbg.dng"), 1);
    ASSERT_TRUE(convert.fResultReady);
    const int width = convert.fResultCopy->Width() / 4 * 4, height = convert.fResultCopy->Height();

    Ui::TFToolsPreview& f = window.Form();
    window.SetCropPoint(300, 200);
    window.show();
    EXPECT_EQ(window.NavigationPicture().Width(), width);
    f.tbNoiseRegular->setValue(20);
    f.tbNoiseDetail->setValue(60);
    window.UpdatePreview();
    EXPECT_EQ(window.CropPicture().Width(), 512);
    EXPECT_EQ(window.CropPicture().Height(), 368);
    f.cbGamma->setCurrentIndex(1); // drawn again: from the kept result, not from the crop
    EXPECT_EQ(window.NavigationPicture().Width(), width);
    EXPECT_EQ(window.NavigationPicture().Height(), height);
    f.sbCooked->click();
    EXPECT_EQ(window.NavigationPicture().Width(), width);
    EXPECT_EQ(window.NavigationPicture().Format(), platform::PixelFormat::k24Bit);

    f.sbLine->click();
    window.BlurKernel().CellClick(53, 50);
    f.tbLowPass->setValue(10);
    f.tbMasking->setValue(200);
    f.btApply->click();
    EXPECT_EQ(window.result(), ui::TFToolsPreview::kResultApply);
    ASSERT_EQ(convert.OpenAndIdentify(sample, "d200-grbg.dng"), 1);
    enginetest::FakeEngineUi direct;
    direct.noise = {{engine::NoiseSlider::kRegularResult, 20}, {engine::NoiseSlider::kDetail, 60},
                    {engine::NoiseSlider::kBalance, 100}};
    direct.deblur = window.DeblurValues();
    direct.kernel.SetMode(MotionBlurGrid::kGridAndLine);
    direct.kernel.SetLineKind(MotionBlurGrid::kLineThroughCentre);
    direct.kernel.CellClick(53, 50);
    engine::DNGConvert headless(direct);
    ASSERT_EQ(headless.OpenAndIdentify(sample, "d200-grbg.dng"), 1);
    const dng::Image& a = *convert.fResultCopy;
    const dng::Image& b = *headless.fResultCopy;
    ASSERT_EQ(a.Width(), b.Width());
    for (int32_t y = 0; y < a.Height(); ++y)
        ASSERT_EQ(std::memcmp(a.Row16(y), b.Row16(y), size_t(a.Width()) * 2), 0) << y;
}

} // namespace

namespace {

// A line drawn in the editor and then zoomed deblurs the crop the same way; reset sliders and the
// grid button bring the unblurred crop back.
TEST(ToolsPreviewDriver, AKernelDrawnThenZoomedDeblursTheSame)
{
    WindowSeam seam;
    engine::DNGConvert convert(seam);
    ui::DriverToolsPreviewEngine engine(convert, seam, [](int) {}, [](int) {});
    ui::TFToolsPreview window(engine, seam.boxes);
    seam.window = &window;
    ASSERT_EQ(convert.OpenAndIdentify(fixtures::SamplePath("d200-grbg.dng"), "d200-grbg.dng"), 1);
    Ui::TFToolsPreview& f = window.Form();
    window.SetCropPoint(183, 122);
    window.show();
    window.UpdatePreview();
    const platform::Bitmap plain = window.CropPicture();

    f.pcMain->setCurrentWidget(f.tabDeblur);
    f.sbLine->click();
    QTest::mouseClick(f.blurPanel, Qt::LeftButton, {}, QPoint(18 * 8 + 9, 17 * 5 + 8)); // cell (53, 50)
    EXPECT_TRUE(window.BlurKernel().IsSet(47, 50));
    const platform::Bitmap drawn = window.CropPicture();
    EXPECT_EQ(f.shDB->Brush(), QColor(0, 0x80, 0));
    f.sbShrink->click();
    f.sbShrink->click();
    window.UpdatePreview();
    EXPECT_EQ(window.BlurKernel().VisibleCount(), 9);
    for (int32_t y = 0; y < drawn.Height(); ++y)
        ASSERT_EQ(std::memcmp(drawn.ScanLine(y), window.CropPicture().ScanLine(y), drawn.RowBytes()), 0) << y;
    bool differs = false;
    for (int32_t y = 0; y < drawn.Height() && !differs; ++y)
        differs = std::memcmp(drawn.ScanLine(y), plain.ScanLine(y), drawn.RowBytes()) != 0;
    EXPECT_TRUE(differs);
    f.sbErase->click();
    for (int32_t y = 0; y < plain.Height(); ++y)
        ASSERT_EQ(std::memcmp(plain.ScanLine(y), window.CropPicture().ScanLine(y), plain.RowBytes()), 0) << y;
}

} // namespace
