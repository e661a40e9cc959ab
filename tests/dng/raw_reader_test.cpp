// Our reading path over every synthetic fixture: stage 1 must hold exactly the stored values the
// fixture writer put in (LibRaw is checked against the same values in the fixture tests), damaged
// files must fail with the error and nothing else.
#include "dng/error.h"
#include "dng/host.h"
#include "dng/info.h"
#include "dng/negative.h"
#include "dng/stream.h"
#include "fixtures/dng_fixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

struct Read {
    dng::Info info;
    std::unique_ptr<dng::Negative> negative;
};

// The whole reading path; throws dng::Error where a step fails.
Read ReadAll(dng::Host& host, const dng::Stream& stream)
{
    Read r;
    r.info.Parse(host, stream);
    r.info.PostParse(host);
    if (!r.info.IsValidDNG())
        throw dng::Error(dng::kErrorBadFormat, "not a valid DNG");
    r.negative = host.Make_dng_negative();
    r.negative->Parse(host, stream, r.info);
    r.negative->PostParse(host, stream, r.info);
    r.negative->ReadStage1Image(host, stream, r.info);
    r.negative->ValidateRawImageDigest(host);
    r.negative->BuildStage2Image(host);
    return r;
}

TEST(RawReader, EveryFixtureDecodesToItsStoredValues)
{
    int sound = 0;
    for (const fixtures::Variant& v : fixtures::AllVariants()) {
        if (v.Damaged())
            continue;
        SCOPED_TRACE(v.name);
        ++sound;
        const fixtures::DngFixture fx = fixtures::MakeDng(v.spec);
        dng::MemoryStream stream(fx.bytes);
        dng::Host host;
        Read r;
        ASSERT_NO_THROW(r = ReadAll(host, stream));
        const dng::Image& s1 = *r.negative->Stage1Image();
        ASSERT_EQ(uint32_t(s1.Width()), fx.width);
        ASSERT_EQ(uint32_t(s1.Height()), fx.height);
        ASSERT_EQ(s1.Planes(), fx.samplesPerPixel);
        EXPECT_EQ(s1.Type() == dng::PixelType::kUInt8, v.spec.bitsPerSample == 8);
        long bad = 0;
        for (uint32_t y = 0; y < fx.height; ++y)
            for (uint32_t x = 0; x < fx.width; ++x)
                for (uint32_t p = 0; p < fx.samplesPerPixel; ++p) {
                    uint32_t ours = s1.Type() == dng::PixelType::kUInt16 ? s1.Row16(int32_t(y), p)[x]
                                                                         : s1.Row8(int32_t(y), p)[x];
                    uint32_t truth = fx.stage1[(size_t(y) * fx.width + x) * fx.samplesPerPixel + p];
                    if (ours != truth && bad++ < 3)
                        ADD_FAILURE() << "at " << x << "," << y << " plane " << p << ": " << ours << " vs " << truth;
                }
        EXPECT_EQ(bad, 0);
        EXPECT_EQ(r.negative->GetLinearizationInfo()->fLinearizationTable, fx.linearizationTable);
        const dng::Rect active = r.negative->GetLinearizationInfo()->fActiveArea;
        EXPECT_EQ(r.negative->Stage2Image()->Width(), active.W());
        EXPECT_EQ(r.negative->Stage2Image()->Height(), active.H());
    }
    EXPECT_GT(sound, 10);
}

TEST(RawReader, DamagedFixturesFailWithTheErrorOnly)
{
    int damaged = 0;
    for (const fixtures::Variant& v : fixtures::AllVariants()) {
        if (!v.Damaged())
            continue;
        SCOPED_TRACE(v.name);
        ++damaged;
        const std::vector<uint8_t> bytes = fixtures::VariantBytes(v);
        dng::MemoryStream stream(bytes);
        dng::Host host;
        try {
            Read r = ReadAll(host, stream);
            // A loop in the directory tree may be cut and the rest read; pixel damage may not pass.
            EXPECT_NE(v.name.find("loop"), std::string::npos) << "damaged file read without an error";
        } catch (const dng::Error& e) {
            EXPECT_TRUE(e.Code() == dng::kErrorBadFormat || e.Code() == dng::kErrorEndOfFile ||
                        e.Code() == dng::kErrorFileIsDamaged)
                << e.Code();
        }
    }
    EXPECT_GT(damaged, 4);
}

TEST(RawReader, RawImageDigestIsChecked)
{
    for (fixtures::Digest d : {fixtures::Digest::kCorrect, fixtures::Digest::kWrong}) {
        for (uint32_t bits : {8u, 16u}) {
            fixtures::DngSpec spec;
            spec.rawImageDigest = d;
            spec.bitsPerSample = bits;
            spec.mosaic = bits == 8 ? fixtures::Mosaic::kRGGB : fixtures::Mosaic::kLinearRaw;
            const fixtures::DngFixture fx = fixtures::MakeDng(spec);
            dng::MemoryStream stream(fx.bytes);
            dng::Host host;
            if (d == fixtures::Digest::kCorrect) {
                EXPECT_NO_THROW(ReadAll(host, stream)) << bits;
            } else {
                try {
                    ReadAll(host, stream);
                    ADD_FAILURE() << "a wrong digest passed";
                } catch (const dng::Error& e) {
                    EXPECT_EQ(e.Code(), dng::kErrorFileIsDamaged);
                }
            }
        }
    }
}

TEST(Negative, TakesLinearizationCropAndColourFromTheFile)
{
    fixtures::DngSpec spec;
    spec.width = 72;
    spec.height = 52;
    spec.activeArea = dng::Rect(2, 4, 52, 72);
    spec.blackRepeatRows = 2;
    spec.blackRepeatCols = 2;
    spec.blackLevel = {{100, 1}, {101, 1}, {102, 1}, {203, 2}};
    spec.blackLevelRational = true;
    spec.blackLevelDeltaV.assign(50, dng::SRational(1, 2));
    spec.whiteLevel = 60000;
    spec.defaultCropOrigin = {{{5, 2}, {3, 1}}};
    spec.defaultCropSize = {{{121, 2}, {40, 1}}};
    spec.defaultScale = {{{1, 1}, {2, 1}}};
    spec.asShotNeutral.clear();
    spec.asShotWhiteXY = {{{3127, 10000}, {3290, 10000}}};
    const fixtures::DngFixture fx = fixtures::MakeDng(spec);
    dng::MemoryStream stream(fx.bytes);
    dng::Host host;
    Read r = ReadAll(host, stream);
    const dng::Negative& n = *r.negative;
    const dng::LinearizationInfo& lin = *n.GetLinearizationInfo();
    EXPECT_EQ(lin.fActiveArea, dng::Rect(2, 4, 52, 72));
    EXPECT_EQ(lin.fBlackLevelRepeatRows, 2u);
    EXPECT_DOUBLE_EQ(lin.fBlackLevel[1][1][0], 101.5);
    EXPECT_EQ(lin.fBlackDeltaV.size(), 50u);
    EXPECT_TRUE(lin.fBlackDeltaH.empty());
    EXPECT_DOUBLE_EQ(lin.BlackLevel(3, 5, 0), 102.0);
    EXPECT_DOUBLE_EQ(lin.MaxBlackLevel(0), 102.5);
    EXPECT_EQ(lin.fWhiteLevel[0], 60000.0);
    EXPECT_EQ(n.DefaultCropOriginH(), dng::URational(5, 2));
    EXPECT_EQ(n.DefaultCropSizeH(), dng::URational(121, 2));
    EXPECT_DOUBLE_EQ(n.SquareWidth(), 60.5);
    EXPECT_DOUBLE_EQ(n.SquareHeight(), 80.0);
    EXPECT_DOUBLE_EQ(n.AspectRatio(), 0.5);
    EXPECT_FALSE(n.HasCameraNeutral());
    ASSERT_TRUE(n.HasCameraWhiteXY());
    EXPECT_DOUBLE_EQ(n.CameraWhiteXY().x, 0.3127);
    EXPECT_EQ(n.ColorChannels(), 3u);
    EXPECT_EQ(n.ColorProfile().colorMatrix1.Rows(), 3u);
    EXPECT_EQ(n.Exif().cameraSerialNumber, "BSN-0042");
    ASSERT_NE(n.GetMosaicInfo(), nullptr);
    EXPECT_EQ(n.GetMosaicInfo()->fCFAPattern[0][0], dng::kColorRed);
    EXPECT_EQ(n.GetMosaicInfo()->fCFAPattern[1][1], dng::kColorBlue);
}

TEST(Negative, CropOutsideTheActiveAreaIsBroughtInside)
{
    fixtures::DngSpec spec;
    spec.defaultCropOrigin = {{{10, 1}, {8, 1}}};
    spec.defaultCropSize = {{{200, 1}, {40, 1}}};
    spec.opcodeList3 = fixtures::WarpRectilinearSpec{};
    const fixtures::DngFixture fx = fixtures::MakeDng(spec);
    dng::MemoryStream stream(fx.bytes);
    dng::Host host;
    Read r = ReadAll(host, stream);
    EXPECT_EQ(r.negative->DefaultCropSizeH(), dng::URational(54, 1));
    EXPECT_EQ(r.negative->DefaultCropSizeV(), dng::URational(40, 1));
    ASSERT_EQ(r.negative->GetOpcodeList(2).Count(), 1u);
    EXPECT_EQ(r.negative->GetOpcodeList(2).Opcodes()[0].id, dng::kOpcodeWarpRectilinear);
    EXPECT_TRUE(r.negative->GetOpcodeList(0).IsEmpty());
}

// The keep-alive hook is reached after every strip or tile, digest row and stage-2 row, and
// never from another thread.
TEST(RawReader, KeepAliveIsCalledDuringLongWorkOnTheSettingThreadOnly)
{
    fixtures::DngSpec strips; // 64 x 48 in three strips, no digest
    strips.rowsPerStrip = 16;
    fixtures::DngSpec tiles; // 64 x 48 in four tiles, with a digest
    tiles.layout = fixtures::RawLayout::kJpegTiles;
    tiles.rawImageDigest = fixtures::Digest::kCorrect;
    dng::Host host;
    int calls = 0;
    host.SetKeepAlive([&calls] { ++calls; }, std::chrono::milliseconds(0));
    for (auto [spec, blocks] : {std::pair{strips, 3}, std::pair{tiles, 4 + 48}}) {
        const fixtures::DngFixture fx = fixtures::MakeDng(spec);
        dng::MemoryStream stream(fx.bytes);
        calls = 0;
        const Read r = ReadAll(host, stream);
        EXPECT_GE(calls, blocks + r.negative->Stage2Image()->Height());
    }
    const int before = calls;
    std::thread([&host] { host.KeepAlive(); }).join();
    EXPECT_EQ(calls, before);
    host.SetKeepAlive({});
    host.KeepAlive();
    EXPECT_EQ(calls, before);
}

} // namespace
