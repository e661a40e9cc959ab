// The monochrome DNG writer and its XMP packet. Colour sources are turned into monochrome
// negatives the way the program does it (one 16-bit plane, no mosaic, one colour channel), written,
// and read back by our reader, LibRaw and exiftool.
#include "dng/dng_writer.h"
#include "dng/error.h"
#include "dng/host.h"
#include "dng/info.h"
#include "dng/negative.h"
#include "dng/raw_digest.h"
#include "dng/stream.h"
#include "dng/tag_codes.h"
#include "dng/tiff_writer.h"
#include "dng/xmp_packet.h"
#include "fixtures/dng_fixture.h"
#include "fixtures/samples.h"
#include "fixtures/temp_file.h"

#include <libraw/libraw.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "velloray-writer-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot create a temporary folder");
        fPath = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        fs::remove_all(fPath, ignored);
    }
    fs::path operator/(const std::string& name) const { return fPath / name; }
    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(fPath))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    fs::path fPath;
};

std::vector<uint8_t> ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Opened {
    std::string path;
    std::unique_ptr<dng::FileStream> stream;
    dng::Info info;
    std::unique_ptr<dng::Negative> negative;
};

std::unique_ptr<Opened> Open(const std::string& path, dng::Host& host)
{
    auto o = std::make_unique<Opened>();
    o->path = path;
    o->stream = std::make_unique<dng::FileStream>(path);
    o->info.Parse(host, *o->stream);
    o->info.PostParse(host);
    o->negative = host.Make_dng_negative();
    o->negative->Parse(host, *o->stream, o->info);
    o->negative->PostParse(host, *o->stream, o->info);
    o->negative->ReadStage1Image(host, *o->stream, o->info);
    return o;
}

const std::array<uint8_t, 16> kNewId = {'0', '1', '2', '3', 'a', 'b', 'c', 'd', '-', 'e', 'f', '0', '1', '-', '2', '3'};

// What the conversion does before writing: a one-plane 16-bit stage-1 image (here the raw plane
// itself), one colour channel, no mosaic, a fresh identity, a lens warp kept for one plane only.
void MakeMonochrome(dng::Negative& n)
{
    n.ClearMosaicInfo();
    n.SetColorChannels(1);
    n.SetRawDataUniqueID(kNewId);
    dng::OpcodeList& list3 = n.GetOpcodeList(2);
    if (list3.IsEmpty())
        return;
    const dng::Opcode& warp = list3.Opcodes().front(); // WarpRectilinear: N, N x 6 doubles, centre
    const size_t planes = warp.params[3];
    std::vector<uint8_t> params = {0, 0, 0, 1};
    params.insert(params.end(), warp.params.begin() + 4, warp.params.begin() + 52);
    params.insert(params.end(), warp.params.begin() + 4 + 48 * planes, warp.params.end());
    std::vector<uint8_t> bytes = {0, 0, 0, 1};
    for (uint32_t v : {warp.id, warp.dngVersion, warp.flags, uint32_t(params.size())})
        bytes.insert(bytes.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    bytes.insert(bytes.end(), params.begin(), params.end());
    list3.Parse(bytes);
}

std::unique_ptr<dng::Image> MakePreview(int32_t w = 40, int32_t h = 27)
{
    auto img = std::make_unique<dng::Image>(w, h, 3, dng::PixelType::kUInt8);
    for (uint32_t p = 0; p < 3; ++p)
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                img->Row8(y, p)[x] = uint8_t(p * 80 + x * 3 + y);
    return img;
}

dng::WriteOptions Options(const std::string& sourcePath)
{
    dng::WriteOptions o;
    o.software = "Velloray 0.9.83";
    o.sourcePath = sourcePath;
    return o;
}

void Write(const fs::path& out, const Opened& src, const dng::Image& preview, const dng::WriteOptions& options)
{
    dng::WriteMonochromeDng(out.string(), *src.negative, src.info, preview,
                            {"Velloray", "Version 0.9.83 beta", "Default", 2}, options);
}

void Write(const fs::path& out, const Opened& src)
{
    Write(out, src, *MakePreview(), Options(src.path));
}

const dng::TiffTag* Tag(const dng::Info& info, size_t dir, uint16_t code)
{
    return info.Container().Images().at(dir).Find(code);
}

std::string RunCommand(const std::string& command)
{
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        while (size_t n = std::fread(buf, 1, sizeof buf, p))
            out.append(buf, n);
        ::pclose(p);
    }
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

bool HaveExiftool()
{
    static const bool have = !RunCommand("exiftool -ver 2>/dev/null").empty();
    return have;
}

// exiftool's judgement of the structure: empty when it has nothing to report.
std::string ExiftoolProblems(const fs::path& file)
{
    const std::string out = RunCommand("exiftool -validate -warning -error -a '" + file.string() + "' 2>&1");
    return out.find("Warning") == std::string::npos && out.find("Error") == std::string::npos &&
                   out.find(": OK") != std::string::npos
               ? ""
               : out;
}

int ErrorCode(const std::function<void()>& f)
{
    try {
        f();
    } catch (const dng::Error& e) {
        return e.Code();
    }
    return 0;
}

// Tags no monochrome output may carry: colour (IFD0), the source's digests, original file and
// preview date (IFD0), mosaic and linearization (raw directory).
constexpr uint16_t kIfd0Absent[] = {50721, 50722, 50723, 50724, 50725, 50726, 50727, 50728, 50729, 50778, 50779,
                                    50931, 50932, 50933, 50934, 50936, 50940, 50941, 50964, 50965, 50831, 50833,
                                    51111, 50828, 50973, 50971, 50969};
constexpr uint16_t kRawAbsent[] = {33421, 33422, 50710, 50711, 50712, 50733, 50737, 50738};

// ---------------------------------------------------------------------------------------------
// Samples: written, then read back by our reader, LibRaw and exiftool.

struct SampleCase {
    const char* file;
    uint8_t backwardMinor; // the output's DNGBackwardVersion is 1.x.0.0
};

class DngWriterSample : public testing::TestWithParam<SampleCase> {};

TEST_P(DngWriterSample, ReadsBackAsTheSameMonochromePlane)
{
    dng::Host host;
    auto src = Open(fixtures::SamplePath(GetParam().file), host);
    MakeMonochrome(*src->negative);
    const dng::Negative& n = *src->negative;
    TempDir dir;
    const fs::path out = dir / "out-M.dng";
    Write(out, *src);
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"out-M.dng"}); // no temporary left behind

    // Our reader: the same pixels and everything that describes them.
    auto back = Open(out.string(), host);
    ASSERT_TRUE(back->info.IsValidDNG()) << back->info.ValidityProblem();
    const dng::Negative& m = *back->negative;
    EXPECT_EQ(m.ColorChannels(), 1u);
    EXPECT_EQ(m.GetMosaicInfo(), nullptr);
    EXPECT_EQ(back->info.MainIndex(), 1);
    const dng::Image& a = *n.Stage1Image();
    const dng::Image& b = *m.Stage1Image();
    ASSERT_EQ(b.Width(), a.Width());
    ASSERT_EQ(b.Height(), a.Height());
    for (int32_t y = 0; y < a.Height(); ++y)
        ASSERT_EQ(std::memcmp(a.Row16(y), b.Row16(y), size_t(a.Width()) * 2), 0) << "row " << y;
    EXPECT_EQ(m.RawImageDigest(), dng::ComputeRawImageDigest(a));
    const dng::LinearizationInfo& la = *n.GetLinearizationInfo();
    const dng::LinearizationInfo& lb = *m.GetLinearizationInfo();
    EXPECT_EQ(lb.fActiveArea, la.fActiveArea);
    EXPECT_EQ(lb.fMaskedArea, la.fMaskedArea);
    EXPECT_EQ(lb.fBlackLevel[0][0][0], la.fBlackLevel[0][0][0]);
    EXPECT_EQ(lb.fWhiteLevel[0], la.fWhiteLevel[0]);
    EXPECT_EQ(m.DefaultCropOriginH(), n.DefaultCropOriginH());
    EXPECT_EQ(m.DefaultCropSizeV(), n.DefaultCropSizeV());
    EXPECT_EQ(m.BaselineExposure(), n.BaselineExposure());
    for (uint32_t list = 0; list < 3; ++list)
        EXPECT_EQ(m.GetOpcodeList(list).Bytes(), n.GetOpcodeList(list).Bytes()) << "opcode list " << list + 1;
    EXPECT_EQ(m.ModelName(), n.ModelName());
    EXPECT_EQ(m.CameraSerialNumber(), n.CameraSerialNumber());
    EXPECT_EQ(m.RawDataUniqueID(), std::optional(kNewId));
    EXPECT_EQ(m.Exif().dateTimeOriginal, n.Exif().dateTimeOriginal);
    EXPECT_EQ(m.Exif().exposureTime, n.Exif().exposureTime);
    EXPECT_EQ(m.Exif().software, "Velloray 0.9.83");
    EXPECT_EQ(back->info.Shared().dngVersion, (std::array<uint8_t, 4>{1, 4, 0, 0}));
    EXPECT_EQ(back->info.Shared().dngBackwardVersion, (std::array<uint8_t, 4>{1, GetParam().backwardMinor, 0, 0}));
    for (uint16_t code : kIfd0Absent)
        EXPECT_EQ(Tag(back->info, 0, code), nullptr) << "IFD0 tag " << code;
    for (uint16_t code : kRawAbsent)
        EXPECT_EQ(Tag(back->info, 1, code), nullptr) << "raw tag " << code;
    EXPECT_EQ(back->info.Container().Exif()->Find(41730), nullptr);

    // The preview and its description.
    const dng::IfdInfo& p = back->info.Ifds().at(0);
    EXPECT_EQ(p.newSubFileType, 1u);
    EXPECT_EQ(p.samplesPerPixel, 3u);
    EXPECT_EQ(Tag(back->info, 0, 50966)->AsString(), "Velloray");
    EXPECT_EQ(Tag(back->info, 0, 50967)->AsString(), "Version 0.9.83 beta");
    EXPECT_EQ(Tag(back->info, 0, 50968)->AsString(), "Default");
    EXPECT_EQ(Tag(back->info, 0, 50970)->AsUnsigned(0), 2u);
    const std::vector<uint8_t> file = ReadAll(out);
    ASSERT_EQ(p.tileByteCounts.at(0), 40u * 27 * 3);
    EXPECT_EQ(file.at(p.tileOffsets[0] + (5 * 40 + 7) * 3 + 2), MakePreview()->Row8(5, 2)[7]);

    // LibRaw: one LinearRaw plane of the same values.
    auto raw = std::make_unique<LibRaw>();
    ASSERT_EQ(raw->open_file(out.c_str()), LIBRAW_SUCCESS);
    ASSERT_EQ(raw->unpack(), LIBRAW_SUCCESS);
    EXPECT_EQ(raw->imgdata.idata.colors, 1);
    EXPECT_EQ(raw->imgdata.idata.filters, 0u);
    EXPECT_EQ(raw->imgdata.color.maximum, unsigned(la.fWhiteLevel[0]));
    ASSERT_EQ(raw->imgdata.sizes.raw_width, a.Width());
    ASSERT_EQ(raw->imgdata.sizes.raw_height, a.Height());
    ASSERT_NE(raw->imgdata.rawdata.raw_image, nullptr);
    const size_t pitch = raw->imgdata.sizes.raw_pitch / 2;
    long mismatches = 0;
    for (int32_t y = 0; y < a.Height(); ++y)
        for (int32_t x = 0; x < a.Width(); ++x)
            mismatches += a.Row16(y)[x] != raw->imgdata.rawdata.raw_image[size_t(y) * pitch + size_t(x)];
    EXPECT_EQ(mismatches, 0);

    // exiftool: a sound structure, and a packet that agrees with the tags.
    if (!HaveExiftool())
        return;
    EXPECT_EQ(ExiftoolProblems(out), "");
    auto value = [&](const std::string& tag) { return RunCommand("exiftool -s3 -n -" + tag + " '" + out.string() + "'"); };
    EXPECT_EQ(value("XMP-tiff:Orientation"), value("IFD0:Orientation"));
    EXPECT_EQ(value("XMP-aux:SerialNumber"), n.Exif().cameraSerialNumber);
    EXPECT_EQ(value("XMP-exif:ISO"), std::to_string(n.Exif().isoSpeed));
    EXPECT_EQ(value("XMP-exif:DateTimeOriginal"), n.Exif().dateTimeOriginal);
    EXPECT_EQ(value("XMP-xmp:CreatorTool"), "Velloray 0.9.83");
}

const SampleCase kSamples[] = {
    {"m9-16bit-rggb.dng", 1},
    {"d200-grbg.dng", 1},
    {"5d3-2400x1600.dng", 1}, // masked areas, black 2048, lossless-JPEG source
    {"leica-t-warp.dng", 3},  // a non-optional WarpRectilinear in OpcodeList3
};

INSTANTIATE_TEST_SUITE_P(DngWriter, DngWriterSample, testing::ValuesIn(kSamples),
                         [](const testing::TestParamInfo<SampleCase>& info) {
                             std::string n = info.param.file;
                             std::replace_if(n.begin(), n.end(), [](char ch) { return !isalnum(static_cast<unsigned char>(ch)); }, '_');
                             return n;
                         });

// ---------------------------------------------------------------------------------------------
// Synthetic sources: exact values, byte orders, which metadata is carried.

TEST(DngWriter, KeepsFractionalLevelsAndCropExactlyInEitherByteOrder)
{
    for (dng::ByteOrder order : {dng::ByteOrder::kLittle, dng::ByteOrder::kBig}) {
        SCOPED_TRACE(order == dng::ByteOrder::kBig ? "big-endian" : "little-endian");
        fixtures::DngSpec recipe;
        recipe.order = order;
        recipe.uniqueCameraModel = "Velloray Synth Two (Mk. II) / \"quoted\", tabs\tand 100% text, caf\xc3\xa9";
        recipe.width = 80;
        recipe.height = 60;
        recipe.activeArea = dng::Rect(4, 8, 60, 80);
        recipe.maskedAreas = {dng::Rect(0, 0, 4, 80), dng::Rect(4, 0, 60, 8)};
        recipe.blackRepeatRows = recipe.blackRepeatCols = 2;
        recipe.blackLevel = {{4095, 2}, {2048, 1}, {2049, 1}, {8191, 4}};
        recipe.blackLevelRational = true;
        recipe.blackLevelDeltaH.assign(72, dng::SRational(-3, 4));
        recipe.blackLevelDeltaV.assign(56, dng::SRational(1, 8));
        recipe.defaultCropOrigin = {{{5, 2}, {3, 1}}};
        recipe.defaultCropSize = {{{131, 2}, {50, 1}}};
        recipe.defaultScale = {{{2, 1}, {1, 1}}};
        recipe.bestQualityScale = dng::URational(3, 2);
        recipe.orientation = 6;
        recipe.opcodeList3 = fixtures::WarpRectilinearSpec{};
        recipe.opcodeList3->optional = true;
        fixtures::TempFile source(fixtures::MakeDng(recipe).bytes);
        dng::Host host;
        auto src = Open(source.PathString(), host);
        MakeMonochrome(*src->negative);
        TempDir dir;
        Write(dir / "synthetic.dng", *src);

        auto back = Open((dir / "synthetic.dng").string(), host);
        ASSERT_TRUE(back->info.IsValidDNG()) << back->info.ValidityProblem();
        EXPECT_EQ(back->info.Container().Order(), order);
        const dng::IfdInfo& raw = back->info.MainIfd();
        EXPECT_EQ(raw.blackLevel[0][0][0], dng::URational(4095, 2));
        EXPECT_EQ(raw.blackLevel[1][1][0], dng::URational(8191, 4));
        EXPECT_EQ(raw.blackLevelDeltaH.at(71), dng::SRational(-3, 4));
        EXPECT_EQ(raw.blackLevelDeltaV.at(55), dng::SRational(1, 8));
        EXPECT_EQ(raw.maskedAreas, recipe.maskedAreas);
        EXPECT_EQ(raw.defaultCropOriginH, dng::URational(5, 2));
        EXPECT_EQ(raw.defaultCropSizeH, dng::URational(131, 2));
        EXPECT_EQ(raw.defaultScaleH, dng::URational(2, 1));
        EXPECT_EQ(raw.bestQualityScale, dng::URational(3, 2));
        EXPECT_EQ(back->negative->Orientation(), 6u);
        EXPECT_EQ(back->negative->ModelName(), recipe.uniqueCameraModel);
        // An optional opcode leaves the reader version alone.
        EXPECT_EQ(back->info.Shared().dngBackwardVersion, (std::array<uint8_t, 4>{1, 1, 0, 0}));
        EXPECT_EQ(back->negative->Exif().exposureTime, dng::URational(1, 250)); // copied, swapped right
        for (int32_t y = 0; y < 60; ++y)
            ASSERT_EQ(std::memcmp(back->negative->Stage1Image()->Row16(y), src->negative->Stage1Image()->Row16(y), 160), 0);
        if (HaveExiftool()) {
            EXPECT_EQ(ExiftoolProblems(dir / "synthetic.dng"), "");
        }
    }
}

// A small colour DNG built tag by tag, with the metadata whose handling matters.
std::vector<uint8_t> SourceWithMetadata(uint16_t makerNoteSafety)
{
    dng::TiffWriter w(dng::ByteOrder::kLittle);
    const auto ifd0 = w.Ifd0();
    w.SetByte(ifd0, dng::kTagDNGVersion, std::vector<uint8_t>{1, 4, 0, 0});
    w.SetAscii(ifd0, dng::kTagUniqueCameraModel, "Velloray Test Body");
    w.SetAscii(ifd0, dng::kTagMake, "Velloray");
    w.SetAscii(ifd0, dng::kTagCopyright, std::string_view("Me\0Editor", 9)); // photographer, editor
    w.SetShort(ifd0, dng::kTagMakerNoteSafety, makerNoteSafety);
    w.SetByte(ifd0, 50740, std::vector<uint8_t>{'A', 'd', 'o', 'b', 'e', 0, 'M', 'a', 'k', 'N', 0, 0, 0, 2, 'I', 'I'});
    const dng::URational lens[4] = {{24, 1}, {70, 1}, {28, 10}, {28, 10}};
    w.SetRational(ifd0, 50736, lens);
    w.SetSRational(ifd0, dng::kTagColorMatrix1, std::vector<dng::SRational>(9, {1, 1}));
    w.SetRational(ifd0, dng::kTagAsShotNeutral, std::vector<dng::URational>(3, {1, 2}));
    w.SetByte(ifd0, dng::kTagRawImageDigest, std::vector<uint8_t>(16, 1));
    w.SetByte(ifd0, dng::kTagNewRawImageDigest, std::vector<uint8_t>(16, 2));
    w.SetByte(ifd0, dng::kTagXMP, std::vector<uint8_t>{'<', 'x', '/', '>'});
    const auto exif = w.ExifIfd();
    w.SetRational(exif, dng::kTagExposureTime, dng::URational(1, 60));
    w.SetUndefined(exif, 41730, std::vector<uint8_t>{2, 0, 2, 0, 0, 1, 1, 2}); // CFAPattern
    w.SetUndefined(exif, 37500, std::vector<uint8_t>(12, 'N'));               // MakerNote
    const auto gps = w.GpsIfd();
    w.SetByte(gps, 0, std::vector<uint8_t>{2, 3, 0, 0});
    w.SetAscii(gps, 1, "N");
    const auto raw = w.AddSubIfd(ifd0);
    w.SetLong(raw, dng::kTagNewSubFileType, 0u);
    w.SetLong(raw, dng::kTagImageWidth, 16u);
    w.SetLong(raw, dng::kTagImageLength, 8u);
    w.SetShort(raw, dng::kTagBitsPerSample, uint16_t(16));
    w.SetShort(raw, dng::kTagPhotometric, uint16_t(dng::kPhotometricCFA));
    w.SetLong(raw, dng::kTagRowsPerStrip, 8u);
    w.SetShort(raw, dng::kTagCFARepeatPatternDim, std::vector<uint16_t>{2, 2});
    w.SetByte(raw, dng::kTagCFAPattern, std::vector<uint8_t>{0, 1, 1, 2});
    w.SetShort(raw, dng::kTagLinearizationTable, std::vector<uint16_t>{0, 100, 200});
    w.SetStrips(raw, {std::vector<uint8_t>(16 * 8 * 2, 3)});
    return w.Finish();
}

TEST(DngWriter, CarriesIdentityExifAndGpsButNotColourCfaOrUnsafeMakerNote)
{
    for (uint16_t safety : {0, 1}) {
        SCOPED_TRACE("MakerNoteSafety " + std::to_string(safety));
        fixtures::TempFile source(SourceWithMetadata(safety));
        dng::Host host;
        auto src = Open(source.PathString(), host);
        MakeMonochrome(*src->negative);
        TempDir dir;
        Write(dir / "meta.dng", *src);
        auto back = Open((dir / "meta.dng").string(), host);
        ASSERT_TRUE(back->info.IsValidDNG()) << back->info.ValidityProblem();

        for (uint16_t code : {uint16_t(dng::kTagMake), uint16_t(dng::kTagCopyright), uint16_t(50736), uint16_t(50740),
                              uint16_t(dng::kTagMakerNoteSafety)}) {
            const dng::TiffTag* b = Tag(back->info, 0, code);
            ASSERT_NE(b, nullptr) << code;
            EXPECT_EQ(b->type, Tag(src->info, 0, code)->type) << code;
            EXPECT_EQ(b->bytes, Tag(src->info, 0, code)->bytes) << code;
        }
        for (uint16_t code : {dng::kTagColorMatrix1, dng::kTagAsShotNeutral, dng::kTagNewRawImageDigest})
            EXPECT_EQ(Tag(back->info, 0, code), nullptr) << code;
        EXPECT_EQ(Tag(back->info, 1, dng::kTagLinearizationTable), nullptr);
        EXPECT_EQ(back->negative->RawImageDigest(), dng::ComputeRawImageDigest(*src->negative->Stage1Image()));
        EXPECT_NE(back->info.Shared().xmp, src->info.Shared().xmp);

        const dng::TiffDirectory* exif = back->info.Container().Exif();
        ASSERT_NE(exif, nullptr);
        EXPECT_NE(exif->Find(dng::kTagExposureTime), nullptr);
        EXPECT_EQ(exif->Find(41730), nullptr);
        EXPECT_EQ(exif->Find(37500) != nullptr, safety == 1);
        ASSERT_NE(back->info.Container().Gps(), nullptr);
        EXPECT_EQ(back->info.Container().Gps()->tags.size(), 2u);
    }
}

// ---------------------------------------------------------------------------------------------
// Refusals and failures: a clear error, and nothing lost.

struct WriteCase {
    dng::Host host;
    fixtures::TempFile source{fixtures::MakeDng(fixtures::DngSpec{}).bytes};
    std::unique_ptr<Opened> src = Open(source.PathString(), host);
    std::unique_ptr<dng::Image> preview = MakePreview();

    WriteCase() { MakeMonochrome(*src->negative); }
    void Write(const fs::path& out) const { ::Write(out, *src, *preview, Options(source.PathString())); }
};

TEST(DngWriter, NeverWritesOverTheSource)
{
    WriteCase s;
    const std::vector<uint8_t> before = ReadAll(s.source.Path());
    TempDir dir;
    fs::create_symlink(s.source.Path(), dir / "link.dng");
    fs::create_hard_link(s.source.Path(), dir / "hard.dng");
    const fs::path dotted = s.source.Path().parent_path() / "." / s.source.FileName();
    for (const fs::path& target : {s.source.Path(), dotted, dir / "link.dng", dir / "hard.dng"})
        EXPECT_EQ(ErrorCode([&] { s.Write(target); }), dng::kErrorWriteFile) << target;
    EXPECT_EQ(ReadAll(s.source.Path()), before);
    EXPECT_TRUE(fs::is_symlink(dir / "link.dng"));
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"hard.dng", "link.dng"}));
    // A writer that is not told the source refuses too.
    EXPECT_EQ(ErrorCode([&] { ::Write(dir / "x.dng", *s.src, *s.preview, Options("")); }), dng::kErrorWriteFile);
}

TEST(DngWriter, RefusesWhatCannotBeWrittenAsOneMonochromePlane)
{
    TempDir dir;
    const fs::path out = dir / "out.dng";
    std::ofstream(out) << "old";
    auto expectRefused = [&](const char* what, const std::function<void(WriteCase&)>& spoil) {
        WriteCase s;
        spoil(s);
        EXPECT_EQ(ErrorCode([&] { s.Write(out); }), dng::kErrorBadFormat) << what;
        EXPECT_EQ(ReadAll(out), (std::vector<uint8_t>{'o', 'l', 'd'})) << what;
        EXPECT_EQ(dir.Files(), std::vector<std::string>{"out.dng"}) << what;
    };
    expectRefused("colour negative", [](WriteCase& s) { s.src->negative->SetColorChannels(3); });
    expectRefused("mosaic kept", [](WriteCase& s) {
        s.src = Open(s.source.PathString(), s.host);
        s.src->negative->SetColorChannels(1);
    });
    expectRefused("8-bit raw", [](WriteCase& s) {
        s.src->negative->SetStage1(std::make_unique<dng::Image>(64, 48, 1, dng::PixelType::kUInt8));
    });
    expectRefused("raw smaller than its active area", [](WriteCase& s) {
        s.src->negative->SetStage1(std::make_unique<dng::Image>(32, 48, 1, dng::PixelType::kUInt16));
    });
    expectRefused("crop outside the active area", [](WriteCase& s) {
        s.src->negative->SetDefaultCropOrigin(dng::URational(10, 1), dng::URational(0, 1));
        s.src->negative->SetDefaultCropSize(dng::URational(60, 1), dng::URational(48, 1));
    });
    expectRefused("masked area over the image",
                  [](WriteCase& s) { s.src->negative->GetLinearizationInfo()->fMaskedArea = {dng::Rect(0, 0, 4, 64)}; });
    expectRefused("orientation 9", [](WriteCase& s) { s.src->negative->SetOrientation(9); });
    expectRefused("grey preview",
                  [](WriteCase& s) { s.preview = std::make_unique<dng::Image>(8, 8, 1, dng::PixelType::kUInt8); });
}

TEST(DngWriter, ReplacesAnExistingFileWholeOrNotAtAll)
{
    WriteCase s;
    TempDir dir;
    const fs::path out = dir / "out.dng";
    std::ofstream(out) << "old";
    fs::permissions(out, fs::perms::owner_read | fs::perms::group_read);

    // A write that fails half-way: the file size limit stands in for a full disk.
    struct sigaction ignore{}, previous{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previous);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const int code = ErrorCode([&] { s.Write(out); });
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_EQ(code, dng::kErrorWriteFile);
    EXPECT_EQ(ReadAll(out), (std::vector<uint8_t>{'o', 'l', 'd'}));

    // Targets that cannot be written: a folder of that name, a missing folder.
    fs::create_directory(dir / "folder.dng");
    EXPECT_EQ(ErrorCode([&] { s.Write(dir / "folder.dng"); }), dng::kErrorWriteFile);
    EXPECT_EQ(ErrorCode([&] { s.Write(dir / "missing" / "out.dng"); }), dng::kErrorWriteFile);
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"folder.dng", "out.dng"}));

    // A sound write replaces the file and keeps its permissions.
    s.Write(out);
    EXPECT_TRUE(Open(out.string(), s.host)->info.IsValidDNG());
    EXPECT_EQ(fs::status(out).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::group_read);
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"folder.dng", "out.dng"}));
}

// ---------------------------------------------------------------------------------------------
// The XMP packet.

TEST(XmpPacket, HoldsTheNegativesCaptureFieldsAndNotTheSourcePacket)
{
    fixtures::DngSpec recipe;
    recipe.orientation = 8;
    recipe.xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
                 "<rdf:Description xmlns:crs='http://ns.adobe.com/camera-raw-settings/1.0/' crs:Temperature='5000'/>"
                 "</rdf:RDF></x:xmpmeta>";
    fixtures::TempFile source(fixtures::MakeDng(recipe).bytes);
    dng::Host host;
    auto src = Open(source.PathString(), host);
    const std::vector<uint8_t> bytes = dng::MakeOutputXmp(*src->negative, "Velloray 0.9.83", 1700000000);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()).find("camera-raw-settings"), std::string::npos);
    const dng::XmpPacket x = dng::XmpPacket::Parse(bytes);
    EXPECT_EQ(x.Get(dng::kXmpNsTiff, "Make"), "Velloray");
    EXPECT_EQ(x.Get(dng::kXmpNsTiff, "Model"), "Synth One");
    EXPECT_EQ(x.Get(dng::kXmpNsTiff, "Orientation"), "8");
    EXPECT_EQ(x.Get(dng::kXmpNsExif, "DateTimeOriginal"), "2024-05-17T10:31:07");
    EXPECT_EQ(x.Get(dng::kXmpNsExif, "ExposureTime"), "1/250");
    EXPECT_EQ(x.Get(dng::kXmpNsExif, "FNumber"), "28/10");
    EXPECT_EQ(x.GetItem(dng::kXmpNsExif, "ISOSpeedRatings", 1), "200");
    EXPECT_EQ(x.Get(dng::kXmpNsAux, "SerialNumber"), "BSN-0042");
    EXPECT_EQ(x.Get(dng::kXmpNsXmp, "CreatorTool"), "Velloray 0.9.83");
    EXPECT_EQ(x.Get(dng::kXmpNsXmp, "ModifyDate"), dng::XmpLocalDate(1700000000));

    // What a negative does not know is left out.
    const dng::XmpPacket y = dng::XmpPacket::Parse(dng::MakeOutputXmp(dng::Negative(), "", 0));
    EXPECT_EQ(y.Get(dng::kXmpNsTiff, "Orientation"), "1");
    for (const char* name : {"DateTimeOriginal", "ExposureTime", "FNumber", "ISOSpeedRatings"})
        EXPECT_FALSE(y.Get(dng::kXmpNsExif, name).has_value()) << name;
    EXPECT_FALSE(y.Get(dng::kXmpNsTiff, "Make").has_value());
    EXPECT_FALSE(y.Get(dng::kXmpNsXmp, "CreatorTool").has_value());
}

TEST(XmpPacket, DatesAndTextAreMadeFitForXmp)
{
    EXPECT_EQ(dng::ExifDateToXmp("2014:06:21 20:41:07"), "2014-06-21T20:41:07");
    EXPECT_EQ(dng::ExifDateToXmp(std::string_view("2014:06:21 20:41:07 \0", 21)), "2014-06-21T20:41:07");
    for (const char* bad : {"", "0000:00:00 00:00:00", "    :  :     :  :  ", "2014:13:01 00:00:00",
                            "2014-06-21 20:41:07", "2014:06:21 20:41", "2014:06:21 24:00:00", "2014:0a:21 20:41:07"})
        EXPECT_FALSE(dng::ExifDateToXmp(bad).has_value()) << bad;

    EXPECT_EQ(dng::CleanXmpText("Leica Camera AG   "), "Leica Camera AG");
    EXPECT_EQ(dng::CleanXmpText("caf\xc3\xa9"), "caf\xc3\xa9");   // UTF-8 kept
    EXPECT_EQ(dng::CleanXmpText("caf\xe9"), "caf\xc3\xa9");       // Latin-1 made UTF-8
    EXPECT_EQ(dng::CleanXmpText("a\x01" "b\tc\x7f"), "abc");      // controls dropped
    EXPECT_EQ(dng::CleanXmpText("\xed\xa0\x80x"), "\xc3\xad\xc2\xa0x"); // a surrogate is no UTF-8
}

} // namespace
