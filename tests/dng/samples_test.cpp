// The shared sample photos read through the whole reading path, with LibRaw as an independent
// decoder of the same files.
#include "dng/error.h"
#include "dng/host.h"
#include "dng/info.h"
#include "dng/negative.h"
#include "dng/stream.h"
#include "fixtures/samples.h"

#include <libraw/libraw.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

struct Opened {
    std::unique_ptr<dng::FileStream> stream;
    dng::Info info;
    std::unique_ptr<dng::Negative> negative;
};

// Parses a file and its negative; decodes stage 1 when asked.
Opened Open(const std::string& name, dng::Host& host, bool decode)
{
    Opened o;
    o.stream = std::make_unique<dng::FileStream>(fixtures::SamplePath(name));
    o.info.Parse(host, *o.stream);
    o.info.PostParse(host);
    if (!o.info.IsValidDNG())
        return o;
    o.negative = host.Make_dng_negative();
    o.negative->Parse(host, *o.stream, o.info);
    o.negative->PostParse(host, *o.stream, o.info);
    if (decode)
        o.negative->ReadStage1Image(host, *o.stream, o.info);
    return o;
}

struct ColourSample {
    const char* file;
    const char* model;
    int width, height;
    dng::Rect active;   // top, left, bottom, right
    int hotCol, hotRow; // one hot pixel (stage-1 coordinates), at the white level
};

const ColourSample kColourSamples[] = {
    {"m9-16bit-rggb.dng", "M9 Digital Camera", 2000, 1334, {0, 0, 1334, 2000}, 724, 502},
    {"m9-8bit-squarelaw.dng", "M9 Digital Camera", 1800, 1200, {0, 0, 1200, 1800}, 1551, 195},
    {"d800-3000x2000.dng", "Nikon D800", 3000, 2000, {0, 0, 2000, 3000}, 2817, 725},
    {"d800-fullsize.dng", "Nikon D800", 7424, 4924, {0, 0, 4924, 7424}, 530, 4718},
    {"5d3-2400x1600.dng", "Canon EOS 5D Mark III", 2400, 1600, {18, 60, 1600, 2400}, -1, -1},
    {"sony-a7s-bggr.dng", "Sony ILCE-7S", 2400, 1600, {0, 0, 1600, 2400}, 439, 489},
    {"leica-t-warp.dng", "LEICA T (Typ 701)", 2400, 1600, {0, 0, 1600, 2400}, 2047, 629},
    {"leica-m240-jpegpreview.dng", "LEICA M (Typ 240)", 2000, 1334, {0, 0, 1334, 2000}, 1783, 433},
    {"d200-grbg.dng", "Nikon D200", 1600, 1072, {0, 0, 1072, 1600}, 1256, 807},
    {"canon-7d-unsupported.dng", "Canon EOS 7D", 1600, 1080, {20, 64, 1080, 1600}, -1, -1},
};

class ColourSampleTest : public testing::TestWithParam<ColourSample> {};

// Stage 1 holds exactly the values LibRaw decodes (LibRaw applies a linearization table while
// reading, so ours are looked up in the table first); stage 2 puts the hot pixel at 65535.
TEST_P(ColourSampleTest, DecodesAsLibRawAndLinearizes)
{
    const ColourSample& s = GetParam();
    dng::Host host;
    Opened o = Open(s.file, host, true);
    ASSERT_TRUE(o.info.IsValidDNG());
    EXPECT_EQ(o.negative->ModelName(), s.model);
    EXPECT_EQ(o.negative->ColorChannels(), 3u);
    ASSERT_NE(o.negative->GetMosaicInfo(), nullptr);
    EXPECT_EQ(o.negative->GetLinearizationInfo()->fActiveArea, s.active);
    const dng::Image& stage1 = *o.negative->Stage1Image();
    ASSERT_EQ(stage1.Width(), s.width);
    ASSERT_EQ(stage1.Height(), s.height);
    ASSERT_EQ(stage1.Planes(), 1u);

    auto raw = std::make_unique<LibRaw>();
    ASSERT_EQ(raw->open_file(fixtures::SamplePath(s.file).c_str()), LIBRAW_SUCCESS);
    ASSERT_EQ(raw->unpack(), LIBRAW_SUCCESS);
    ASSERT_EQ(raw->imgdata.sizes.raw_width, s.width);
    ASSERT_EQ(raw->imgdata.sizes.raw_height, s.height);
    const uint16_t* theirs = raw->imgdata.rawdata.raw_image;
    ASSERT_NE(theirs, nullptr);
    const int pitch = raw->imgdata.sizes.raw_pitch / 2;
    const auto& table = o.negative->GetLinearizationInfo()->fLinearizationTable;
    long mismatches = 0;
    for (int y = 0; y < s.height; ++y) {
        for (int x = 0; x < s.width; ++x) {
            uint32_t ours = stage1.Type() == dng::PixelType::kUInt16 ? stage1.Row16(y)[x] : stage1.Row8(y)[x];
            if (!table.empty())
                ours = table[std::min<size_t>(ours, table.size() - 1)];
            if (ours != theirs[size_t(y) * pitch + x] && mismatches++ < 5)
                ADD_FAILURE() << s.file << " differs at " << x << "," << y << ": " << ours << " vs "
                              << theirs[size_t(y) * pitch + x];
        }
    }
    EXPECT_EQ(mismatches, 0);

    // The pixels match the file's digest (the SDK-rewritten samples carry a NewRawImageDigest);
    // one changed photosite makes the file damaged.
    EXPECT_NO_THROW(o.negative->ValidateRawImageDigest(host));
    if (o.info.Shared().newRawImageDigest && stage1.Type() == dng::PixelType::kUInt16) {
        uint16_t& v = o.negative->Stage1Image()->View16Of(0).Row(7)[300];
        v ^= 1;
        try {
            o.negative->ValidateRawImageDigest(host);
            ADD_FAILURE() << "a changed pixel passed the digest";
        } catch (const dng::Error& e) {
            EXPECT_EQ(e.Code(), dng::kErrorFileIsDamaged);
        }
        v ^= 1;
    }

    o.negative->BuildStage2Image(host);
    const dng::Image& stage2 = *o.negative->Stage2Image();
    EXPECT_EQ(stage2.Width(), s.active.W());
    EXPECT_EQ(stage2.Height(), s.active.H());
    if (s.hotCol >= 0) {
        EXPECT_EQ(stage2.Row16(s.hotRow - s.active.t)[s.hotCol - s.active.l], 65535);
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, ColourSampleTest, testing::ValuesIn(kColourSamples),
                         [](const testing::TestParamInfo<ColourSample>& info) {
                             std::string n = info.param.file;
                             for (char& c : n)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return n;
                         });

TEST(Samples, RefusedAndDamagedFilesRaiseTheError)
{
    dng::Host host;
    // A plain TIFF parses but is no DNG.
    EXPECT_FALSE(Open("not-a-dng.tif", host, false).info.IsValidDNG());

    // A monochrome DNG is valid and has one colour plane, no mosaic.
    Opened mono = Open("m9-mono-linearraw.dng", host, true);
    ASSERT_TRUE(mono.info.IsValidDNG());
    EXPECT_EQ(mono.negative->ColorChannels(), 1u);
    EXPECT_EQ(mono.negative->GetMosaicInfo(), nullptr);

    // The truncated file parses (its directories sit before the cut); its pixels do not.
    Opened cut = Open("d800-truncated.dng", host, false);
    ASSERT_TRUE(cut.info.IsValidDNG());
    try {
        cut.negative->ReadStage1Image(host, *cut.stream, cut.info);
        ADD_FAILURE() << "a truncated file decoded";
    } catch (const dng::Error& e) {
        EXPECT_EQ(e.Code(), dng::kErrorBadFormat);
    }
    EXPECT_EQ(cut.negative->Stage1Image(), nullptr);
}

TEST(Samples, RealFilesOfOtherProgramsParseOrFailCleanly)
{
    dng::Host host;
    Opened canon = Open("real/canon-350d-stripped.dng", host, false);
    ASSERT_TRUE(canon.info.IsValidDNG());
    EXPECT_EQ(canon.negative->ModelName(), "Canon EOS 350D");
    EXPECT_EQ(canon.negative->GetLinearizationInfo()->fActiveArea, dng::Rect(14, 42, 2328, 3516));
    EXPECT_EQ(canon.negative->GetLinearizationInfo()->fWhiteLevel[0], 4095.0);
    EXPECT_THROW(canon.negative->ReadStage1Image(host, *canon.stream, canon.info), dng::Error);

    // Files the program refuses by their camera: the structure must be readable without a crash.
    for (const char* name : {"real/canon-6d-linearraw-lossy.dng", "real/lg-h815-linearraw-lossy.dng",
                             "real/iphone-proraw-stripped.dng", "real/gopro-hero6-vc5.dng"}) {
        SCOPED_TRACE(name);
        try {
            Opened o = Open(name, host, false);
            if (o.negative) {
                EXPECT_FALSE(o.negative->ModelName().empty());
                EXPECT_THROW(o.negative->ReadStage1Image(host, *o.stream, o.info), dng::Error);
            }
        } catch (const dng::Error&) {
        }
    }
}

} // namespace
