// Our renderer against the reference DNG reader's: a sample is converted, the written file is
// rendered by the reference validator (8-bit sRGB of the default crop) and by our renderer from
// the file's own plane, and the two pictures may differ by at most one level at any pixel.
// Samples with negative, zero and positive baseline exposures cover the exposure ramp's white
// point, the exposure tone and the plain ramp.
#include "engine/Class_dngconvert.h"
#include "engine/Class_vrel_host.h"
#include "engine/Class_vrel_render.h"
#include "fake_engine_ui.h"
#include "fixtures/read_dng.h"
#include "fixtures/samples.h"
#include "fixtures/validator.h"

#include "dng/info.h"
#include "dng/stream.h"
#include "dng/tag_codes.h"
#include "dng/tiff_container.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Opens up the area renderer, whose area the program's renderer otherwise chooses itself.
class AreaRender : public engine::VrelRender {
public:
    using VrelRender::VrelRender;
    using VrelRender::RenderArea;
};

// The first plane of an uncompressed, interleaved 8-bit RGB TIFF as the validator writes it.
struct Picture {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> red; // width x height
    std::vector<uint8_t> rgb; // width x height x 3
};

Picture ReadRgbTiff(const std::string& path)
{
    dng::FileStream stream(path);
    dng::TiffContainer tiff;
    tiff.Parse(stream);
    const dng::TiffDirectory& ifd = tiff.Images().at(0);
    const auto value = [&](uint16_t code, uint32_t i = 0) {
        const dng::TiffTag* tag = ifd.Find(code);
        if (!tag)
            throw std::runtime_error("the rendering has no tag " + std::to_string(code));
        return tag->AsUnsigned(i);
    };
    Picture p;
    p.width = static_cast<int32_t>(value(dng::kTagImageWidth));
    p.height = static_cast<int32_t>(value(dng::kTagImageLength));
    if (value(dng::kTagSamplesPerPixel) != 3 || value(dng::kTagBitsPerSample) != 8 || value(dng::kTagCompression) != 1)
        throw std::runtime_error("the rendering is not uncompressed 8-bit RGB");
    const dng::TiffTag* offsets = ifd.Find(dng::kTagStripOffsets);
    const dng::TiffTag* counts = ifd.Find(dng::kTagStripByteCounts);
    if (!offsets || !counts || offsets->count != counts->count)
        throw std::runtime_error("the rendering's strips are not described");
    for (uint32_t i = 0; i < offsets->count; ++i) {
        const std::vector<uint8_t> strip = stream.ReadBytes(offsets->AsUnsigned(i), counts->AsUnsigned(i));
        p.rgb.insert(p.rgb.end(), strip.begin(), strip.end());
    }
    const size_t pixels = size_t(p.width) * size_t(p.height);
    if (p.rgb.size() < 3 * pixels)
        throw std::runtime_error("the rendering's strips hold fewer pixels than its size");
    p.red.resize(pixels);
    for (size_t i = 0; i < pixels; ++i)
        p.red[i] = p.rgb[3 * i];
    return p;
}

struct Reference {
    const char* file;
    double baselineExposure;
};

void PrintTo(const Reference& r, std::ostream* os)
{
    *os << r.file;
}

class RenderReference : public testing::TestWithParam<Reference> {};

TEST_P(RenderReference, OurRenderingOfAWrittenFileIsTheReaders)
{
    const Reference c = GetParam();
    if (fixtures::ValidatorPath().empty())
        GTEST_SKIP() << "no DNG validator beside the samples: the rendering was not compared";

    const fs::path dir = fs::temp_directory_path() / ("velloray-render-" + std::to_string(::getpid()) + "-" + c.file);
    fs::remove_all(dir);
    fs::create_directories(dir);
    enginetest::FakeEngineUi ui;
    ui.autoSave = true;
    ui.autoSaveFolder = dir.string();
    engine::DNGConvert convert(ui);
    convert.fMethod = 0;
    ASSERT_EQ(convert.OpenAndIdentify(fixtures::SamplePath(c.file), c.file), 1);
    ASSERT_FALSE(convert.fWrittenPath.empty());

    const std::string tiffPath = (dir / "reference.tif").string();
    const fixtures::Validation rendered = fixtures::RenderTiff(convert.fWrittenPath, tiffPath);
    ASSERT_TRUE(rendered.accepted) << rendered.output;
    const Picture reference = ReadRgbTiff(tiffPath);

    // The written file read back as readers read it, and rendered by our renderer over the same
    // default crop, in sRGB.
    dng::FileStream stream(convert.fWrittenPath);
    engine::VrelHost host;
    const dng::Info info = fixtures::ParsedInfo(host, stream);
    ASSERT_TRUE(info.IsValidDNG()) << info.ValidityProblem();
    auto negative = fixtures::ParsedNegative(host, stream, info);
    negative->ReadStage1Image(host, stream, info);
    negative->BuildStage2Image(host);
    const auto& vrel = static_cast<const engine::VrelNegative&>(*negative);
    AreaRender ours(host, vrel);
    EXPECT_DOUBLE_EQ(ours.BaselineExposure(), c.baselineExposure);
    ours.SetFinalSpace(dng::FinalSpace::kSRGB);
    const int32_t left = static_cast<int32_t>(std::lround(negative->DefaultCropOriginH().As_real64()));
    const int32_t top = static_cast<int32_t>(std::lround(negative->DefaultCropOriginV().As_real64()));
    const dng::Rect crop(top, left, top + reference.height, left + reference.width);
    ASSERT_EQ(static_cast<int32_t>(std::lround(negative->DefaultCropSizeH().As_real64())), reference.width);
    ASSERT_EQ(static_cast<int32_t>(std::lround(negative->DefaultCropSizeV().As_real64())), reference.height);
    const auto image = ours.RenderArea(*negative->Stage2Image(), crop, 1);

    int worst = 0;
    long off = 0;
    double sumOurs = 0.0, sumTheirs = 0.0;
    for (int32_t y = 0; y < reference.height; ++y) {
        const uint8_t* row = image->Row8(y);
        for (int32_t x = 0; x < reference.width; ++x) {
            const size_t at = size_t(y) * size_t(reference.width) + size_t(x);
            // A grey rendering: the reader's three planes are equal.
            ASSERT_EQ(reference.rgb[3 * at + 1], reference.red[at]) << x << ", " << y;
            ASSERT_EQ(reference.rgb[3 * at + 2], reference.red[at]) << x << ", " << y;
            const int d = std::abs(int(row[x]) - int(reference.red[at]));
            worst = std::max(worst, d);
            off += d > 0;
            sumOurs += row[x];
            sumTheirs += reference.red[at];
        }
    }
    const double pixels = double(reference.width) * double(reference.height);
    EXPECT_LE(worst, 1) << off << " pixels differ";
    // Off-by-one levels come from rounding alone, not from a shifted tone: they are rare and
    // leave the mean where it was.
    EXPECT_LT(double(off) / pixels, 0.02);
    EXPECT_NEAR(sumOurs / pixels, sumTheirs / pixels, 0.02);
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Samples, RenderReference,
                         testing::Values(Reference{"d200-grbg.dng", -0.25}, Reference{"d800-3000x2000.dng", -0.5},
                                         Reference{"m9-16bit-rggb.dng", 0.0}, Reference{"5d3-2400x1600.dng", 0.25},
                                         Reference{"leica-m240-jpegpreview.dng", 0.5},
                                         Reference{"sony-a7s-bggr.dng", 0.35}, Reference{"m9-8bit-squarelaw.dng", 0.0}),
                         [](const testing::TestParamInfo<Reference>& info) {
                             std::string name;
                             for (const char* p = info.param.file; *p && *p != '.'; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

} // namespace
