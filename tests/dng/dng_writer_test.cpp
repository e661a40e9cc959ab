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
#include "dng/warp_rectilinear.h"
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
#include <tuple>
#include <iterator>
#include <optional>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A temporary folder, removed with all it holds.
struct TempDir {
    fs::path path = [] {
        std::string pattern = (fs::temp_directory_path() / "velloray-writer-XXXXXX").string();
        return fs::path(::mkdtemp(pattern.data()) ? pattern : throw std::runtime_error("no temporary folder"));
    }();
    ~TempDir() { fs::remove_all(path); }
    fs::path operator/(const std::string& name) const { return path / name; }
    std::vector<std::string> Files() const { return fixtures::SortedFileNames(path); }
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
std::unique_ptr<Opened> OpenMonochrome(const std::string& path, dng::Host& host)
{
    auto o = Open(path, host);
    dng::Negative& n = *o->negative;
    n.ClearMosaicInfo();
    n.SetColorChannels(1);
    n.SetRawDataUniqueID(kNewId);
    if (dng::OpcodeList& list3 = n.GetOpcodeList(2); !list3.IsEmpty())
        list3.SetOpcodes({dng::RewriteForOnePlane(list3.Opcodes().front())});
    return o;
}

std::unique_ptr<dng::Image> MakePreview(int32_t w = 40, int32_t h = 27)
{
    auto img = std::make_unique<dng::Image>(w, h, 3, dng::PixelType::kUInt8);
    for (size_t i = 0; i < img->PlaneBytes() * 3; ++i)
        img->Data()[i] = uint8_t(i * 7 + i / 40);
    return img;
}

void Write(const fs::path& out, const Opened& src, const dng::Image& preview, const std::string& sourcePath)
{
    dng::WriteOptions o;
    o.software = "Velloray 0.9.83";
    o.sourcePath = sourcePath;
    dng::WriteMonochromeDng(out.string(), *src.negative, src.info, preview, {"Velloray", "Version 0.9.83 beta", "Default", 2}, o);
}
void Write(const fs::path& out, const Opened& src) { Write(out, src, *MakePreview(), src.path); }

const dng::TiffTag* Tag(const dng::Info& info, size_t dir, uint16_t code) { return info.Container().Images().at(dir).Find(code); }

std::string Shell(const std::string& command)
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

// exiftool's judgement of the structure: empty when it has nothing to report.
std::string ExiftoolProblems(const fs::path& file)
{
    const std::string out = Shell("exiftool -validate -warning -error -a '" + file.string() + "' 2>&1");
    const bool ok = out.find("Warning") == std::string::npos && out.find("Error") == std::string::npos && out.find(": OK") != std::string::npos;
    return ok ? "" : out;
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

// Samples and synthetic files with fractional levels and crop in either byte order: written, then
// read back by our reader, LibRaw and exiftool.

std::vector<uint8_t> Synthetic(dng::ByteOrder order)
{
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
    recipe.opcodeList3->optional = true; // leaves the reader version alone
    return fixtures::MakeDng(recipe).bytes;
}

struct WriterCase {
    const char* source;    // a sample, or "little"/"big" for the synthetic file
    uint8_t backwardMinor; // the output's DNGBackwardVersion is 1.x.0.0
};

class DngWriterReadBack : public testing::TestWithParam<WriterCase> {};

TEST_P(DngWriterReadBack, AsTheSameMonochromePlaneAndDescription)
{
    const std::string name = GetParam().source;
    const bool synthetic = name == "little" || name == "big";
    fixtures::TempFile temp(synthetic ? Synthetic(name == "big" ? dng::ByteOrder::kBig : dng::ByteOrder::kLittle) : std::vector<uint8_t>{});
    dng::Host host;
    auto src = OpenMonochrome(synthetic ? temp.PathString() : fixtures::SamplePath(name), host);
    const dng::Negative& n = *src->negative;
    TempDir dir;
    const fs::path out = dir / "out-M.dng";
    Write(out, *src);
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"out-M.dng"}); // no temporary left behind

    // Our reader: the same pixels, exactly the same levels, areas, crop and scale, the same identity.
    auto back = Open(out.string(), host);
    ASSERT_TRUE(back->info.IsValidDNG()) << back->info.ValidityProblem();
    EXPECT_EQ(back->info.Container().Order(), src->info.Container().Order());
    const dng::Negative& m = *back->negative;
    const dng::Image& a = *n.Stage1Image();
    EXPECT_TRUE(m.ColorChannels() == 1 && m.GetMosaicInfo() == nullptr && back->info.MainIndex() == 1);
    ASSERT_TRUE(m.Stage1Image()->Width() == a.Width() && m.Stage1Image()->Height() == a.Height());
    EXPECT_EQ(std::memcmp(a.Data(), m.Stage1Image()->Data(), a.PlaneBytes()), 0); // one packed plane
    EXPECT_EQ(m.RawImageDigest(), dng::ComputeRawImageDigest(a));
    const dng::IfdInfo &ra = src->info.MainIfd(), &rb = back->info.MainIfd();
    const dng::LinearizationInfo &la = *n.GetLinearizationInfo(), &lb = *m.GetLinearizationInfo();
    EXPECT_EQ(std::pair(lb.fBlackLevel[0][0][0], lb.fWhiteLevel[0]), std::pair(la.fBlackLevel[0][0][0], la.fWhiteLevel[0]));
    EXPECT_TRUE(!synthetic || std::tie(rb.blackLevelRepeatRows, rb.blackLevel, rb.blackLevelDeltaH, rb.blackLevelDeltaV) ==
                                  std::tie(ra.blackLevelRepeatRows, ra.blackLevel, ra.blackLevelDeltaH, ra.blackLevelDeltaV));
    EXPECT_TRUE(rb.activeArea == ra.activeArea && rb.maskedAreas == ra.maskedAreas);
    EXPECT_TRUE(std::tie(rb.defaultCropOriginH, rb.defaultCropOriginV, rb.defaultCropSizeH, rb.defaultCropSizeV, rb.defaultScaleH, rb.bestQualityScale) ==
                std::tie(ra.defaultCropOriginH, ra.defaultCropOriginV, ra.defaultCropSizeH, ra.defaultCropSizeV, ra.defaultScaleH, ra.bestQualityScale));
    EXPECT_EQ(std::pair(m.BaselineExposure(), m.Orientation()), std::pair(n.BaselineExposure(), n.Orientation()));
    for (uint32_t list = 0; list < 3; ++list)
        EXPECT_EQ(m.GetOpcodeList(list).Bytes(), n.GetOpcodeList(list).Bytes()) << "opcode list " << list + 1;
    EXPECT_EQ(std::pair(m.ModelName(), m.CameraSerialNumber()), std::pair(n.ModelName(), n.CameraSerialNumber()));
    EXPECT_EQ(m.RawDataUniqueID(), std::optional(kNewId));
    EXPECT_EQ(std::pair(m.Exif().dateTimeOriginal, m.Exif().exposureTime), std::pair(n.Exif().dateTimeOriginal, n.Exif().exposureTime));
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
    EXPECT_EQ(std::pair(p.newSubFileType, p.samplesPerPixel), std::pair(1u, 3u));
    for (auto [code, text] : {std::pair{50966, "Velloray"}, {50967, "Version 0.9.83 beta"}, {50968, "Default"}})
        EXPECT_EQ(Tag(back->info, 0, uint16_t(code))->AsString(), text);
    EXPECT_EQ(Tag(back->info, 0, 50970)->AsUnsigned(0), 2u);
    ASSERT_EQ(p.tileByteCounts.at(0), 40u * 27 * 3);
    EXPECT_EQ(ReadAll(out).at(p.tileOffsets[0] + (5 * 40 + 7) * 3 + 2), MakePreview()->Row8(5, 2)[7]); // interleaved

    // LibRaw: one LinearRaw plane of the same values.
    auto raw = std::make_unique<LibRaw>();
    ASSERT_EQ(raw->open_file(out.c_str()), LIBRAW_SUCCESS);
    ASSERT_EQ(raw->unpack(), LIBRAW_SUCCESS);
    EXPECT_EQ(std::tuple(raw->imgdata.idata.colors, raw->imgdata.idata.filters, raw->imgdata.color.maximum), std::tuple(1, 0u, unsigned(la.fWhiteLevel[0])));
    ASSERT_TRUE(raw->imgdata.sizes.raw_width == a.Width() && raw->imgdata.sizes.raw_height == a.Height() && raw->imgdata.rawdata.raw_image);
    long mismatches = 0;
    for (int32_t y = 0; y < a.Height(); ++y)
        for (int32_t x = 0; x < a.Width(); ++x)
            mismatches += a.Row16(y)[x] != raw->imgdata.rawdata.raw_image[size_t(y) * raw->imgdata.sizes.raw_pitch / 2 + size_t(x)];
    EXPECT_EQ(mismatches, 0);

    // exiftool: a sound structure, and a packet that agrees with the tags.
    if (Shell("exiftool -ver 2>/dev/null").empty())
        return;
    EXPECT_EQ(ExiftoolProblems(out), "");
    auto value = [&](const std::string& tag) { return Shell("exiftool -s3 -n -" + tag + " '" + out.string() + "'"); };
    EXPECT_EQ(value("XMP-tiff:Orientation"), value("IFD0:Orientation"));
    EXPECT_EQ(value("XMP-aux:SerialNumber"), n.Exif().cameraSerialNumber);
    EXPECT_EQ(value("XMP-exif:ISO"), std::to_string(n.Exif().isoSpeed));
    EXPECT_EQ(value("XMP-exif:DateTimeOriginal"), n.Exif().dateTimeOriginal);
    EXPECT_EQ(value("XMP-xmp:CreatorTool"), "Velloray 0.9.83");
}

// 5D3: masked areas, black 2048, a lossless-JPEG source; Leica T: a non-optional WarpRectilinear.
INSTANTIATE_TEST_SUITE_P(DngWriter, DngWriterReadBack,
                         testing::Values(WriterCase{"m9-16bit-rggb.dng", 1}, WriterCase{"d200-grbg.dng", 1}, WriterCase{"5d3-2400x1600.dng", 1},
                                         WriterCase{"leica-t-warp.dng", 3}, WriterCase{"little", 1}, WriterCase{"big", 1}),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

// ---------------------------------------------------------------------------------------------
// Which metadata is carried.

TEST(DngWriter, CarriesIdentityExifAndGpsButNotColourCfaOrUnsafeMakerNote)
{
    for (uint16_t safety : {0, 1}) {
        SCOPED_TRACE("MakerNoteSafety " + std::to_string(safety));
        // A small colour DNG built tag by tag, with the metadata whose handling matters (the colour and
        // digest tags every source has are covered by the read-back test).
        dng::TiffWriter w(dng::ByteOrder::kLittle);
        const auto ifd0 = w.Ifd0(), exif = w.ExifIfd(), gps = w.GpsIfd(), raw = w.AddSubIfd(ifd0);
        w.SetByte(ifd0, dng::kTagDNGVersion, std::vector<uint8_t>{1, 4, 0, 0});
        w.SetAscii(ifd0, dng::kTagUniqueCameraModel, "Velloray Test Body");
        w.SetAscii(ifd0, dng::kTagMake, "Velloray");
        w.SetAscii(ifd0, dng::kTagCopyright, std::string_view("Me\0Editor", 9)); // photographer, editor
        w.SetShort(ifd0, dng::kTagMakerNoteSafety, safety);
        w.SetByte(ifd0, 50740, std::vector<uint8_t>{'A', 'd', 'o', 'b', 'e', 0, 'M', 'a', 'k', 'N', 0, 0, 0, 2, 'I', 'I'});
        w.SetRational(ifd0, 50736, std::vector<dng::URational>{{24, 1}, {70, 1}, {28, 10}, {28, 10}});
        w.SetByte(ifd0, dng::kTagXMP, std::vector<uint8_t>{'<', 'x', '/', '>'});
        w.SetRational(exif, dng::kTagExposureTime, dng::URational(1, 60));
        w.SetUndefined(exif, 37500, std::vector<uint8_t>(12, 'N'));               // MakerNote
        w.SetByte(gps, 0, std::vector<uint8_t>{2, 3, 0, 0});
        w.SetAscii(gps, 1, "N");
        for (auto [tag, value] : {std::pair{dng::kTagNewSubFileType, 0u}, {dng::kTagImageWidth, 16u}, {dng::kTagImageLength, 8u}, {dng::kTagRowsPerStrip, 8u}})
            w.SetLong(raw, tag, value);
        w.SetShort(raw, dng::kTagBitsPerSample, uint16_t(16));
        w.SetShort(raw, dng::kTagPhotometric, uint16_t(dng::kPhotometricCFA));
        w.SetShort(raw, dng::kTagCFARepeatPatternDim, std::vector<uint16_t>{2, 2});
        w.SetByte(raw, dng::kTagCFAPattern, std::vector<uint8_t>{0, 1, 1, 2});
        w.SetStrips(raw, {std::vector<uint8_t>(16 * 8 * 2, 3)});
        fixtures::TempFile source(w.Finish());
        dng::Host host;
        auto src = OpenMonochrome(source.PathString(), host);
        TempDir dir;
        Write(dir / "meta.dng", *src);
        auto back = Open((dir / "meta.dng").string(), host);
        ASSERT_TRUE(back->info.IsValidDNG()) << back->info.ValidityProblem();

        for (uint16_t code : {uint16_t(dng::kTagMake), uint16_t(dng::kTagCopyright), uint16_t(50736), uint16_t(50740), uint16_t(dng::kTagMakerNoteSafety)}) {
            ASSERT_NE(Tag(back->info, 0, code), nullptr) << code;
            EXPECT_EQ(std::pair(Tag(back->info, 0, code)->type, Tag(back->info, 0, code)->bytes), std::pair(Tag(src->info, 0, code)->type, Tag(src->info, 0, code)->bytes)) << code;
        }
        EXPECT_NE(back->info.Shared().xmp, src->info.Shared().xmp);
        const dng::TiffDirectory* backExif = back->info.Container().Exif();
        ASSERT_NE(backExif, nullptr);
        EXPECT_NE(backExif->Find(dng::kTagExposureTime), nullptr);
        EXPECT_EQ(backExif->Find(37500) != nullptr, safety == 1);
        ASSERT_NE(back->info.Container().Gps(), nullptr);
        EXPECT_EQ(back->info.Container().Gps()->tags.size(), 2u);
    }
}

// ---------------------------------------------------------------------------------------------
// Refusals and failures: a clear error, and nothing lost.

struct WriteCase {
    dng::Host host;
    fixtures::TempFile source{fixtures::MakeDng(fixtures::DngSpec{}).bytes};
    std::unique_ptr<Opened> src = OpenMonochrome(source.PathString(), host);
    std::unique_ptr<dng::Image> preview = MakePreview();
    void Write(const fs::path& out) const { ::Write(out, *src, *preview, source.PathString()); }
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
    EXPECT_EQ(ErrorCode([&] { ::Write(dir / "x.dng", *s.src, *s.preview, ""); }), dng::kErrorWriteFile);
}

TEST(DngWriter, RefusesWhatCannotBeWrittenAsOneMonochromePlaneAndLeavesTheTargetAlone)
{
    TempDir dir;
    const fs::path out = dir / "out.dng";
    std::ofstream(out) << "old";
    const std::pair<const char*, std::function<void(WriteCase&)>> spoils[] = {
        {"colour negative", [](WriteCase& s) { s.src->negative->SetColorChannels(3); }},
        {"mosaic kept", [](WriteCase& s) { s.src = Open(s.source.PathString(), s.host), s.src->negative->SetColorChannels(1); }},
        {"8-bit raw", [](WriteCase& s) { s.src->negative->SetStage1(std::make_unique<dng::Image>(64, 48, 1, dng::PixelType::kUInt8)); }},
        {"raw below its active area", [](WriteCase& s) { s.src->negative->SetStage1(std::make_unique<dng::Image>(32, 48, 1, dng::PixelType::kUInt16)); }},
        {"crop outside the active area", [](WriteCase& s) {
             s.src->negative->SetDefaultCropOrigin(dng::URational(10, 1), dng::URational(0, 1));
             s.src->negative->SetDefaultCropSize(dng::URational(60, 1), dng::URational(48, 1));
         }},
        {"masked area over the image", [](WriteCase& s) { s.src->negative->GetLinearizationInfo()->fMaskedArea = {dng::Rect(0, 0, 4, 64)}; }},
        {"orientation 9", [](WriteCase& s) { s.src->negative->SetOrientation(9); }},
        {"grey preview", [](WriteCase& s) { s.preview = std::make_unique<dng::Image>(8, 8, 1, dng::PixelType::kUInt8); }}};
    for (const auto& [what, spoil] : spoils) {
        WriteCase s;
        spoil(s);
        EXPECT_EQ(ErrorCode([&] { s.Write(out); }), dng::kErrorBadFormat) << what;
        EXPECT_EQ(ReadAll(out), (std::vector<uint8_t>{'o', 'l', 'd'})) << what;
        EXPECT_EQ(dir.Files(), std::vector<std::string>{"out.dng"}) << what;
    }
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
    for (const fs::path& target : {dir / "folder.dng", dir / "missing" / "out.dng"})
        EXPECT_EQ(ErrorCode([&] { s.Write(target); }), dng::kErrorWriteFile) << target;
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
    const std::vector<uint8_t> bytes = dng::MakeOutputXmp(*Open(source.PathString(), host)->negative, "Velloray 0.9.83", 1700000000);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()).find("camera-raw-settings"), std::string::npos);
    const dng::XmpPacket x = dng::XmpPacket::Parse(bytes);
    for (auto [ns, name, value] : {std::tuple{dng::kXmpNsTiff, "Make", "Velloray"}, {dng::kXmpNsTiff, "Model", "Synth One"},
                                   {dng::kXmpNsTiff, "Orientation", "8"}, {dng::kXmpNsExif, "DateTimeOriginal", "2024-05-17T10:31:07"},
                                   {dng::kXmpNsExif, "ExposureTime", "1/250"}, {dng::kXmpNsExif, "FNumber", "28/10"},
                                   {dng::kXmpNsAux, "SerialNumber", "BSN-0042"}, {dng::kXmpNsXmp, "CreatorTool", "Velloray 0.9.83"}})
        EXPECT_EQ(x.Get(ns, name), value) << name;
    EXPECT_EQ(x.GetItem(dng::kXmpNsExif, "ISOSpeedRatings", 1), "200");
    EXPECT_EQ(x.Get(dng::kXmpNsXmp, "ModifyDate"), dng::XmpLocalDate(1700000000));
    // What a negative does not know is left out.
    const dng::XmpPacket y = dng::XmpPacket::Parse(dng::MakeOutputXmp(dng::Negative(), "", 0));
    EXPECT_EQ(y.Get(dng::kXmpNsTiff, "Orientation"), "1");
    for (auto [ns, name] : {std::pair{dng::kXmpNsExif, "DateTimeOriginal"}, {dng::kXmpNsExif, "ExposureTime"}, {dng::kXmpNsExif, "FNumber"},
                            {dng::kXmpNsExif, "ISOSpeedRatings"}, {dng::kXmpNsTiff, "Make"}, {dng::kXmpNsXmp, "CreatorTool"}})
        EXPECT_FALSE(y.Get(ns, name).has_value()) << name;
}

TEST(XmpPacket, DatesAndTextAreMadeFitForXmp)
{
    EXPECT_EQ(dng::ExifDateToXmp("2014:06:21 20:41:07"), "2014-06-21T20:41:07");
    EXPECT_EQ(dng::ExifDateToXmp(std::string_view("2014:06:21 20:41:07 \0", 21)), "2014-06-21T20:41:07");
    for (const char* bad : {"", "0000:00:00 00:00:00", "    :  :     :  :  ", "2014:13:01 00:00:00",
                            "2014-06-21 20:41:07", "2014:06:21 20:41", "2014:06:21 24:00:00", "2014:0a:21 20:41:07"})
        EXPECT_FALSE(dng::ExifDateToXmp(bad).has_value()) << bad;
    for (auto [in, out] : {std::pair{"Leica Camera AG   ", "Leica Camera AG"}, {"caf\xc3\xa9", "caf\xc3\xa9"} /* UTF-8 kept */,
                           {"caf\xe9", "caf\xc3\xa9"} /* Latin-1 made UTF-8 */, {"a\x01" "b\tc\x7f", "abc"} /* controls dropped */,
                           {"\xed\xa0\x80x", "\xc3\xad\xc2\xa0x"} /* a surrogate is no UTF-8 */})
        EXPECT_EQ(dng::CleanXmpText(in), out) << in;
}

} // namespace
