// The embedded-preview step: every shared sample, and synthetic DNGs whose preview directories
// were reshaped or spoilt on purpose.
#include "engine/Class_dngconvert.h"
#include "fake_engine_ui.h"

#include "dng/image.h"
#include "fixtures/dng_fixture.h"
#include "fixtures/samples.h"
#include "fixtures/temp_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Dir = dng::TiffLayout::Directory;

// --- Editing a little-endian fixture in place ---

uint32_t Get32(const Bytes& b, uint32_t at) { return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | uint32_t(b.at(at + 3)) << 24; }

void Put32(Bytes& b, size_t at, uint32_t v) { for (size_t i = 0; i < 4; ++i) b.at(at + i) = uint8_t(v >> (8 * i)); }

// Appends 4-byte aligned data; returns where they start.
uint32_t Append(Bytes& b, const Bytes& data)
{
    b.resize((b.size() + 3) / 4 * 4);
    b.insert(b.end(), data.begin(), data.end());
    return uint32_t(b.size() - data.size());
}

// Rewrites the entry for `tag` as LONG values (several at the end of the file), retagged as
// `newTag` when given.
void SetLongs(Bytes& b, const Dir& dir, uint16_t tag, const std::vector<uint32_t>& values, uint16_t newTag = 0)
{
    const dng::TiffLayout::Entry* e = dir.Find(tag);
    ASSERT_NE(e, nullptr) << "tag " << tag;
    Bytes raw(values.size() * 4);
    for (size_t i = 0; i < values.size(); ++i)
        Put32(raw, i * 4, values[i]);
    Put32(b, e->entryOffset, uint32_t(newTag ? newTag : tag) | 4u << 16); // code, type LONG
    Put32(b, e->entryOffset + 4, uint32_t(values.size()));
    Put32(b, e->entryOffset + 8, values.size() > 1 ? Append(b, raw) : values[0]);
}

// The preview directory of a fixture that is `width` pixels wide.
const Dir& DirectoryOfWidth(const fixtures::DngFixture& fx, uint32_t width)
{
    for (const Dir& dir : fx.layout.directories) {
        const auto *w = dir.Find(256), *kind = dir.Find(254);
        if (w && kind && w->type == 4 && Get32(fx.bytes, w->valueOffset) == width && Get32(fx.bytes, kind->valueOffset) == 1)
            return dir;
    }
    throw std::runtime_error("no preview directory " + std::to_string(width) + " pixels wide");
}

// Channel c (red, green, blue) of the test picture at (x, y).
uint8_t Px(uint32_t x, uint32_t y, uint32_t c) { return uint8_t(c == 0 ? x * 7 + y : c == 1 ? y * 5 + 1 : x ^ (y * 3)); }

// A w x h test picture for a preview directory in blocks of bw x bh (tiles; strips when bw == w),
// stored at the end of the file last block first with junk before each, every block (edge tiles
// at full stride) only as long as its pixels inside the picture need, less `shortBy` for the last.
struct Shape {
    uint32_t w, h, bw, bh, shortBy = 0;
};

void Reshape(Bytes& b, const Dir& dir, const Shape& s)
{
    const uint32_t across = (s.w + s.bw - 1) / s.bw, n = across * ((s.h + s.bh - 1) / s.bh);
    std::vector<uint32_t> offsets(n), counts(n);
    for (uint32_t t = n; t-- > 0;) {
        const uint32_t x0 = t % across * s.bw, y0 = t / across * s.bh;
        const uint32_t rows = std::min(s.bh, s.h - y0), cols = std::min(s.bw, s.w - x0);
        Bytes block(((rows - 1) * s.bw + cols) * 3, 0xAB);
        for (uint32_t r = 0; r < rows; ++r)
            for (uint32_t i = 0; i < cols * 3; ++i)
                block[r * s.bw * 3 + i] = Px(x0 + i / 3, y0 + r, i % 3);
        block.resize(block.size() - (t == n - 1 ? s.shortBy : 0));
        Append(b, {0xEE, 0xEE, 0xEE, 0xEE, 0xEE});
        offsets[t] = Append(b, block);
        counts[t] = uint32_t(block.size());
    }
    const bool tiled = s.bw != s.w;
    SetLongs(b, dir, 256, {s.w});
    SetLongs(b, dir, 257, {s.h});
    SetLongs(b, dir, 278, {s.bh}, tiled ? 323 : 0); // RowsPerStrip or TileLength
    if (tiled)
        SetLongs(b, dir, 284, {s.bw}, 322); // PlanarConfiguration (default 1) makes way for TileWidth
    SetLongs(b, dir, 273, offsets, tiled ? 324 : 0);
    SetLongs(b, dir, 279, counts, tiled ? 325 : 0);
}

// The default fixture description, changed by f.
template <typename F>
fixtures::DngSpec Desc(F f)
{
    fixtures::DngSpec d;
    f(d);
    return d;
}

class EmbeddedPreview : public ::testing::Test {
protected:
    int32_t Read(const Bytes& bytes) { return convert.ReadEmbeddedPreview(fixtures::TempFile(bytes).PathString()); }
    int32_t ReadSample(const char* name) { return convert.ReadEmbeddedPreview(fixtures::SamplePath(name)); }

    enginetest::FakeEngineUi ui;
    engine::DNGConvert convert{ui};
};

// --- The shared samples (values from the sample manifest) ---

TEST(EmbeddedPreviewSamples, EachShowsItsPreviewModelSerialAndCode)
{
    const std::tuple<const char*, const char*, const char*, int, int, uint16_t> samples[] = {
        {"m9-16bit-rggb.dng", "M9 Digital Camera", "3912307", 256, 170, 0},
        {"m9-8bit-squarelaw.dng", "M9 Digital Camera", "3912318", 256, 170, 0},
        {"d800-3000x2000.dng", "Nikon D800", "3004417", 256, 170, 0},
        {"d800-fullsize.dng", "Nikon D800", "3004418", 256, 171, 0},
        {"5d3-2400x1600.dng", "Canon EOS 5D Mark III", "052021001377", 256, 173, 0},
        {"sony-a7s-bggr.dng", "Sony ILCE-7S", "3201847", 256, 170, 0},
        {"leica-t-warp.dng", "LEICA T (Typ 701)", "4871122", 1280, 850, 3}, // JPEG preview
        {"leica-m240-jpegpreview.dng", "LEICA M (Typ 240)", "4605519", 1600, 1065, 0},
        {"m9-mono-linearraw.dng", "M9 Digital Camera", "3912350", 256, 170, 0},
        {"canon-7d-unsupported.dng", "Canon EOS 7D", "1280521947", 256, 176, 0},
        {"d800-truncated.dng", "Nikon D800", "3004417", 256, 170, 0}, // cut after both previews
        {"d200-grbg.dng", "Nikon D200", "5011933", 256, 171, 0},
    };
    for (const auto& [file, model, serial, w, h, code] : samples) {
        SCOPED_TRACE(file);
        enginetest::FakeEngineUi ui;
        engine::DNGConvert convert(ui);
        ASSERT_EQ(convert.ReadEmbeddedPreview(fixtures::SamplePath(file)), engine::kResultDone);
        EXPECT_EQ(ui.modelLabel, std::string("from: ") + model);
        EXPECT_EQ(convert.fCameraModel, model);
        EXPECT_EQ(convert.fCameraSerial, serial);
        EXPECT_EQ(convert.fCameraCode, code);
        EXPECT_EQ(ui.embeddedPreview.Width(), w);
        EXPECT_EQ(ui.embeddedPreview.Height(), h);
        EXPECT_EQ(ui.embeddedShown + ui.explorerRepaints + ui.toolsImageResets + ui.toolsSliderResets, 4);
        EXPECT_EQ(convert.fNegative, nullptr); // "Regular" needs no negative here
        EXPECT_TRUE(ui.boxes.shown.empty());
    }
}

TEST_F(EmbeddedPreview, NoDngMissingFileAndBadJpegData)
{
    // A Leica JPEG preview without a start-of-image marker.
    const fixtures::DngFixture fx =
        fixtures::MakeDng(Desc([](auto& d) { d.uniqueCameraModel = "LEICA T (Typ 701)"; d.jpegPreview = true; }));
    Bytes noJpeg = fx.bytes;
    noJpeg.at(DirectoryOfWidth(fx, 40).blocks.at(0).offset) = 0;
    // A TIFF that is no DNG and bytes that are no TIFF: "no DNG", quietly; a missing file and the
    // decoder's refusal: a warning. The previous photo's picture never stays.
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(Read(fixtures::MakeDng({}).bytes), engine::kResultDone);
        const int resets = ui.toolsImageResets;
        const int32_t result = i == 0   ? ReadSample("not-a-dng.tif")
                               : i == 1 ? Read({'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'})
                               : i == 2 ? convert.ReadEmbeddedPreview("/nonexistent/none.dng")
                                        : Read(noJpeg);
        EXPECT_EQ(result, i < 2 ? 100006 : engine::kResultStopped) << i;
        EXPECT_TRUE(ui.embeddedPreview.IsEmpty());
        EXPECT_EQ(ui.toolsImageResets, resets);
        EXPECT_EQ(ui.modelLabel, i < 2 ? "Can't read preview..." : i == 2 ? "from: Velloray Synth One" : "from: LEICA T (Typ 701)");
        ASSERT_EQ(ui.boxes.shown.size(), i < 2 ? 0u : 1u);
        if (i < 2)
            continue;
        const platform::MessageBoxRequest& box = ui.boxes.shown[0];
        EXPECT_EQ(box.text, "Whoa... that's a bug...\n\nFailed to process the preview of this DNG...");
        EXPECT_EQ(box.caption, "Velloray error");
        EXPECT_TRUE(box.icon == platform::MessageIcon::kWarning && box.buttons == platform::MessageButtons::kOk && box.ownedByMainWindow);
        ui.boxes.shown.clear();
    }
    // A DNG whose values are damaged (a zero denominator in ColorMatrix2, a ColorMatrix2 without
    // an inverse) still shows its preview; for an RGB method it has no white for the slider to
    // follow, which stays where it was, and converting it is what names the damage.
    for (int method : {0, 3}) {
        ui.method = method;
        ASSERT_EQ(Read(fixtures::MakeDng(Desc([](auto& d) { d.colorMatrix2[4].d = 0; })).bytes), engine::kResultDone);
        EXPECT_EQ(ui.modelLabel, "from: Velloray Synth One");
        EXPECT_FALSE(ui.embeddedPreview.IsEmpty());
        const int sliderMoves = ui.kelvinSliderMoves;
        ASSERT_EQ(Read(fixtures::MakeDng(Desc([](auto& d) {
                           for (int i : {3, 4, 5})
                               d.colorMatrix2[i].n = 0;
                       })).bytes),
                  engine::kResultDone);
        EXPECT_FALSE(ui.embeddedPreview.IsEmpty());
        EXPECT_EQ(ui.kelvinSliderMoves, sliderMoves);
        EXPECT_TRUE(ui.boxes.shown.empty());
    }
}

TEST_F(EmbeddedPreview, PreviousPhotoLeavesNothingBehind)
{
    // A photo read for an RGB method leaves a negative and kept images, which the next photo
    // ("RAW - Blue", no RGB method) drops with the old serial and picture, though it has no EXIF
    // data and no preview.
    ui.method = 3;
    ASSERT_EQ(ReadSample("m9-16bit-rggb.dng"), engine::kResultDone);
    ASSERT_NE(convert.fNegative, nullptr);
    convert.fCookedCache = std::make_unique<dng::Image>(4, 4, 1, dng::PixelType::kUInt16);
    convert.fResultCopy = std::make_unique<dng::Image>(4, 4, 1, dng::PixelType::kUInt16);
    const int sliderMoves = ui.kelvinSliderMoves;
    ui.method = 2;
    EXPECT_EQ(Read(fixtures::MakeDng(Desc([](auto& d) { d.exif = false; d.rawInIfd0 = true; })).bytes), engine::kResultDone);
    EXPECT_TRUE(!convert.fNegative && !convert.fCookedCache && !convert.fResultCopy);
    EXPECT_EQ(ui.kelvinSliderMoves, sliderMoves);
    EXPECT_EQ(convert.fCameraSerial, "");
    EXPECT_EQ(convert.fCameraModel, "Velloray Synth One");
    EXPECT_TRUE(ui.embeddedPreview.IsEmpty());
}

// Among sound previews the widest up to 500 pixels, else the narrowest; spoilt ones are passed
// over (and never read); strips and tiles are put together wherever they lie.
TEST_F(EmbeddedPreview, ChoosesAndAssemblesTheRightPreview)
{
    // A 32 x 24 preview (one strip) beside the 16 x 12 thumbnail.
    const fixtures::DngFixture fx = fixtures::MakeDng(Desc([](auto& d) { d.rgbPreview = true; }));
    const Dir &wide = DirectoryOfWidth(fx, 32), &thumb = DirectoryOfWidth(fx, 16);
    const auto size = uint32_t(fx.bytes.size());
    const uint32_t raw = fx.layout.directories.at(fx.rawIfd).blocks.at(0).offset;
    auto reshape = [](const Dir& d, Shape s) { return [&d, s](Bytes& b) { Reshape(b, d, s); }; };
    auto set = [](const Dir& d, uint16_t tag, uint32_t v) { return [&d, tag, v](Bytes& b) { SetLongs(b, d, tag, {v}); }; };
    const std::tuple<const char*, std::function<void(Bytes&)>, uint32_t, uint32_t> cases[] = {
        {"both fit: the wider", [](Bytes&) {}, 32, 24},
        {"501 is too wide: the one that fits", reshape(wide, {501, 2, 501, 2}), 16, 12},
        {"exactly 500 fits; one-row strips", reshape(wide, {500, 3, 500, 1}), 500, 3},
        {"both too wide: the narrower; a short last strip",
         [&](Bytes& b) { Reshape(b, wide, {700, 2, 700, 2}); Reshape(b, thumb, {640, 8, 640, 3}); }, 640, 8},
        {"tiles, the edge ones partly outside", reshape(wide, {40, 40, 16, 16}), 40, 40},
        {"last tile one byte short", reshape(wide, {40, 40, 16, 16, 1}), 16, 12},
        {"last strip one byte short", reshape(wide, {40, 8, 40, 3, 1}), 16, 12},
        {"byte count 0", set(wide, 279, 0), 16, 12},
        {"strip running past the end", set(wide, 273, size - 100), 16, 12},
        {"6 bits per sample", [&](Bytes& b) { b.at(wide.Find(258)->valueOffset) = 6; }, 16, 12},
        {"40 strips on the same bytes, more than the file holds", [&](Bytes& b) {
             for (auto [tag, v] : {std::pair<uint16_t, uint32_t>{256, 200}, {257, 40}, {278, 1}})
                 SetLongs(b, wide, tag, {v});
             SetLongs(b, wide, 273, std::vector<uint32_t>(40, raw));
             SetLongs(b, wide, 279, std::vector<uint32_t>(40, 600));
             ASSERT_LT(b.size(), 40u * 600u);
         }, 16, 12},
    };
    for (const auto& [what, edit, w, h] : cases) {
        SCOPED_TRACE(what);
        Bytes b = fx.bytes;
        edit(b);
        ASSERT_EQ(Read(b), engine::kResultDone);
        ASSERT_EQ(ui.embeddedPreview.Width(), int32_t(w));
        ASSERT_EQ(ui.embeddedPreview.Height(), int32_t(h));
        size_t wrong = 0; // a reshaped picture, pixel for pixel as blue, green, red
        for (uint32_t y = 0; y < h && w > 32; ++y)
            for (uint32_t i = 0; i < w * 3; ++i)
                wrong += ui.embeddedPreview.ScanLine(int32_t(y))[i] != Px(i / 3, y, 2 - i % 3);
        EXPECT_EQ(wrong, 0u);
    }
    EXPECT_TRUE(ui.boxes.shown.empty());
}

// Only the two Leica models' JPEG previews are shown, before the 16 x 12 thumbnail; the raw image
// in lossless JPEG (64 pixels wide, so it would win) is no preview.
TEST_F(EmbeddedPreview, JpegPreviewsOnlyOfTheTwoLeicaModels)
{
    fixtures::DngSpec desc = Desc([](auto& d) { d.layout = fixtures::RawLayout::kJpegTiles; d.jpegPreview = true; }); // 40 x 30
    const std::tuple<const char*, int, uint16_t> cases[] = {
        {"Velloray Synth One", 16, 0},
        {"LEICA M (Typ 240)", 40, 0},
        {"LEICA T (Typ 701)", 40, 3},
        {"LEICA M9", 16, 0},
        {"LEICA T (Typ 701)  ", 16, 3}, // the code goes by the trimmed model, the preview not
    };
    for (const auto& [model, width, code] : cases) {
        SCOPED_TRACE(model);
        desc.uniqueCameraModel = model;
        ASSERT_EQ(Read(fixtures::MakeDng(desc).bytes), engine::kResultDone);
        EXPECT_EQ(convert.fCameraCode, code);
        EXPECT_EQ(ui.embeddedPreview.Width(), width);
        EXPECT_EQ(ui.embeddedPreview.Height(), width == 40 ? 30 : 12);
    }
    EXPECT_TRUE(ui.boxes.shown.empty());
}

TEST_F(EmbeddedPreview, RgbMethodsSetTheTemperatureSliderFromTheAsShotWhite)
{
    // The sample was lit at 6500 K; a bluish white a little above 10000 K; a reddish one near
    // 2500 K. The label shows whole kelvin; the slider stands where the main window reads the
    // temperature back (above 10000 K past 800, not at its end, which stands for 50000 K).
    ui.method = 3;
    using White = std::array<dng::URational, 2>;
    const std::tuple<std::optional<White>, double, double> cases[] = {
        {std::nullopt, 6350.0, 6650.0},
        {White{{{277, 1000}, {287, 1000}}}, 10000.0, 11500.0},
        {White{{{477, 1000}, {414, 1000}}}, 2000.0, 3000.0},
    };
    for (const auto& [white, lo, hi] : cases) {
        ASSERT_EQ(white ? Read(fixtures::MakeDng(Desc([&](auto& d) { d.asShotWhiteXY = white; })).bytes)
                        : ReadSample("sony-a7s-bggr.dng"),
                  engine::kResultDone);
        ASSERT_NE(convert.fNegative, nullptr);
        const double k = convert.fNegative->AsShotTemperature();
        SCOPED_TRACE(k);
        EXPECT_TRUE(k > lo && k < hi);
        EXPECT_EQ(ui.temperatureLabel, std::to_string(int(std::trunc(k))) + " k");
        if (k <= 10000.0)
            EXPECT_EQ(ui.kelvinSlider, int(std::trunc((k - 2000.0) * 0.1)));
        else
            EXPECT_TRUE(ui.kelvinSlider > 800 && ui.kelvinSlider < 1000) << ui.kelvinSlider;
        ui.kelvinPosition = ui.kelvinSlider;
        EXPECT_LE(ui.KelvinFromSlider(), k);
        ui.kelvinPosition = ui.kelvinSlider + 1;
        EXPECT_GT(ui.KelvinFromSlider(), k);
    }
    EXPECT_TRUE(ui.boxes.shown.empty());
}

} // namespace
