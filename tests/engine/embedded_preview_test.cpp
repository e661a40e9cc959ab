// The embedded-preview step: every shared sample, and synthetic DNGs whose preview directories
// were reshaped or spoilt on purpose.
#include "engine/Class_dngconvert.h"
#include "fake_engine_ui.h"

#include "dng/host.h"
#include "dng/image.h"
#include "dng/info.h"
#include "dng/stream.h"
#include "fixtures/dng_fixture.h"
#include "fixtures/samples.h"
#include "fixtures/temp_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

using enginetest::FakeEngineUi;

// --- Editing a little-endian fixture in place ---

uint32_t Get32(const std::vector<uint8_t>& b, uint32_t at)
{
    uint32_t v = 0;
    for (uint32_t i = 0; i < 4; ++i)
        v |= uint32_t(b.at(at + i)) << (8 * i);
    return v;
}

void Put32(std::vector<uint8_t>& b, uint32_t at, uint32_t v)
{
    for (uint32_t i = 0; i < 4; ++i)
        b.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
}

const dng::TiffLayout::Entry& EntryOf(const dng::TiffLayout::Directory& dir, uint16_t code)
{
    const dng::TiffLayout::Entry* e = dir.Find(code);
    if (!e)
        throw std::runtime_error("the fixture directory lacks tag " + std::to_string(code));
    return *e;
}

uint32_t Append(std::vector<uint8_t>& b, const std::vector<uint8_t>& data)
{
    b.resize((b.size() + 3) / 4 * 4);
    const auto at = static_cast<uint32_t>(b.size());
    b.insert(b.end(), data.begin(), data.end());
    return at;
}

// Rewrites an entry as LONG values: one inline, more at the end of the file.
void SetLongs(std::vector<uint8_t>& b, const dng::TiffLayout::Entry& e, const std::vector<uint32_t>& values)
{
    uint32_t value = values.at(0);
    if (values.size() > 1) {
        std::vector<uint8_t> raw(values.size() * 4);
        for (size_t i = 0; i < values.size(); ++i)
            Put32(raw, static_cast<uint32_t>(i * 4), values[i]);
        value = Append(b, raw);
    }
    b.at(e.entryOffset + 2) = 4;
    b.at(e.entryOffset + 3) = 0;
    Put32(b, e.entryOffset + 4, static_cast<uint32_t>(values.size()));
    Put32(b, e.entryOffset + 8, value);
}

// The preview directory of a fixture that is `width` pixels wide.
const dng::TiffLayout::Directory& DirectoryOfWidth(const fixtures::DngFixture& fx, uint32_t width)
{
    for (const auto& dir : fx.layout.directories) {
        const dng::TiffLayout::Entry* w = dir.Find(256);
        const dng::TiffLayout::Entry* kind = dir.Find(254);
        if (w && kind && w->type == 4 && Get32(fx.bytes, w->valueOffset) == width &&
            Get32(fx.bytes, kind->valueOffset) == 1)
            return dir;
    }
    throw std::runtime_error("no preview directory " + std::to_string(width) + " pixels wide");
}

// A test picture of 8-bit RGB triples.
std::vector<uint8_t> Picture(uint32_t width, uint32_t height)
{
    std::vector<uint8_t> rgb;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            rgb.insert(rgb.end(), {uint8_t(x * 7 + y), uint8_t(y * 5 + 1), uint8_t(x ^ (y * 3))});
    return rgb;
}

// Gives the directory a new picture: new size and rows per strip, and strips stored at the end
// of the file last strip first, with a few bytes of junk before each, so that nothing reads
// them as one run.
void Restrip(std::vector<uint8_t>& b, const dng::TiffLayout::Directory& dir, uint32_t width, uint32_t height,
             uint32_t rowsPerStrip, const std::vector<uint8_t>& rgb)
{
    const size_t rowBytes = size_t(width) * 3;
    const uint32_t strips = (height + rowsPerStrip - 1) / rowsPerStrip;
    std::vector<uint32_t> offsets(strips), counts(strips);
    for (uint32_t s = strips; s-- > 0;) {
        const uint32_t rows = std::min(rowsPerStrip, height - s * rowsPerStrip);
        const auto first = rgb.begin() + static_cast<ptrdiff_t>(s * rowsPerStrip * rowBytes);
        Append(b, {0xEE, 0xEE, 0xEE, 0xEE, 0xEE});
        offsets[s] = Append(b, std::vector<uint8_t>(first, first + static_cast<ptrdiff_t>(rows * rowBytes)));
        counts[s] = static_cast<uint32_t>(rows * rowBytes);
    }
    SetLongs(b, EntryOf(dir, 256), {width});
    SetLongs(b, EntryOf(dir, 257), {height});
    SetLongs(b, EntryOf(dir, 278), {rowsPerStrip});
    SetLongs(b, EntryOf(dir, 273), offsets);
    SetLongs(b, EntryOf(dir, 279), counts);
}

// The bitmap holds exactly the RGB triples, as blue, green, red.
void ExpectPicture(const platform::Bitmap& bmp, uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb)
{
    ASSERT_EQ(bmp.Width(), int32_t(width));
    ASSERT_EQ(bmp.Height(), int32_t(height));
    ASSERT_EQ(bmp.Format(), platform::PixelFormat::k24Bit);
    ASSERT_GE(rgb.size(), size_t(width) * height * 3);
    size_t wrong = 0;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* px = bmp.ScanLine(int32_t(y)) + x * 3;
            const uint8_t* want = rgb.data() + (size_t(y) * width + x) * 3;
            wrong += px[0] != want[2] || px[1] != want[1] || px[2] != want[0];
        }
    EXPECT_EQ(wrong, 0u) << "pixels differing from the stored thumbnail";
}

class EmbeddedPreview : public ::testing::Test {
protected:
    // The step opens a path: the bytes go to a file of their own for the call.
    int32_t Read(const std::vector<uint8_t>& bytes)
    {
        fixtures::TempFile file(bytes);
        const int32_t result = convert.ReadEmbeddedPreview(file.PathString());
        return result;
    }

    FakeEngineUi ui;
    engine::DNGConvert convert{ui};
};

// --- The shared samples ---

struct SampleCase {
    const char* file;
    const char* model;
    const char* serial;
    int previewWidth, previewHeight;
    bool jpeg;
    uint16_t cameraCode;
};

const SampleCase kSamples[] = {
    {"m9-16bit-rggb.dng", "M9 Digital Camera", "3912307", 256, 170, false, 0},
    {"m9-8bit-squarelaw.dng", "M9 Digital Camera", "3912318", 256, 170, false, 0},
    {"d800-3000x2000.dng", "Nikon D800", "3004417", 256, 170, false, 0},
    {"d800-fullsize.dng", "Nikon D800", "3004418", 256, 171, false, 0},
    {"5d3-2400x1600.dng", "Canon EOS 5D Mark III", "052021001377", 256, 173, false, 0},
    {"sony-a7s-bggr.dng", "Sony ILCE-7S", "3201847", 256, 170, false, 0},
    {"leica-t-warp.dng", "LEICA T (Typ 701)", "4871122", 1280, 850, true, 3},
    {"leica-m240-jpegpreview.dng", "LEICA M (Typ 240)", "4605519", 1600, 1065, true, 0},
    {"m9-mono-linearraw.dng", "M9 Digital Camera", "3912350", 256, 170, false, 0},
    {"canon-7d-unsupported.dng", "Canon EOS 7D", "1280521947", 256, 176, false, 0},
    // Cut at 60%: the directories and both previews lie before the cut.
    {"d800-truncated.dng", "Nikon D800", "3004417", 256, 170, false, 0},
    {"d200-grbg.dng", "Nikon D200", "5011933", 256, 171, false, 0},
};

// The file's IFD0 thumbnail as stored, read through the structure alone.
std::vector<uint8_t> StoredThumbnail(const std::string& path, uint32_t& width, uint32_t& height)
{
    dng::Host host;
    dng::FileStream stream(path);
    dng::Info info;
    info.Parse(host, stream);
    const dng::IfdInfo& ifd = info.Ifds().at(0);
    width = ifd.width;
    height = ifd.height;
    std::vector<uint8_t> rgb;
    for (size_t i = 0; i < ifd.TileCount(); ++i) {
        const std::vector<uint8_t> strip = stream.ReadBytes(ifd.tileOffsets[i], ifd.tileByteCounts[i]);
        rgb.insert(rgb.end(), strip.begin(), strip.end());
    }
    return rgb;
}

TEST_F(EmbeddedPreview, EverySampleShowsItsPreviewModelSerialAndCode)
{
    for (const SampleCase& s : kSamples) {
        SCOPED_TRACE(s.file);
        FakeEngineUi ui;
        engine::DNGConvert convert(ui);
        const std::string path = fixtures::SamplePath(s.file);
        ASSERT_EQ(convert.ReadEmbeddedPreview(path), engine::kResultDone);
        EXPECT_EQ(ui.modelLabel, std::string("from: ") + s.model);
        EXPECT_EQ(convert.fCameraModel, s.model);
        EXPECT_EQ(convert.fCameraSerial, s.serial);
        EXPECT_EQ(convert.fCameraCode, s.cameraCode);
        EXPECT_TRUE(ui.boxes.shown.empty());
        EXPECT_EQ(ui.embeddedShown, 1);
        EXPECT_EQ(ui.explorerRepaints, 1);
        EXPECT_EQ(ui.toolsImageResets, 1);
        EXPECT_EQ(ui.toolsSliderResets, 1);
        EXPECT_EQ(convert.fNegative, nullptr); // "Regular" needs no negative here
        EXPECT_EQ(ui.embeddedPreview.Width(), s.previewWidth);
        EXPECT_EQ(ui.embeddedPreview.Height(), s.previewHeight);

        uint32_t w = 0, h = 0;
        const std::vector<uint8_t> thumb = StoredThumbnail(path, w, h);
        if (!s.jpeg) {
            ExpectPicture(ui.embeddedPreview, w, h, thumb);
            continue;
        }
        // The JPEG shows the same scene as the thumbnail: the same average colour, channel by
        // channel (a red/blue mix-up moves these by far more).
        const platform::Bitmap& bmp = ui.embeddedPreview;
        for (int c = 0; c < 3; ++c) {
            double want = 0, got = 0;
            for (size_t i = 0; i < size_t(w) * h; ++i)
                want += thumb[i * 3 + 2 - c];
            for (int32_t y = 0; y < bmp.Height(); ++y)
                for (int32_t x = 0; x < bmp.Width(); ++x)
                    got += bmp.ScanLine(y)[x * 3 + c];
            EXPECT_NEAR(got / (bmp.Width() * bmp.Height()), want / (w * h), 6.0) << "channel (blue, green, red) " << c;
        }
    }
}

TEST_F(EmbeddedPreview, PlainTiffIsNoDng)
{
    ASSERT_EQ(Read(fixtures::MakeDng({}).bytes), engine::kResultDone);
    ASSERT_FALSE(ui.embeddedPreview.IsEmpty());
    const int resets = ui.toolsImageResets;
    EXPECT_EQ(convert.ReadEmbeddedPreview(fixtures::SamplePath("not-a-dng.tif")), engine::kResultNotDng);
    EXPECT_EQ(ui.modelLabel, "Can't read preview...");
    EXPECT_TRUE(ui.boxes.shown.empty());
    EXPECT_TRUE(ui.embeddedPreview.IsEmpty()); // the previous photo's picture does not stay
    EXPECT_EQ(ui.toolsImageResets, resets);
    EXPECT_EQ(convert.fCameraSerial, "BSN-0042");

    // Bytes that are not TIFF at all are no DNG either: no "bug" message.
    EXPECT_EQ(Read({'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}), engine::kResultNotDng);
    EXPECT_TRUE(ui.boxes.shown.empty());
}

TEST_F(EmbeddedPreview, MissingFileWarnsAndFails)
{
    ASSERT_EQ(Read(fixtures::MakeDng({}).bytes), engine::kResultDone);
    EXPECT_EQ(convert.ReadEmbeddedPreview("/nonexistent/velloray/none.dng"), engine::kResultStopped);
    ASSERT_EQ(ui.boxes.shown.size(), 1u);
    const platform::MessageBoxRequest& box = ui.boxes.shown[0];
    EXPECT_EQ(box.text, "Whoa... that's a bug...\n\nFailed to process the preview of this DNG...");
    EXPECT_EQ(box.caption, "Velloray error");
    EXPECT_EQ(box.icon, platform::MessageIcon::kWarning);
    EXPECT_EQ(box.buttons, platform::MessageButtons::kOk);
    EXPECT_TRUE(box.ownedByMainWindow);
    EXPECT_TRUE(ui.embeddedPreview.IsEmpty());
}

TEST_F(EmbeddedPreview, PreviousPhotoLeavesNothingBehind)
{
    // A photo read for an RGB method leaves a negative and kept images ...
    ui.method = 3;
    ASSERT_EQ(convert.ReadEmbeddedPreview(fixtures::SamplePath("m9-16bit-rggb.dng")), engine::kResultDone);
    ASSERT_NE(convert.fNegative, nullptr);
    convert.fCookedCache = std::make_unique<dng::Image>(4, 4, 1, dng::PixelType::kUInt16);
    convert.fResultCopy = std::make_unique<dng::Image>(4, 4, 1, dng::PixelType::kUInt16);
    ASSERT_FALSE(ui.embeddedPreview.IsEmpty());

    // ... which the next photo drops, along with the old serial number and picture, even when
    // that photo has no EXIF data and no preview to show.
    ui.method = 0;
    fixtures::DngSpec spec;
    spec.exif = false;
    spec.rawInIfd0 = true;
    EXPECT_EQ(Read(fixtures::MakeDng(spec).bytes), engine::kResultDone);
    EXPECT_EQ(convert.fNegative, nullptr);
    EXPECT_EQ(convert.fCookedCache, nullptr);
    EXPECT_EQ(convert.fResultCopy, nullptr);
    EXPECT_EQ(convert.fCameraSerial, "");
    EXPECT_EQ(convert.fCameraModel, "Velloray Synth One");
    EXPECT_TRUE(ui.embeddedPreview.IsEmpty());
    EXPECT_TRUE(ui.boxes.shown.empty());

    // The serial comes back with EXIF data.
    EXPECT_EQ(Read(fixtures::MakeDng({}).bytes), engine::kResultDone);
    EXPECT_EQ(convert.fCameraSerial, "BSN-0042");
}

// --- Which preview is shown ---

TEST_F(EmbeddedPreview, WidestPreviewUpTo500PixelsElseNarrowest)
{
    fixtures::DngSpec spec;
    spec.rgbPreview = true; // 32 x 24 beside the 16 x 12 thumbnail
    const fixtures::DngFixture fx = fixtures::MakeDng(spec);

    // Both fit: the wider.
    ASSERT_EQ(Read(fx.bytes), engine::kResultDone);
    EXPECT_EQ(ui.embeddedPreview.Width(), 32);

    // One too wide: the one that fits, though narrower.
    {
        std::vector<uint8_t> b = fx.bytes;
        Restrip(b, DirectoryOfWidth(fx, 32), 501, 2, 2, Picture(501, 2));
        ASSERT_EQ(Read(b), engine::kResultDone);
        EXPECT_EQ(ui.embeddedPreview.Width(), 16);
    }
    // Exactly 500 still fits.
    {
        std::vector<uint8_t> b = fx.bytes;
        const std::vector<uint8_t> rgb = Picture(500, 3);
        Restrip(b, DirectoryOfWidth(fx, 32), 500, 3, 1, rgb);
        ASSERT_EQ(Read(b), engine::kResultDone);
        ExpectPicture(ui.embeddedPreview, 500, 3, rgb);
    }
    // Both too wide: the narrower.
    {
        std::vector<uint8_t> b = fx.bytes;
        const std::vector<uint8_t> rgb = Picture(640, 3);
        Restrip(b, DirectoryOfWidth(fx, 32), 700, 2, 2, Picture(700, 2));
        Restrip(b, DirectoryOfWidth(fx, 16), 640, 3, 3, rgb);
        ASSERT_EQ(Read(b), engine::kResultDone);
        ExpectPicture(ui.embeddedPreview, 640, 3, rgb);
    }
    EXPECT_TRUE(ui.boxes.shown.empty());
}

TEST_F(EmbeddedPreview, StripsAreReadWhereverTheyLie)
{
    const fixtures::DngFixture fx = fixtures::MakeDng({});
    // 40 strips of one row, and 3 strips with a short last one; stored last first.
    for (uint32_t rowsPerStrip : {1u, 3u, 40u}) {
        SCOPED_TRACE(rowsPerStrip);
        std::vector<uint8_t> b = fx.bytes;
        const std::vector<uint8_t> rgb = Picture(20, rowsPerStrip == 3 ? 8 : 40);
        Restrip(b, DirectoryOfWidth(fx, 16), 20, rowsPerStrip == 3 ? 8 : 40, rowsPerStrip, rgb);
        ASSERT_EQ(Read(b), engine::kResultDone);
        ExpectPicture(ui.embeddedPreview, 20, rowsPerStrip == 3 ? 8 : 40, rgb);
    }
}

TEST_F(EmbeddedPreview, TiledThumbnailIsAssembled)
{
    // The thumbnail turned into 20 x 20 pixels in 16 x 16 tiles (edge tiles stored full size,
    // padded with junk), stored last tile first: the strip tags become tile tags and
    // PlanarConfiguration makes room for TileLength.
    const fixtures::DngFixture fx = fixtures::MakeDng({});
    const auto& dir = DirectoryOfWidth(fx, 16);
    std::vector<uint8_t> b = fx.bytes;
    constexpr uint32_t kSide = 20, kTile = 16;
    const std::vector<uint8_t> rgb = Picture(kSide, kSide);
    std::vector<uint32_t> offsets(4), counts(4, kTile * kTile * 3);
    for (uint32_t t = 4; t-- > 0;) {
        std::vector<uint8_t> tile(kTile * kTile * 3, 0xAB);
        for (uint32_t r = 0; r < kTile; ++r)
            for (uint32_t c = 0; c < kTile; ++c) {
                const uint32_t y = t / 2 * kTile + r, x = t % 2 * kTile + c;
                if (x < kSide && y < kSide)
                    std::copy_n(rgb.begin() + (y * kSide + x) * 3, 3, tile.begin() + (r * kTile + c) * 3);
            }
        offsets[t] = Append(b, tile);
    }
    auto retag = [&](uint16_t from, uint16_t to) {
        b.at(EntryOf(dir, from).entryOffset) = uint8_t(to & 0xFF);
        b.at(EntryOf(dir, from).entryOffset + 1) = uint8_t(to >> 8);
    };
    SetLongs(b, EntryOf(dir, 256), {kSide});
    SetLongs(b, EntryOf(dir, 257), {kSide});
    SetLongs(b, EntryOf(dir, 278), {kTile});
    SetLongs(b, EntryOf(dir, 284), {kTile});
    SetLongs(b, EntryOf(dir, 273), offsets);
    SetLongs(b, EntryOf(dir, 279), counts);
    retag(278, 322);
    retag(284, 323);
    retag(273, 324);
    retag(279, 325);
    ASSERT_EQ(Read(b), engine::kResultDone);
    ExpectPicture(ui.embeddedPreview, kSide, kSide, rgb);

    // A last tile one byte short of its last pixel inside the picture: passed over.
    SetLongs(b, EntryOf(dir, 279), {counts[0], counts[1], counts[2], (3 * kTile + 4) * 3 - 1});
    retag(279, 325);
    ASSERT_EQ(Read(b), engine::kResultDone);
    EXPECT_TRUE(ui.embeddedPreview.IsEmpty());
    EXPECT_TRUE(ui.boxes.shown.empty());
}

TEST_F(EmbeddedPreview, SpoiltThumbnailShowsNothingAndSaysNothing)
{
    const fixtures::DngFixture fx = fixtures::MakeDng({});
    const auto& thumb = DirectoryOfWidth(fx, 16);
    const uint32_t offset = Get32(fx.bytes, EntryOf(thumb, 273).valueOffset);
    const auto size = static_cast<uint32_t>(fx.bytes.size());

    struct Spoil {
        const char* what;
        uint16_t tag;
        uint32_t value;
    };
    const Spoil spoils[] = {
        {"byte count one short of 16 x 12 x 3", 279, 16 * 12 * 3 - 1},
        {"byte count 0", 279, 0},
        {"strip starting past the end", 273, size + 100},
        {"strip running past the end", 273, size - 100},
        {"byte count past the end", 279, size - offset + 1},
        {"two bits per sample less", 258, 0}, // replaced below
    };
    for (const Spoil& s : spoils) {
        SCOPED_TRACE(s.what);
        std::vector<uint8_t> b = fx.bytes;
        if (s.tag == 258) {
            // BitsPerSample 8,8,8 -> 6,6,6 (SHORTs, out of line).
            const auto& bits = EntryOf(thumb, 258);
            for (uint32_t i = 0; i < 3; ++i)
                b.at(bits.valueOffset + 2 * i) = 6;
        } else {
            SetLongs(b, EntryOf(thumb, s.tag), {s.value});
        }
        // The sound file first, so that a picture left over would show.
        ASSERT_EQ(Read(fx.bytes), engine::kResultDone);
        ASSERT_FALSE(ui.embeddedPreview.IsEmpty());
        const int shown = ui.embeddedShown;
        EXPECT_EQ(Read(b), engine::kResultDone);
        EXPECT_TRUE(ui.embeddedPreview.IsEmpty());
        EXPECT_EQ(ui.embeddedShown, shown);
        EXPECT_EQ(convert.fCameraSerial, "BSN-0042");
        EXPECT_TRUE(ui.boxes.shown.empty());
    }

    // Strips that all point at the same bytes, claiming more than the file holds.
    {
        std::vector<uint8_t> b = fx.bytes;
        const uint32_t raw = fx.layout.directories.at(fx.rawIfd).blocks.at(0).offset;
        SetLongs(b, EntryOf(thumb, 256), {200});
        SetLongs(b, EntryOf(thumb, 257), {40});
        SetLongs(b, EntryOf(thumb, 278), {1});
        SetLongs(b, EntryOf(thumb, 273), std::vector<uint32_t>(40, raw));
        SetLongs(b, EntryOf(thumb, 279), std::vector<uint32_t>(40, 600));
        ASSERT_LT(b.size(), 40u * 600u);
        EXPECT_EQ(Read(b), engine::kResultDone);
        EXPECT_TRUE(ui.embeddedPreview.IsEmpty());
    }

    // A spoilt preview is passed over for a sound one.
    fixtures::DngSpec spec;
    spec.rgbPreview = true;
    const fixtures::DngFixture two = fixtures::MakeDng(spec);
    std::vector<uint8_t> b = two.bytes;
    SetLongs(b, EntryOf(DirectoryOfWidth(two, 32), 279), {32 * 24 * 3 - 3});
    ASSERT_EQ(Read(b), engine::kResultDone);
    EXPECT_EQ(ui.embeddedPreview.Width(), 16);
}

TEST_F(EmbeddedPreview, JpegPreviewsOnlyOfTheTwoLeicaModels)
{
    // No uncompressed thumbnail, only the 40 x 30 JPEG preview.
    fixtures::DngSpec spec;
    spec.rawInIfd0 = true;
    spec.jpegPreview = true;

    struct Case {
        const char* model;
        bool shown;
        uint16_t code;
    };
    const Case cases[] = {
        {"Velloray Synth One", false, 0},
        {"LEICA M (Typ 240)", true, 0},
        {"LEICA T (Typ 701)", true, 3},
        {"LEICA M9", false, 0},
        // The camera code goes by the trimmed model, the JPEG preview by the model as stored.
        {"LEICA T (Typ 701)  ", false, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        spec.uniqueCameraModel = c.model;
        ASSERT_EQ(Read(fixtures::MakeDng(spec).bytes), engine::kResultDone);
        EXPECT_EQ(convert.fCameraCode, c.code);
        if (c.shown) {
            ASSERT_EQ(ui.embeddedPreview.Width(), 40);
            ASSERT_EQ(ui.embeddedPreview.Height(), 30);
            // The fixture's picture: red rises to the right, green downwards.
            const uint8_t* left = ui.embeddedPreview.ScanLine(15) + 3 * 2;
            const uint8_t* right = ui.embeddedPreview.ScanLine(15) + 3 * 37;
            EXPECT_GT(int(right[2]) - int(left[2]), 100);
            EXPECT_LT(std::abs(int(right[1]) - int(left[1])), 30);
        } else {
            EXPECT_TRUE(ui.embeddedPreview.IsEmpty());
        }
    }
    EXPECT_TRUE(ui.boxes.shown.empty());

    // A Leica's main image in lossless JPEG is no preview.
    {
        fixtures::DngSpec raw;
        raw.uniqueCameraModel = "LEICA M (Typ 240)";
        raw.rawInIfd0 = true;
        raw.layout = fixtures::RawLayout::kJpegTiles;
        ASSERT_EQ(Read(fixtures::MakeDng(raw).bytes), engine::kResultDone);
        EXPECT_TRUE(ui.embeddedPreview.IsEmpty());
        EXPECT_TRUE(ui.boxes.shown.empty());
    }

    // A Leica JPEG preview is taken before the uncompressed thumbnail.
    spec.rawInIfd0 = false;
    spec.uniqueCameraModel = "LEICA M (Typ 240)";
    ASSERT_EQ(Read(fixtures::MakeDng(spec).bytes), engine::kResultDone);
    EXPECT_EQ(ui.embeddedPreview.Width(), 40);
}

TEST_F(EmbeddedPreview, SpoiltJpegPreview)
{
    fixtures::DngSpec spec;
    spec.uniqueCameraModel = "LEICA T (Typ 701)";
    spec.jpegPreview = true;
    const fixtures::DngFixture fx = fixtures::MakeDng(spec);
    const auto& jpeg = DirectoryOfWidth(fx, 40);

    // No data, or data outside the file: no JPEG preview, so the uncompressed thumbnail.
    for (auto [tag, value] : {std::pair<uint16_t, uint32_t>{279, 0}, {273, uint32_t(fx.bytes.size())}}) {
        SCOPED_TRACE(tag);
        std::vector<uint8_t> b = fx.bytes;
        SetLongs(b, EntryOf(jpeg, tag), {value});
        ASSERT_EQ(Read(b), engine::kResultDone);
        EXPECT_EQ(ui.embeddedPreview.Width(), 16);
    }
    EXPECT_TRUE(ui.boxes.shown.empty());

    // Data that are no JPEG: the decoder's refusal is reported.
    std::vector<uint8_t> b = fx.bytes;
    b.at(Get32(b, EntryOf(jpeg, 273).valueOffset)) = 0; // no start-of-image marker
    EXPECT_EQ(Read(b), engine::kResultStopped);
    ASSERT_EQ(ui.boxes.shown.size(), 1u);
    EXPECT_EQ(ui.boxes.shown[0].caption, "Velloray error");
    EXPECT_TRUE(ui.embeddedPreview.IsEmpty());
}

// --- RGB methods: the temperature slider follows the photo ---

TEST_F(EmbeddedPreview, RgbMethodsSetTemperatureFromTheAsShotWhite)
{
    ui.method = 2; // "RAW - Blue": no negative, the slider stays
    ASSERT_EQ(convert.ReadEmbeddedPreview(fixtures::SamplePath("sony-a7s-bggr.dng")), engine::kResultDone);
    EXPECT_EQ(convert.fNegative, nullptr);
    EXPECT_EQ(ui.kelvinSliderMoves, 0);
    EXPECT_EQ(ui.temperatureLabel, "(none)");

    ui.method = 3;
    ASSERT_EQ(convert.ReadEmbeddedPreview(fixtures::SamplePath("sony-a7s-bggr.dng")), engine::kResultDone);
    ASSERT_NE(convert.fNegative, nullptr);
    const double k = convert.fNegative->AsShotTemperature();
    EXPECT_NEAR(k, 6500.0, 150.0); // the scene was lit at 6500 K
    EXPECT_EQ(ui.temperatureLabel, std::to_string(int(std::trunc(k))) + " k");
    EXPECT_EQ(ui.kelvinSlider, int(std::trunc((k - 2000.0) * 0.1)));
    EXPECT_EQ(ui.kelvinSliderMoves, 1);
    // The slider turned back into kelvin lands within a step of the photo's temperature.
    ui.kelvinPosition = ui.kelvinSlider;
    EXPECT_NEAR(ui.KelvinFromSlider(), k, 10.0);
    EXPECT_TRUE(ui.boxes.shown.empty());

    // A bluish white a little above 10000 K puts the slider where the main window reads about the
    // same temperature back (past 800, not at its end, which stands for 50000 K); a reddish one
    // near 2500 K near the start.
    struct Case {
        dng::URational x, y;
        double lo, hi;
    };
    const Case cases[] = {{{277, 1000}, {287, 1000}, 10000.0, 11500.0},
                          {{477, 1000}, {414, 1000}, 2000.0, 3000.0}};
    for (const Case& c : cases) {
        fixtures::DngSpec spec;
        spec.asShotWhiteXY = std::array<dng::URational, 2>{c.x, c.y};
        ASSERT_EQ(Read(fixtures::MakeDng(spec).bytes), engine::kResultDone);
        ASSERT_NE(convert.fNegative, nullptr);
        const double kelvin = convert.fNegative->AsShotTemperature();
        SCOPED_TRACE(kelvin);
        EXPECT_GT(kelvin, c.lo);
        EXPECT_LT(kelvin, c.hi);
        EXPECT_EQ(ui.temperatureLabel, std::to_string(int(std::trunc(kelvin))) + " k");
        if (kelvin > 10000.0) {
            EXPECT_GT(ui.kelvinSlider, 800);
            EXPECT_LT(ui.kelvinSlider, 1000);
            ui.kelvinPosition = ui.kelvinSlider;
            EXPECT_LE(ui.KelvinFromSlider(), kelvin);
            ui.kelvinPosition = ui.kelvinSlider + 1;
            EXPECT_GT(ui.KelvinFromSlider(), kelvin);
        } else {
            EXPECT_EQ(ui.kelvinSlider, int(std::trunc((kelvin - 2000.0) * 0.1)));
        }
    }
}

} // namespace
