// Stage 2: active area, linearization table, black pattern and deltas, white level.
#include "dng/error.h"
#include "dng/host.h"
#include "dng/info.h"
#include "dng/linearization.h"
#include "dng/opcode_list.h"
#include "dng/stream.h"
#include "fixtures/dng_fixture.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace {

std::unique_ptr<dng::Image> Ramp(int w, int h, uint16_t step)
{
    auto img = std::make_unique<dng::Image>(w, h, 1, dng::PixelType::kUInt16);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img->Row16(y)[x] = static_cast<uint16_t>((y * w + x) * step);
    return img;
}

dng::LinearizationInfo Info(int w, int h, double black, double white)
{
    dng::LinearizationInfo info;
    info.fActiveArea = dng::Rect(h, w);
    info.fBlackLevel[0][0][0] = black;
    info.fWhiteLevel[0] = white;
    return info;
}

TEST(Linearization, ScalesBlackToZeroAndWhiteToFullRange)
{
    dng::Host host;
    dng::Image img(6, 1, 1, dng::PixelType::kUInt16);
    const uint16_t values[6] = {0, 2048, 8524, 15000, 16383, 2049};
    for (int x = 0; x < 6; ++x)
        img.Row16(0)[x] = values[x];
    auto out = dng::BuildLinearImage(host, img, Info(6, 1, 2048, 15000));
    const uint16_t* r = out->Row16(0);
    EXPECT_EQ(r[0], 0);     // below black clips to 0
    EXPECT_EQ(r[1], 0);
    EXPECT_EQ(r[2], 32768); // (8524-2048)/12952 * 65535 = 32767.5, rounded up
    EXPECT_EQ(r[3], 65535);
    EXPECT_EQ(r[4], 65535); // above white clips
    EXPECT_EQ(r[5], 5);     // 65535/12952 = 5.06
}

TEST(Linearization, PatternAndDeltasAgreeWithTheUniformPath)
{
    dng::Host host;
    auto img = Ramp(8, 6, 257);
    dng::LinearizationInfo uniform = Info(8, 6, 1000, 16000);
    dng::LinearizationInfo pattern = uniform;
    pattern.fBlackLevelRepeatRows = 2;
    pattern.fBlackLevelRepeatCols = 2;
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c)
            pattern.fBlackLevel[r][c][0] = 1000;
    pattern.fBlackDeltaH.assign(8, 0.0);
    auto a = dng::BuildLinearImage(host, *img, uniform);
    auto b = dng::BuildLinearImage(host, *img, pattern);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(a->Row16(y)[x], b->Row16(y)[x]) << x << "," << y;
}

TEST(Linearization, PatternBlackUsesEachCellAndTheLargestForTheRange)
{
    dng::Host host;
    dng::Image img(2, 2, 1, dng::PixelType::kUInt16);
    dng::LinearizationInfo info = Info(2, 2, 0, 1100);
    info.fBlackLevelRepeatRows = 2;
    info.fBlackLevelRepeatCols = 2;
    info.fBlackLevel[0][0][0] = 100;
    info.fBlackLevel[0][1][0] = 50;
    info.fBlackLevel[1][0][0] = 0;
    info.fBlackLevel[1][1][0] = 100;
    info.fBlackDeltaV = {0.0, 0.0};
    img.Row16(0)[0] = 100;  // its own black
    img.Row16(0)[1] = 1100; // white: every cell clips at the same level
    img.Row16(1)[0] = 500;
    img.Row16(1)[1] = 600;
    auto out = dng::BuildLinearImage(host, img, info);
    EXPECT_EQ(out->Row16(0)[0], 0);
    EXPECT_EQ(out->Row16(0)[1], 65535);
    EXPECT_EQ(out->Row16(1)[0], 32768); // 500 / 1000 of the range
    EXPECT_EQ(out->Row16(1)[1], 32768); // (600-100) / 1000
}

TEST(Linearization, ActiveAreaTableAndEightBitData)
{
    dng::Host host;
    dng::Image img(4, 3, 1, dng::PixelType::kUInt8);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            img.Row8(y)[x] = static_cast<uint8_t>(y * 4 + x + 250 - 11); // 239 .. 250
    dng::LinearizationInfo info;
    info.fActiveArea = dng::Rect(1, 1, 3, 4);
    for (int i = 0; i < 245; ++i) // a short table: later values take its last entry
        info.fLinearizationTable.push_back(static_cast<uint16_t>(i * i / 4));
    info.fWhiteLevel[0] = 244.0 * 244 / 4;
    auto out = dng::BuildLinearImage(host, img, info);
    ASSERT_EQ(out->Width(), 3);
    ASSERT_EQ(out->Height(), 2);
    // stage1(1,1) = 244: the table's last entry, which is the white level.
    EXPECT_EQ(out->Row16(0)[0], 65535);
    EXPECT_EQ(out->Row16(1)[2], 65535);

    img.Row8(1)[1] = 10;
    out = dng::BuildLinearImage(host, img, info);
    EXPECT_EQ(out->Row16(0)[0], static_cast<uint16_t>(25.0 / 14884.0 * 65535.0 + 0.5));
}

TEST(Linearization, RefusesImpossibleAreasAndLevels)
{
    dng::Host host;
    auto img = Ramp(4, 4, 1);
    dng::LinearizationInfo outside = Info(4, 4, 0, 100);
    outside.fActiveArea = dng::Rect(5, 0, 9, 4);
    EXPECT_THROW(dng::BuildLinearImage(host, *img, outside), dng::Error);
    // An area reaching past a smaller (half-size) result keeps the part the result covers.
    dng::LinearizationInfo larger = Info(4, 4, 0, 100);
    larger.fActiveArea = dng::Rect(1, 0, 8, 8);
    auto clipped = dng::BuildLinearImage(host, *img, larger);
    EXPECT_EQ(clipped->Width(), 4);
    EXPECT_EQ(clipped->Height(), 3);
    EXPECT_THROW(dng::BuildLinearImage(host, *img, Info(4, 4, 100, 100)), dng::Error);
    dng::LinearizationInfo pattern = Info(4, 4, 0, 100);
    pattern.fBlackLevelRepeatRows = 9;
    EXPECT_THROW(dng::BuildLinearImage(host, *img, pattern), dng::Error);
}

std::vector<uint8_t> OpcodeBytes(uint32_t count, std::vector<std::array<uint32_t, 4>> heads, uint32_t extra = 0)
{
    std::vector<uint8_t> b;
    auto put = [&](uint32_t v) {
        for (int s = 24; s >= 0; s -= 8)
            b.push_back(static_cast<uint8_t>(v >> s));
    };
    put(count);
    for (const auto& h : heads) {
        for (uint32_t v : h)
            put(v);
        b.insert(b.end(), h[3], 0xAB);
    }
    b.insert(b.end(), extra, 0);
    return b;
}

// The black levels readers take, at the lines they draw: levels and deltas within 16 bits, and
// with deltas the white level at least 512 above the largest black level (readers scale each row's
// and column's black level by 65535 / (white - black) in fixed point, which overflows from 128 on).
// A uniform black level is scaled another way and may come closer.
TEST(Linearization, BlackLevelsReadersCannotScaleAreDamage)
{
    using R = dng::SRational;
    const auto deltas = [](size_t count, size_t at, R value) {
        std::vector<R> d(count, R(-1, 2));
        d.at(at) = value;
        return d;
    };
    const struct {
        const char* what;
        std::function<void(fixtures::DngSpec&)> edit;
        const char* problem; // a part of the answer, or null for none
    } cases[] = {
        {"small deltas", [&](fixtures::DngSpec& s) { s.blackLevelDeltaV = deltas(48, 5, R(3, 2)); }, nullptr},
        {"a row delta of -65535", [&](fixtures::DngSpec& s) { s.blackLevelDeltaV = deltas(48, 5, R(-65535, 1)); }, nullptr},
        {"a row delta of -65535.5", [&](fixtures::DngSpec& s) { s.blackLevelDeltaV = deltas(48, 5, R(-131071, 2)); },
         "BlackLevelDeltaV entry 5 (-65535.5) is outside what a 16-bit sample can hold"},
        {"a column delta of -2684357.5", [&](fixtures::DngSpec& s) { s.blackLevelDeltaH = deltas(64, 63, R(-5368715, 2)); },
         "BlackLevelDeltaH entry 63 (-2684357.5) is outside"},
        {"a black level of 65536", [](fixtures::DngSpec& s) { s.blackLevel = {{65536, 1}}, s.blackLevelRational = true; },
         "BlackLevel entry 0 (65536) is outside"},
        // White 16383: black 15869 and deltas up to 2 leave 512, one more half leaves 511.5.
        {"512 between black and white",
         [&](fixtures::DngSpec& s) { s.whiteLevel = 16383, s.blackLevel = {{15869, 1}}, s.blackLevelDeltaV = deltas(48, 7, R(2, 1)); },
         nullptr},
        {"511.5 between black and white",
         [&](fixtures::DngSpec& s) { s.whiteLevel = 16383, s.blackLevel = {{15869, 1}}, s.blackLevelDeltaV = deltas(48, 7, R(5, 2)); },
         "WhiteLevel 16383 lies less than 512 above the largest black level (15871.5"},
        {"rows and columns add up",
         [&](fixtures::DngSpec& s) {
             s.whiteLevel = 16383, s.blackLevel = {{15000, 1}};
             s.blackLevelDeltaV = deltas(48, 7, R(600, 1)), s.blackLevelDeltaH = deltas(64, 9, R(272, 1));
         },
         "(15872"},
        {"511 and no deltas", [](fixtures::DngSpec& s) { s.whiteLevel = 16383, s.blackLevel = {{15872, 1}}; }, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fixtures::DngSpec spec;
        c.edit(spec);
        const fixtures::DngFixture fx = fixtures::MakeDng(spec);
        dng::Host host;
        dng::Info info;
        info.Parse(host, dng::MemoryStream(fx.bytes));
        info.PostParse(host);
        ASSERT_EQ(info.StructureProblem(), "");
        const std::string problem = info.DamageProblem();
        if (c.problem)
            EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
        else
            EXPECT_EQ(problem, "");
    }
}

TEST(OpcodeList, SplitsOpcodesAndChecksTheSizes)
{
    dng::OpcodeList list;
    list.Parse(OpcodeBytes(2, {{1, 0x01030000, 0, 16}, {9, 0x01040000, 1, 4}}));
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.Opcodes()[0].id, dng::kOpcodeWarpRectilinear);
    EXPECT_EQ(list.Opcodes()[0].params.size(), 16u);
    EXPECT_EQ(list.MinVersion(), 0x01030000u); // the optional GainMap does not count

    EXPECT_THROW(list.Parse(OpcodeBytes(2, {{1, 0, 0, 16}, {9, 0, 1, 4}}, 1)), dng::Error); // trailing byte
    EXPECT_THROW(list.Parse(OpcodeBytes(3, {{1, 0, 0, 16}, {9, 0, 1, 4}})), dng::Error);    // missing opcode
    auto cut = OpcodeBytes(1, {{1, 0, 0, 16}});
    cut[19] = 200; // parameters past the end
    EXPECT_THROW(list.Parse(cut), dng::Error);
    EXPECT_THROW(list.Parse(OpcodeBytes(0xFFFFFFFF, {})), dng::Error);
    EXPECT_TRUE(list.IsEmpty()); // a failed parse leaves nothing behind
}

} // namespace
