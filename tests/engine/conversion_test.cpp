// Whole conversions through the driver: the written file, its name, the plug-in note, the
// refusals and the cancel checkpoints.
#include "engine/Class_dngconvert.h"
#include "fake_engine_ui.h"
#include "fixtures/temp_file.h"
#include "fixtures/dng_fixture.h"
#include "fixtures/samples.h"
#include "fixtures/validator.h"

#include "dng/error.h"
#include "dng/host.h"
#include "dng/info.h"
#include "dng/negative.h"
#include "dng/stream.h"
#include "dng/tiff_container.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

namespace {

namespace fs = std::filesystem;
using enginetest::FakeEngineUi;

// A folder of its own for each test, removed afterwards.
class Conversion : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() /
              ("velloray-conv-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir / "out");
        ui.autoSave = true;
        ui.autoSaveFolder = (dir / "out").string();
    }
    void TearDown() override
    {
        // Whatever a conversion wrote passes the rules our reader applies to every DNG it opens.
        for (const std::string& name : Written()) {
            dng::FileStream stream((dir / "out" / name).string());
            dng::Host host;
            dng::Info info;
            info.Parse(host, stream);
            info.PostParse(host);
            EXPECT_TRUE(info.IsValidDNG()) << name << ": " << info.ValidityProblem();
        }
        fs::remove_all(dir);
    }

    // A copy of a fixture or a sample as the source photo.
    std::string Source(const std::vector<uint8_t>& bytes, const std::string& name)
    {
        const fs::path p = dir / name;
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return p.string();
    }
    std::string SampleSource(const std::string& sample)
    {
        const fs::path p = dir / sample;
        fs::copy_file(fixtures::SamplePath(sample), p);
        return p.string();
    }
    std::vector<std::string> Written() const { return fixtures::SortedFileNames(dir / "out"); }

    fs::path dir;
    FakeEngineUi ui;
};

struct ReadBack {
    std::unique_ptr<dng::FileStream> stream;
    dng::Host host;
    dng::Info info;
    std::unique_ptr<dng::Negative> negative;
};

std::unique_ptr<ReadBack> Read(const std::string& path)
{
    auto r = std::make_unique<ReadBack>();
    r->stream = std::make_unique<dng::FileStream>(path);
    r->info.Parse(r->host, *r->stream);
    r->info.PostParse(r->host);
    EXPECT_TRUE(r->info.IsValidDNG()) << r->info.ValidityProblem();
    r->negative = r->host.Make_dng_negative();
    r->negative->Parse(r->host, *r->stream, r->info);
    r->negative->PostParse(r->host, *r->stream, r->info);
    r->negative->ReadStage1Image(r->host, *r->stream, r->info);
    return r;
}

TEST_F(Conversion, RegularWritesAMonochromeFileWithItsPreviewAndIdentity)
{
    const std::string src = SampleSource("m9-16bit-rggb.dng");
    engine::DNGConvert convert(ui);
    ASSERT_EQ(convert.OpenAndIdentify(src, "m9-16bit-rggb.dng"), 1);
    ASSERT_TRUE(ui.boxes.shown.empty()) << ui.boxes.shown[0].text;
    EXPECT_TRUE(convert.fResultReady);
    ASSERT_EQ(Written(), std::vector<std::string>{"m9-16bit-rggb-M.dng"});
    EXPECT_EQ(ui.resultUnsaved, 1);
    EXPECT_EQ(ui.resultPreview.Width(), 2000);
    EXPECT_EQ(ui.resultPreview.Format(), platform::PixelFormat::k8Bit);

    auto r = Read((dir / "out" / "m9-16bit-rggb-M.dng").string());
    const dng::Negative& n = *r->negative;
    EXPECT_EQ(n.ColorChannels(), 1u);
    EXPECT_EQ(n.GetMosaicInfo(), nullptr);
    EXPECT_EQ(n.ModelName(), "M9 Digital Camera");
    const dng::Image& written = *n.Stage1Image();
    const dng::Image& result = *convert.fNegative->Stage1Image();
    ASSERT_EQ(written.Width(), result.Width());
    for (int32_t y : {0, 700, 1333})
        for (int32_t x : {0, 999, 1999})
            EXPECT_EQ(written.Row16(y)[x], result.Row16(y)[x]);
    // The preview of a 3:2 photo, and an identity of the form 8 hex digits, '-', 4, '-', 2.
    const dng::IfdInfo& ifd0 = r->info.Ifds()[0];
    EXPECT_EQ(ifd0.width, 320u);
    EXPECT_EQ(ifd0.height, 213u);
    ASSERT_TRUE(n.RawDataUniqueID().has_value());
    const auto id = *n.RawDataUniqueID();
    EXPECT_EQ(id[8], '-');
    EXPECT_EQ(id[13], '-');
    for (size_t i : {0u, 7u, 9u, 12u, 14u, 15u})
        EXPECT_TRUE(std::isxdigit(id[i]) && !std::isupper(id[i]));

    // A second conversion replaces the first output and gets another identity.
    ASSERT_EQ(convert.OpenAndIdentify(src, "m9-16bit-rggb.dng"), 1);
    auto again = Read((dir / "out" / "m9-16bit-rggb-M.dng").string());
    EXPECT_NE(*again->negative->RawDataUniqueID(), id);
}

TEST_F(Conversion, RawTherapeeRendersTheWrittenFile)
{
    const std::string src = SampleSource("sony-a7s-bggr.dng");
    ui.halfSize = true;
    engine::DNGConvert convert(ui);
    ASSERT_EQ(convert.OpenAndIdentify(src, "sony-a7s-bggr.dng"), 1);
    ASSERT_FALSE(convert.fWrittenPath.empty());
    const fs::path rendered = dir / "rendered.tif";
    const std::string command = "rawtherapee-cli -o '" + rendered.string() + "' -t -Y -c '" + convert.fWrittenPath +
                                "' > '" + (dir / "rt.log").string() + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    ASSERT_TRUE(fs::exists(rendered));
    EXPECT_GT(fs::file_size(rendered), 1000u * 600u);
}

TEST_F(Conversion, HalfSizeAndLeicaLensCorrection)
{
    const std::string src = SampleSource("leica-t-warp.dng");
    ui.halfSize = true;
    engine::DNGConvert convert(ui);
    ASSERT_EQ(convert.OpenAndIdentify(src, "leica-t-warp.dng"), 1);
    ASSERT_TRUE(ui.boxes.shown.empty()) << ui.boxes.shown[0].text;
    auto half = Read((dir / "out" / "leica-t-warp-M.dng").string());
    EXPECT_EQ(half->negative->Stage1Image()->Width(), 1200);
    EXPECT_EQ(half->negative->Stage1Image()->Height(), 800);
    // The lens correction stays, for one plane.
    ASSERT_EQ(half->negative->GetOpcodeList(2).Count(), 1u);
    EXPECT_EQ(half->negative->GetOpcodeList(2).Opcodes()[0].params.size(), 4u + 48u + 16u);

    ui.halfSize = false;
    ui.leicaTNoCorrection = true;
    ASSERT_EQ(convert.OpenAndIdentify(src, "leica-t-warp.dng"), 1);
    auto full = Read((dir / "out" / "leica-t-warp-M.dng").string());
    EXPECT_TRUE(full->negative->GetOpcodeList(2).IsEmpty());
    EXPECT_EQ(full->negative->Stage1Image()->Width(), 2400);
}

TEST_F(Conversion, PluginModeCountsAndLeavesANote)
{
    const std::string src = Source(fixtures::MakeDng([] {
                                       fixtures::DngSpec s;
                                       s.uniqueCameraModel = "Nikon D800";
                                       return s;
                                   }()).bytes,
                                   "x.dng");
    ui.autoSave = false;
    ui.pluginMode = true;
    ui.pluginPhotoPath = src;
    std::ofstream(dir / "x-M.dng") << "taken";
    std::ofstream(dir / "x-M-2.dng") << "taken";
    engine::DNGConvert convert(ui);
    ASSERT_EQ(convert.OpenAndIdentify(src, "x.dng"), 1);
    ASSERT_TRUE(ui.boxes.shown.empty()) << ui.boxes.shown[0].text;
    const std::string expected = (dir / "x-M-3.dng").string();
    EXPECT_TRUE(fs::exists(expected));
    std::ifstream note(fs::temp_directory_path() / "__exportfromvelloray.txt", std::ios::binary);
    const std::string noted((std::istreambuf_iterator<char>(note)), std::istreambuf_iterator<char>());
    EXPECT_EQ(noted, expected); // the path alone, no line end
    std::ifstream taken(dir / "x-M.dng");
    std::string first;
    taken >> first;
    EXPECT_EQ(first, "taken");
}

TEST_F(Conversion, NothingIsWrittenOverTheSourceOrWithoutAFolder)
{
    // The plug-in photo path names x.dng while the open photo is x-M.dng itself.
    fixtures::DngSpec spec;
    spec.uniqueCameraModel = "Nikon D800";
    const auto bytes = fixtures::MakeDng(spec).bytes;
    const std::string src = Source(bytes, "x-M.dng");
    ui.autoSave = false;
    ui.pluginMode = true;
    ui.pluginPhotoPath = (dir / "x.dng").string();
    engine::DNGConvert convert(ui);
    ASSERT_EQ(convert.OpenAndIdentify(src, "x-M.dng"), 1);
    ASSERT_EQ(ui.boxes.shown.size(), 1u);
    EXPECT_EQ(ui.boxes.shown[0].caption, "Oops");
    EXPECT_NE(ui.boxes.shown[0].text.find("The result isn't stored."), std::string::npos);
    std::ifstream original(src, std::ios::binary);
    const std::vector<uint8_t> after((std::istreambuf_iterator<char>(original)), std::istreambuf_iterator<char>());
    EXPECT_EQ(after, bytes);

    // Auto save into a folder that does not exist, or from a name without .dng: told, not silent.
    ui.pluginMode = false;
    ui.autoSave = true;
    ui.autoSaveFolder = (dir / "missing").string();
    ASSERT_EQ(convert.OpenAndIdentify(src, "x-M.dng"), 1);
    ASSERT_EQ(ui.boxes.shown.size(), 2u);
    EXPECT_EQ(ui.boxes.shown[1].caption, "Auto save");
    EXPECT_NE(ui.boxes.shown[1].text.find("missing\" does not exist."), std::string::npos) << ui.boxes.shown[1].text;
    EXPECT_TRUE(convert.fResultReady); // the result can still be saved by hand
    // A file where the folder should be is called what it is.
    ui.autoSaveFolder = src;
    ASSERT_EQ(convert.OpenAndIdentify(src, "x-M.dng"), 1);
    ASSERT_EQ(ui.boxes.shown.size(), 3u);
    EXPECT_NE(ui.boxes.shown[2].text.find("x-M.dng\" is a file, not a folder."), std::string::npos)
        << ui.boxes.shown[2].text;
    ui.autoSaveFolder = (dir / "out").string();
    const std::string tif = Source(bytes, "y.tif");
    ASSERT_EQ(convert.OpenAndIdentify(tif, "y.tif"), 1);
    ASSERT_EQ(ui.boxes.shown.size(), 4u);
    EXPECT_EQ(ui.boxes.shown[3].caption, "Auto save");
    EXPECT_TRUE(Written().empty());

    // A folder that refuses the file: said so, with the path and the system's reason.
    ui.autoSaveFolder = "/proc";
    ASSERT_EQ(convert.OpenAndIdentify(src, "x-M.dng"), 1);
    ASSERT_EQ(ui.boxes.shown.size(), 5u);
    const std::string& text = ui.boxes.shown[4].text;
    EXPECT_EQ(text.find("Whoa"), std::string::npos) << text;
    EXPECT_EQ(text.rfind("The result could not be written:\n\ncannot create a file in the folder of /proc/x-M-M.dng: ", 0), 0u)
        << text;
}

TEST_F(Conversion, CancelAtAnyCheckpointLeavesNoFile)
{
    fixtures::DngSpec spec;
    spec.uniqueCameraModel = "Nikon D800";
    spec.width = 256;
    spec.height = 240;
    spec.rowsPerStrip = 240;
    const std::string src = Source(fixtures::MakeDng(spec).bytes, "c.dng");
    engine::DNGConvert convert(ui);
    for (int pumpsBeforeCancel : {0, 1, 2}) {
        SCOPED_TRACE(pumpsBeforeCancel);
        int pumps = 0;
        ui.onPump = [&] {
            if (pumps++ == pumpsBeforeCancel) {
                convert.fCancelRequest = true;
                if (convert.fNegative)
                    convert.fNegative->fCancelRequested = true;
            }
        };
        ASSERT_EQ(convert.OpenAndIdentify(src, "c.dng"), 1);
        EXPECT_EQ(convert.fNegative, nullptr);
        EXPECT_FALSE(convert.fResultReady);
        EXPECT_EQ(ui.status.text, "Cancelled...");
        EXPECT_TRUE(Written().empty());
    }
}

TEST_F(Conversion, EveryMethodWritesItsOwnName)
{
    const std::string src = SampleSource("d200-grbg.dng");
    struct Case {
        int method;
        int strength;
        bool half;
        const char* name;
    };
    const Case cases[] = {{1, 19, false, "d200-grbg-M-RAW-R100.dng"}, {2, 7, true, "d200-grbg-M-RAW-B40.dng"},
                          {3, 19, true, "d200-grbg-M-RGB-R100.dng"},  {4, 9, false, "d200-grbg-M-RGB-G50.dng"},
                          {5, 0, true, "d200-grbg-M-RGB-B5.dng"}};
    engine::DNGConvert convert(ui);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        convert.fMethod = c.method;
        convert.fStrengthRed = convert.fStrengthBlue = c.strength;
        ui.method = c.method;
        ui.strength = c.strength;
        ui.halfSize = c.half;
        ASSERT_EQ(convert.OpenAndIdentify(src, "d200-grbg.dng"), 1);
        ASSERT_TRUE(ui.boxes.shown.empty()) << ui.boxes.shown[0].text;
        EXPECT_EQ(fs::path(convert.fWrittenPath).filename(), c.name);
        auto r = Read(convert.fWrittenPath);
        EXPECT_EQ(r->negative->Stage1Image()->Width(), c.half ? 800 : 1600);
    }
}

// A grey scene with a red patch: the red filter brightens the patch, the blue one darkens it.
TEST_F(Conversion, FiltersMoveARedPatchTheWayTheirColourSays)
{
    fixtures::DngSpec spec;
    spec.uniqueCameraModel = "Nikon D800";
    spec.width = 128;
    spec.height = 96;
    spec.rowsPerStrip = 96;
    fixtures::DngFixture fx = fixtures::MakeDng(spec);
    const auto& block = fx.layout.directories[fx.rawIfd].blocks.at(0);
    auto inPatch = [](int x, int y) { return x >= 32 && x < 96 && y >= 32 && y < 64; };
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 128; ++x) {
            const bool red = (x % 2 == 0) && (y % 2 == 0), blue = (x % 2 == 1) && (y % 2 == 1);
            // Grey in camera space follows the neutral (0.473, 1, 0.681); the patch is red.
            uint16_t v = red ? 3784 : blue ? 5448 : 8000;
            if (inPatch(x, y))
                v = red ? 12000 : blue ? 500 : 2000;
            const size_t at = block.offset + (size_t(y) * 128 + size_t(x)) * 2;
            fx.bytes[at] = uint8_t(v & 0xFF);
            fx.bytes[at + 1] = uint8_t(v >> 8);
        }
    const std::string src = Source(fx.bytes, "patch.dng");
    ui.autoSave = false;
    engine::DNGConvert convert(ui);
    auto patchMean = [&](int method) {
        convert.fMethod = method;
        ui.method = method;
        EXPECT_EQ(convert.OpenAndIdentify(src, "patch.dng"), 1);
        EXPECT_TRUE(ui.boxes.shown.empty());
        const dng::Image& out = *convert.fNegative->Stage2Image();
        double sum = 0;
        for (int y = 40; y < 56; ++y)
            for (int x = 40; x < 88; ++x)
                sum += out.Row16(y)[x];
        return sum / (16.0 * 48.0);
    };
    const double regular = patchMean(0);
    const double red = patchMean(3);
    const double blue = patchMean(5);
    EXPECT_GT(red, regular * 1.2);
    EXPECT_LT(blue, regular * 0.8);
}

TEST_F(Conversion, PreviewRunsDrawTheCropAndLeaveTheKeptResultAlone)
{
    const std::string src = SampleSource("d200-grbg.dng");
    engine::DNGConvert convert(ui);
    platform::Bitmap picture;

    ui.autoSave = false;
    ASSERT_EQ(convert.OpenAndIdentify(src, "d200-grbg.dng"), 1);
    ASSERT_TRUE(convert.fResultReady);
    const uint16_t kept = convert.fResultCopy->Row16(10)[10];
    convert.NoiseReductionPreview(picture, 0, 0, 0, 0, 100);
    EXPECT_EQ(picture.Width(), 512);
    EXPECT_EQ(picture.Height(), 368);
    EXPECT_TRUE(convert.fResultReady);
    EXPECT_EQ(convert.fResultCopy->Row16(10)[10], kept);
    convert.RestoreStage2Image();
    EXPECT_EQ(convert.fNegative->Stage2Image()->Width(), 1600);

    // A save over the photo it was made from is refused, whatever the path's spelling.
    const auto before = fs::file_size(src);
    EXPECT_THROW(convert.WriteMonochromeDng((fs::path(src).parent_path() / "." / fs::path(src).filename()).string()),
                 dng::Error);
    EXPECT_EQ(fs::file_size(src), before);

    // Choosing another photo (here an RGB method, which opens a negative for its white) leaves no
    // result: nothing is written, least of all the new negative with the old preview.
    ui.method = 3;
    ASSERT_EQ(convert.ReadEmbeddedPreview(src), 1);
    EXPECT_FALSE(convert.fResultReady);
    EXPECT_THROW(convert.WriteMonochromeDng((dir / "stale.dng").string()), dng::Error);
    EXPECT_FALSE(fs::exists(dir / "stale.dng"));
}

bool SameBitmap(const platform::Bitmap& a, const platform::Bitmap& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.Format() != b.Format() || a.IsEmpty())
        return false;
    for (int32_t y = 0; y < a.Height(); ++y)
        if (!std::equal(a.ScanLine(y), a.ScanLine(y) + a.RowBytes(), b.ScanLine(y)))
            return false;
    return true;
}

// Tools-preview runs (full and half size, cancelled too) and the dead-pixel search work beside the
// result: once it is put back, saving writes the image the run made, pixel for pixel, a file that
// passes our reader's rules, and the previews and the clip mask are still the result's.
TEST_F(Conversion, SideRunsLeaveTheResultToSaveAndShow)
{
    const std::string src = SampleSource("m9-16bit-rggb.dng");
    ui.autoSave = false;
    ui.method = 4; // "RGB - Green": three stagings and a re-read structure in the half-size run
    for (const bool half : {false, true}) {
        SCOPED_TRACE(half ? "half size" : "full size");
        engine::DNGConvert convert(ui);
        ui.halfSize = half;
        convert.fMethod = 4;
        convert.fStrengthRed = convert.fStrengthBlue = 9;
        ASSERT_EQ(convert.OpenAndIdentify(src, "m9-16bit-rggb.dng"), 1);
        ASSERT_TRUE(convert.fResultReady);
        const fs::path before = dir / (half ? "before-half.dng" : "before.dng");
        convert.WriteMonochromeDng(before.string());
        const std::unique_ptr<dng::Image> clip = convert.fNegative->fClipImage->Clone();
        platform::Bitmap precooked, cooked;
        convert.ShowPrecookedPreview(precooked, 0, 0, 0);
        convert.ShowCookedPreview(cooked, 0);

        const std::vector<std::pair<const char*, std::function<void()>>> sideRuns{
            {"preview run", [&] {
                 platform::Bitmap crop;
                 ui.cropColumn = 1700;
                 ui.cropRow = 1100;
                 convert.NoiseReductionPreview(crop, 6, 0, 0, 0, 100);
                 EXPECT_FALSE(crop.IsEmpty());
                 // While the window is open, the main window's previews still show the result.
                 platform::Bitmap shown;
                 convert.ShowPrecookedPreview(shown, 0, 0, 0);
                 EXPECT_EQ(shown.Width(), precooked.Width());
             }},
            {"two preview runs", [&] {
                 platform::Bitmap crop;
                 convert.NoiseReductionPreview(crop, 6, 0, 0, 0, 100);
                 convert.NoiseReductionPreview(crop, 0, 0, 0, 0, 100);
             }},
            {"cancelled preview run", [&] {
                 platform::Bitmap crop;
                 ui.onPump = [&] { convert.fCancelRequest = true; };
                 convert.NoiseReductionPreview(crop, 6, 0, 0, 0, 100);
                 ui.onPump = nullptr;
                 EXPECT_TRUE(crop.IsEmpty());
             }},
            {"dead-pixel search", [&] { convert.FindDeadPixels(0, 0, 368, 512, 10); }},
        };
        for (const auto& [name, run] : sideRuns) {
            SCOPED_TRACE(name);
            run();
            convert.RestoreStage2Image();
            ASSERT_TRUE(convert.fResultReady);
            const fs::path after = dir / (std::string(half ? "half-" : "") + name + ".dng");
            ASSERT_NO_THROW(convert.WriteMonochromeDng(after.string()));
            const auto a = Read(before.string());
            const auto b = Read(after.string());
            const dng::Image& ia = *a->negative->Stage1Image();
            const dng::Image& ib = *b->negative->Stage1Image();
            ASSERT_EQ(ia.Width(), ib.Width());
            ASSERT_EQ(ia.Height(), ib.Height());
            EXPECT_EQ(b->negative->ColorChannels(), 1u);
            int differing = 0;
            for (int32_t y = 0; y < ia.Height(); ++y)
                differing += !std::equal(ia.Row16(y), ia.Row16(y) + ia.Width(), ib.Row16(y));
            EXPECT_EQ(differing, 0);

            const dng::Image& mask = *convert.fNegative->fClipImage;
            ASSERT_EQ(mask.Width(), clip->Width());
            for (int32_t y = 0; y < mask.Height(); ++y)
                ASSERT_TRUE(std::equal(mask.Row8(y), mask.Row8(y) + mask.Width(), clip->Row8(y))) << "row " << y;
            platform::Bitmap p, c;
            convert.ShowPrecookedPreview(p, 0, 0, 0);
            convert.ShowCookedPreview(c, 0);
            EXPECT_TRUE(SameBitmap(p, precooked));
            EXPECT_TRUE(SameBitmap(c, cooked));
        }
    }
}

// A copy of a sample whose OpcodeList3 is replaced by one lens warp of the given kind with three
// coefficient sets (set s scales its radius by 1 + s / 1000): the new list follows the file's end.
std::vector<uint8_t> WithThreeSetWarp(const std::string& sample, uint32_t id)
{
    std::ifstream in(fixtures::SamplePath(sample), std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<uint8_t> list;
    const auto put32 = [&](uint32_t v) {
        for (int i = 3; i >= 0; --i)
            list.push_back(uint8_t(v >> (8 * i)));
    };
    const auto putDouble = [&](double v) {
        const auto bits = std::bit_cast<uint64_t>(v);
        for (int i = 7; i >= 0; --i)
            list.push_back(uint8_t(bits >> (8 * i)));
    };
    const size_t doubles = id == dng::kOpcodeWarpFisheye ? 4 : 19; // a set's coefficients
    put32(1);
    put32(id);
    put32(id == dng::kOpcodeWarpFisheye ? 0x01030000 : 0x01060000);
    put32(0);
    put32(uint32_t(4 + 3 * 8 * doubles + 16 + (id == dng::kOpcodeWarpFisheye ? 0 : 4)));
    put32(3);
    for (int set = 0; set < 3; ++set)
        for (size_t k = 0; k < doubles; ++k)
            putDouble(k == 0 ? 1.0 + set / 1000.0 : k == 18 ? 1.0 : 0.0); // WarpRectilinear2: radii 0 to 1
    putDouble(0.5);
    putDouble(0.5);
    if (id != dng::kOpcodeWarpFisheye)
        put32(0);

    dng::TiffContainer container;
    container.Parse(dng::MemoryStream(bytes));
    const bool little = container.Order() == dng::ByteOrder::kLittle;
    const auto get16 = [&](size_t at) { return little ? bytes[at] | bytes[at + 1] << 8 : bytes[at] << 8 | bytes[at + 1]; };
    const auto set32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes[at + size_t(i)] = uint8_t(v >> (little ? 8 * i : 8 * (3 - i)));
    };
    bytes.resize((bytes.size() + 1) & ~size_t(1));
    const auto at = uint32_t(bytes.size());
    bytes.insert(bytes.end(), list.begin(), list.end());
    for (const dng::TiffDirectory& dir : container.Images())
        for (int i = 0, n = get16(dir.offset); i < n; ++i) {
            const size_t entry = dir.offset + 2 + 12 * size_t(i);
            if (get16(entry) == 51022) { // OpcodeList3
                set32(entry + 4, uint32_t(list.size()));
                set32(entry + 8, at);
                return bytes;
            }
        }
    throw std::runtime_error(sample + " has no OpcodeList3");
}

// Lens warps of the other kinds, with a set per colour plane, keep the middle (green) set in the
// written one-plane file, as WarpRectilinear does: the file is written, and readers take it.
TEST_F(Conversion, OtherLensWarpsKeepTheGreenSetInTheOnePlaneFile)
{
    for (const uint32_t id : {uint32_t(dng::kOpcodeWarpFisheye), uint32_t(dng::kOpcodeWarpRectilinear2)}) {
        SCOPED_TRACE(id);
        const std::string src = Source(WithThreeSetWarp("leica-t-warp.dng", id), "warp.dng");
        engine::DNGConvert convert(ui);
        ASSERT_EQ(convert.OpenAndIdentify(src, "warp.dng"), 1);
        ASSERT_TRUE(ui.boxes.shown.empty()) << ui.boxes.shown[0].text;
        ASSERT_FALSE(convert.fWrittenPath.empty());
        const auto r = Read(convert.fWrittenPath);
        const auto& opcodes = r->negative->GetOpcodeList(2).Opcodes();
        ASSERT_EQ(opcodes.size(), 1u);
        EXPECT_EQ(opcodes[0].id, id);
        const std::vector<uint8_t>& p = opcodes[0].params;
        ASSERT_EQ(p.size(), id == dng::kOpcodeWarpFisheye ? 4u + 32 + 16 : 4u + 152 + 20);
        EXPECT_EQ(std::vector<uint8_t>(p.begin(), p.begin() + 4), (std::vector<uint8_t>{0, 0, 0, 1}));
        EXPECT_EQ(std::bit_cast<double>(uint64_t(p[4]) << 56 | uint64_t(p[5]) << 48 | uint64_t(p[6]) << 40 |
                                        uint64_t(p[7]) << 32 | uint64_t(p[8]) << 24 | uint64_t(p[9]) << 16 |
                                        uint64_t(p[10]) << 8 | p[11]),
                  1.001);
        if (!fixtures::ValidatorPath().empty()) {
            const fixtures::Validation v = fixtures::Validate(convert.fWrittenPath);
            EXPECT_TRUE(v.accepted) << v.output;
        }
    }
}

TEST_F(Conversion, DrawnKernelDeblursTheResultAndOneWithoutWeightIsSkipped)
{
    const std::string src = SampleSource("d200-grbg.dng");
    engine::DNGConvert convert(ui);
    ui.autoSave = false;
    std::unique_ptr<dng::Image> plain;
    const auto differences = [&] {
        EXPECT_EQ(convert.OpenAndIdentify(src, "d200-grbg.dng"), 1);
        if (!plain)
            plain = convert.fResultCopy->Clone();
        int n = 0;
        for (int32_t y = 0; y < plain->Height(); ++y)
            for (int32_t x = 0; x < plain->Width(); ++x)
                n += plain->Row16(y)[x] != convert.fResultCopy->Row16(y)[x];
        return n;
    };
    EXPECT_EQ(differences(), 0);
    ui.kernel.CellClick(1, 50); // set, but outside the cells the kernel uses
    EXPECT_EQ(differences(), 0);
    const auto& texts = ui.status.history;
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Deblurring skipped: the blur kernel has no weight"), 1);
    ui.kernel.SetLineKind(engine::MotionBlurGrid::kLineThroughCentre);
    ui.kernel.CellClick(54, 50);
    EXPECT_GT(differences(), 1000);
    EXPECT_EQ(ui.kernelRefreshes, 2);
}

TEST_F(Conversion, CancelledPreviewRunDrawsNothing)
{
    const std::string src = SampleSource("d200-grbg.dng");
    engine::DNGConvert convert(ui);
    ui.autoSave = false;
    ASSERT_EQ(convert.OpenAndIdentify(src, "d200-grbg.dng"), 1);
    ui.onPump = [&] { convert.fCancelRequest = true; };
    platform::Bitmap cancelled;
    convert.NoiseReductionPreview(cancelled, 0, 0, 0, 0, 100);
    EXPECT_TRUE(cancelled.IsEmpty());
}

TEST_F(Conversion, CookedPreviewUsesTheChosenGammaAndIsCached)
{
    const std::string src = SampleSource("d200-grbg.dng");
    ui.cooked = true;
    ui.gamma = 1;
    ui.autoSave = false;
    engine::DNGConvert convert(ui);
    ASSERT_EQ(convert.OpenAndIdentify(src, "d200-grbg.dng"), 1);
    ASSERT_EQ(ui.resultPreview.Format(), platform::PixelFormat::k24Bit);
    const uint8_t gamma18 = ui.resultPreview.ScanLine(500)[3 * 800];
    platform::Bitmap b;
    convert.ShowCookedPreview(b, 0);
    const uint8_t gamma22 = b.ScanLine(500)[3 * 800];
    convert.ShowCookedPreview(b, 1);
    EXPECT_EQ(b.ScanLine(500)[3 * 800], gamma18);
    EXPECT_NE(gamma18, gamma22);
    // Entry points without a result do nothing.
    engine::DNGConvert fresh(ui);
    platform::Bitmap empty;
    fresh.ShowCookedPreview(empty, 0);
    fresh.ShowPrecookedPreview(empty, 0, 0, 0);
    EXPECT_TRUE(empty.IsEmpty());
}

} // namespace

// A crop of a pixel and a half is no crop at all once halved: the writer refuses the result, the
// message names the photo (not the output name it was about to get), and nothing is written.
TEST_F(Conversion, ANarrowPhotoAtHalfSizeIsWrittenWhole)
{
    // 1024 columns or fewer is the width of a tools-preview crop, yet a whole photo that narrow
    // halves its geometry with its pixels: each method's file is written, and valid (TearDown).
    fixtures::DngSpec spec;
    spec.uniqueCameraModel = "Nikon D800";
    spec.width = 96;
    spec.height = 64;
    const std::string src = Source(fixtures::MakeDng(spec).bytes, "narrow.dng");
    ui.halfSize = true;
    engine::DNGConvert convert(ui);
    for (const int method : {0, 1, 4}) {
        SCOPED_TRACE(method);
        ui.method = convert.fMethod = method;
        ui.strength = convert.fStrengthRed = convert.fStrengthBlue = 9;
        ASSERT_EQ(convert.OpenAndIdentify(src, "narrow.dng"), 1);
        ASSERT_TRUE(ui.boxes.shown.empty()) << ui.boxes.shown[0].text;
        EXPECT_EQ(Read(convert.fWrittenPath)->negative->Stage1Image()->Width(), 48);
    }
    EXPECT_EQ(Written().size(), 3u);
}

TEST_F(Conversion, DamageFoundWhenWritingNamesThePhoto)
{
    fixtures::DngSpec spec;
    spec.uniqueCameraModel = "Nikon D800";
    spec.defaultCropOrigin = {dng::URational(2, 1), dng::URational(2, 1)};
    spec.defaultCropSize = {dng::URational(3, 2), dng::URational(3, 2)};
    const std::string src = Source(fixtures::MakeDng(spec).bytes, "tiny crop.dng");
    ui.halfSize = true;
    ui.method = 1;
    engine::DNGConvert convert(ui);
    convert.fMethod = 1;
    convert.fStrengthRed = 19;
    ASSERT_EQ(convert.OpenAndIdentify(src, "tiny crop.dng"), 1);
    ASSERT_EQ(ui.boxes.shown.size(), 1u);
    EXPECT_EQ(ui.boxes.shown[0].caption, "Damaged file");
    EXPECT_EQ(ui.boxes.shown[0].text.rfind("This DNG (tiny crop.dng) is damaged and cannot be converted:\n\n", 0), 0u)
        << ui.boxes.shown[0].text;
    EXPECT_TRUE(Written().empty());
}
