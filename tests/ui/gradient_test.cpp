// The gradient dialog: its ramp as painted, the slider of each direction, the percent, and the
// gradient reaching the conversion.
#include "ui/class_gradientpanel.h"
#include "ui/gradient.h"

#include "engine/Class_dngconvert.h"
#include "photo_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QSlider>
#include <gtest/gtest.h>

namespace {

int Grey(const QImage& img, int x, int y)
{
    const QRgb c = img.pixel(x, y);
    EXPECT_TRUE(qRed(c) == qGreen(c) && qGreen(c) == qBlue(c)) << x << "," << y;
    return qRed(c);
}

TEST(TFGradient, PaintsTheRampOfEachDirectionAndExtent)
{
    ui::TFGradient dialog;
    auto& direction = uitest::Child<QComboBox>(dialog, "cbGradientDirection");
    auto& vert = uitest::Child<QSlider>(dialog, "tbGradientVert");
    auto& horz = uitest::Child<QSlider>(dialog, "tbGradientHorz");
    struct Case {
        int direction, extent;
        int firstLine, lastLine, lastGrey; // the ramp runs from firstLine (grey 55) to lastLine
        int percent;
    };
    const Case cases[] = {
        {0, 0, 0, 0, 55, 0},       {0, 100, 0, 99, 253, 50},    {0, 200, 0, 199, 254, 100},
        {1, 0, 199, 1, 253, 100},  {1, 100, 199, 100, 253, 50}, {1, 200, 199, 199, 55, 0},
        {2, 0, 0, 0, 55, 0},       {2, 100, 0, 99, 253, 50},    {2, 200, 0, 199, 254, 100},
        {3, 0, 199, 1, 253, 100},  {3, 100, 199, 100, 253, 50}, {3, 200, 199, 199, 55, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "direction " << c.direction << " extent " << c.extent);
        direction.setCurrentIndex(c.direction);
        const bool vertical = c.direction < 2;
        EXPECT_EQ(vert.isVisibleTo(&dialog), vertical);
        EXPECT_EQ(horz.isVisibleTo(&dialog), !vertical);
        (vertical ? vert : horz).setValue(c.extent);
        EXPECT_EQ(dialog.GradientDirection(), c.direction);
        EXPECT_EQ(dialog.GradientPercent(), c.percent);

        const QImage img = dialog.Panel().grab().toImage();
        ASSERT_EQ(img.size(), QSize(200, 200));
        // Grey at line i of the ramp's axis, checked at both ends and the middle of the line.
        auto line = [&](int i) {
            const int a = vertical ? Grey(img, 0, i) : Grey(img, i, 0);
            EXPECT_EQ(a, vertical ? Grey(img, 199, i) : Grey(img, i, 199));
            EXPECT_EQ(a, vertical ? Grey(img, 100, i) : Grey(img, i, 100));
            return a;
        };
        const int step = c.firstLine < c.lastLine ? 1 : -1;
        EXPECT_EQ(line(c.firstLine), 55);
        EXPECT_EQ(line(c.lastLine), c.lastGrey);
        for (int i = c.firstLine; i != c.lastLine; i += step)
            EXPECT_LT(line(i), line(i + step));
        for (int i = c.lastLine + step; i >= 0 && i < 200; i += step)
            EXPECT_EQ(line(i), 255) << i;
        if (c.firstLine == 199 && c.lastLine == 1) {
            EXPECT_EQ(line(0), 255); // the far edge line is never drawn
        }
    }
    // Choosing a direction moves its slider to the direction's start.
    direction.setCurrentIndex(1);
    EXPECT_EQ(vert.value(), 0);
    direction.setCurrentIndex(2);
    EXPECT_EQ(horz.value(), 200);
    EXPECT_FALSE(dialog.BoostStrength());
    uitest::Child<QCheckBox>(dialog, "cbBoostStrength").setChecked(true);
    EXPECT_TRUE(dialog.BoostStrength());
}

// The engine seam with the gradient read from the dialog, as the main window hands it on.
class GradientUi : public enginetest::FakeEngineUi {
public:
    explicit GradientUi(const ui::TFGradient& g) : fGradient(g) {}
    bool BoostStrength() const override { return fGradient.BoostStrength(); }
    int GradientDirection() const override { return fGradient.GradientDirection(); }
    int GradientPercent() const override { return fGradient.GradientPercent(); }

private:
    const ui::TFGradient& fGradient;
};

TEST(TFGradient, TheRedFilterFadesFromTheTopToTheReachOfTheGradient)
{
    // A red scene: the red filter brightens it; with the gradient it does so at the top only.
    auto photo = uitest::MakePhoto(128, 96, [](int x, int y) -> uint16_t {
        const bool red = x % 2 == 0 && y % 2 == 0, blue = x % 2 == 1 && y % 2 == 1;
        return red ? 12000 : blue ? 500 : 2000;
    });
    ui::TFGradient dialog;
    uitest::Child<QSlider>(dialog, "tbGradientVert").setValue(100); // top to bottom over half the photo
    GradientUi ui(dialog);
    ui.strength = 19;
    engine::DNGConvert convert(ui);
    auto rowMeans = [&](int method, bool gradient) {
        ui.method = method;
        ui.useGradient = gradient;
        convert.fMethod = method;
        EXPECT_EQ(convert.OpenAndIdentify(photo->PathString(), photo->FileName()), 1);
        EXPECT_TRUE(ui.boxes.shown.empty());
        const dng::Image& out = *convert.fNegative->Stage2Image();
        std::vector<double> means;
        for (int y = 0; y < out.Height(); ++y) {
            double sum = 0;
            for (int x = 8; x < out.Width() - 8; ++x)
                sum += out.Row16(y)[x];
            means.push_back(sum / (out.Width() - 16));
        }
        return means;
    };
    const auto regular = rowMeans(0, false);
    const auto filtered = rowMeans(3, false);
    const auto faded = rowMeans(3, true);
    ASSERT_EQ(faded.size(), regular.size());
    const size_t h = faded.size();
    EXPECT_GT(filtered[h / 2], regular[h / 2] * 1.2);
    // Near the top the gradient keeps most of the filter; past half the photo none of it.
    EXPECT_GT(faded[4], regular[4] + 0.8 * (filtered[4] - regular[4]));
    EXPECT_LT(faded[h / 4], faded[4]);
    EXPECT_GT(faded[h / 4], regular[h / 4]);
    for (size_t y = h / 2 + 4; y < h - 4; ++y)
        EXPECT_NEAR(faded[y], regular[y], 1.0) << y;
}

} // namespace
