#include "dng/error.h"
#include "dng/lossless_jpeg.h"
#include "fixtures/lossless_jpeg_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Samples = std::vector<uint16_t>;
using fixtures::LosslessJpegParams;

Samples Decode(const Bytes& stream, size_t count, bool bugCompat16 = false)
{
    Samples out(count, 0xBEEF);
    dng::DecodeLosslessJpeg(stream, out, bugCompat16);
    return out;
}

void ExpectBadFormat(const Bytes& stream, size_t count, bool bugCompat16 = false)
{
    Samples out(count, 0xBEEF);
    try {
        dng::DecodeLosslessJpeg(stream, out, bugCompat16);
        ADD_FAILURE() << "decoded without complaint";
    } catch (const dng::Error& e) {
        EXPECT_EQ(e.Code(), dng::kErrorBadFormat) << e.what();
    }
}

void RoundTrip(const Samples& samples, const LosslessJpegParams& p)
{
    SCOPED_TRACE(testing::Message() << p.width << "x" << p.height << " nf " << p.components << " P " << p.precision
                                    << " predictor " << p.predictor << " restart " << p.restartInterval);
    const Bytes stream = fixtures::EncodeLosslessJpeg(samples, p);
    const dng::LosslessJpegFrame f = dng::ReadLosslessJpegFrame(stream);
    EXPECT_EQ(f.width, p.width);
    EXPECT_EQ(f.height, p.height);
    EXPECT_EQ(f.components, p.components);
    EXPECT_EQ(f.precision, p.precision);
    EXPECT_EQ(Decode(stream, samples.size()), samples);
}

enum class Pattern { kRandom, kZeros, kMax, kExtremes };

Samples MakeSamples(Pattern pattern, const LosslessJpegParams& p, uint32_t seed)
{
    const size_t n = size_t{p.width} * p.height * p.components;
    const uint32_t max = (1u << p.precision) - 1;
    const std::array<uint32_t, 3> extremes = {0, (max + 1) / 2, max};
    std::mt19937 rng(seed);
    Samples s(n);
    for (size_t i = 0; i < n; ++i) {
        switch (pattern) {
        case Pattern::kRandom: s[i] = static_cast<uint16_t>(rng() & max); break;
        case Pattern::kZeros: s[i] = 0; break;
        case Pattern::kMax: s[i] = static_cast<uint16_t>(max); break;
        // 0, half, max in turn: at 16 bits, steps of 32768 give category 16.
        case Pattern::kExtremes: s[i] = static_cast<uint16_t>(extremes[(i / p.components) % 3]); break;
        }
    }
    return s;
}

// Offset of the first segment with this marker code before the scan data, or npos.
size_t FindSegment(const Bytes& s, uint8_t code)
{
    for (size_t pos = 2; pos + 4 <= s.size() && s[pos] == 0xFF;) {
        if (s[pos + 1] == code)
            return pos;
        if (s[pos + 1] == 0xDA)
            break;
        pos += 2 + (size_t{s[pos + 2]} << 8 | s[pos + 3]);
    }
    return std::string::npos;
}

Bytes WithoutSegments(Bytes s, uint8_t code)
{
    for (size_t pos; (pos = FindSegment(s, code)) != std::string::npos;) {
        const size_t end = pos + 2 + (size_t{s[pos + 2]} << 8 | s[pos + 3]);
        s.erase(s.begin() + static_cast<ptrdiff_t>(pos), s.begin() + static_cast<ptrdiff_t>(end));
    }
    return s;
}

Bytes Dht(uint8_t classAndId, std::array<uint8_t, 16> counts, const Bytes& values)
{
    Bytes s(5 + counts.size() + values.size());
    const std::array<uint8_t, 5> head = {0xFF, 0xC4, 0x00, static_cast<uint8_t>(s.size() - 2), classAndId};
    auto at = std::copy(head.begin(), head.end(), s.begin());
    at = std::copy(counts.begin(), counts.end(), at);
    std::copy(values.begin(), values.end(), at);
    return s;
}

// Hand-made streams: one line of two 16-bit samples, one component, predictor 1.
Bytes HandMade(const Bytes& table, const Bytes& data)
{
    const Bytes head = {0xFF, 0xD8, 0xFF, 0xC3, 0x00, 0x0B, 16, 0x00, 0x01, 0x00, 0x02, 0x01, 0x01, 0x11, 0x00};
    const Bytes scan = {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x01, 0x00, 0x00};
    Bytes s = head;
    for (const Bytes* part : {&table, &scan, &data})
        s.insert(s.end(), part->begin(), part->end());
    s.push_back(0xFF);
    s.push_back(0xD9);
    return s;
}

// Category 0: code 00, category 16: code 01.
const Bytes kTable0And16 = Dht(0x00, {0, 2}, {0x00, 0x10});

TEST(LosslessJpegRoundTrip, EveryPredictorComponentCountAndPrecision)
{
    uint32_t seed = 1;
    for (uint32_t predictor = 1; predictor <= 7; ++predictor) {
        for (uint32_t nf = 1; nf <= 4; ++nf) {
            for (uint32_t precision : {8u, 12u, 14u, 16u}) {
                for (Pattern pattern : {Pattern::kRandom, Pattern::kZeros, Pattern::kMax, Pattern::kExtremes}) {
                    const LosslessJpegParams p{7, 5, nf, precision, predictor, 0};
                    RoundTrip(MakeSamples(pattern, p, seed++), p);
                }
            }
        }
    }
}

TEST(LosslessJpegRoundTrip, RestartIntervalsIncludingOnesThatSplitLines)
{
    uint32_t seed = 100;
    for (uint32_t predictor = 1; predictor <= 7; ++predictor) {
        for (uint32_t nf : {1u, 3u}) {
            // Width 7: intervals of 1 (more than eight markers), 3 and 10 (splitting lines), one
            // line, two lines, and one longer than the whole scan.
            for (uint32_t interval : {1u, 3u, 7u, 10u, 14u, 1000u}) {
                const LosslessJpegParams p{7, 6, nf, 12, predictor, interval};
                RoundTrip(MakeSamples(Pattern::kRandom, p, seed++), p);
            }
        }
    }
}

TEST(LosslessJpegRoundTrip, BayerTileAsTwoComponentsAndLongCodes)
{
    // A 64 x 32 CFA tile stored as X = 32, Nf = 2: colours alternate along each row.
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 60.0);
    Samples bayer(64 * 32);
    for (uint32_t y = 0; y < 32; ++y) {
        for (uint32_t x = 0; x < 64; ++x) {
            const double level = ((x + y) % 2 ? 9000.0 : 3000.0) + 40.0 * x + noise(rng);
            bayer[y * 64 + x] = static_cast<uint16_t>(std::clamp(level, 0.0, 16383.0));
        }
    }
    for (uint32_t interval : {0u, 32u})
        RoundTrip(bayer, {32, 32, 2, 14, 1, interval});

    // Category k (0..15) 2^(15-k) times and category 16 once, shuffled: code lengths 1 to 16,
    // so codes longer than any lookup table, and category 16 among them.
    std::vector<int> categories;
    for (int k = 0; k <= 15; ++k)
        categories.insert(categories.end(), size_t{1} << (15 - k), k);
    categories.push_back(16);
    std::shuffle(categories.begin(), categories.end(), rng);
    Samples walk(categories.size());
    uint16_t v = 0;
    for (size_t i = 0; i < walk.size(); ++i) {
        const int s = categories[i];
        int32_t d = s == 0 ? 0 : s == 16 ? 32768 : (1 << (s - 1)) + static_cast<int32_t>(rng() % (1u << (s - 1)));
        if (s > 0 && s < 16 && rng() % 2)
            d = -d;
        v = static_cast<uint16_t>(v + d);
        walk[i] = v;
    }
    const LosslessJpegParams p{256, 256, 1, 16, 1, 0};
    const Bytes stream = fixtures::EncodeLosslessJpeg(walk, p);
    const size_t dht = FindSegment(stream, 0xC4);
    ASSERT_NE(dht, std::string::npos);
    EXPECT_GT(stream[dht + 5 + 15], 0) << "no code of 16 bits";
    uint32_t codeSpace = 0; // in units of 2^-16; the all-ones code must stay free
    for (int len = 1; len <= 16; ++len)
        codeSpace += uint32_t{stream[dht + 4 + static_cast<size_t>(len)]} << (16 - len);
    EXPECT_LT(codeSpace, 65536u);
    EXPECT_EQ(Decode(stream, walk.size()), walk);
}

TEST(LosslessJpegDecode, PointTransformShiftsTheOutput)
{
    // Samples of 12 - 2 bits, stored as precision 12 with Al = 2: the initial prediction is
    // 2^(P - Pt - 1), the same as for a 10-bit frame without a point transform.
    LosslessJpegParams p{9, 4, 2, 10, 4, 5};
    const Samples samples = MakeSamples(Pattern::kRandom, p, 3);
    Bytes stream = fixtures::EncodeLosslessJpeg(samples, p);
    stream[FindSegment(stream, 0xC3) + 4] = 12;
    const size_t sos = FindSegment(stream, 0xDA);
    stream[sos + 4 + 1 + 2 * 2 + 2] = 2;
    Samples expected = samples;
    for (uint16_t& s : expected)
        s = static_cast<uint16_t>(s << 2);
    EXPECT_EQ(Decode(stream, samples.size()), expected);
}

TEST(LosslessJpegDecode, Category16WithAndWithoutTheOldExtraBits)
{
    // Two differences of 32768: from 2^15 to 0, then to 32768. Codes 01 01, padding 1111.
    const Bytes plain = HandMade(kTable0And16, {0x5F});
    EXPECT_EQ(Decode(plain, 2), (Samples{0, 32768}));
    ExpectBadFormat(plain, 2, true); // runs out of data reading the extra bits

    // Same, each code followed by 16 extra bits (0xA5A5): 01 A5A5 01 A5A5 1111.
    const Bytes old = HandMade(kTable0And16, {0x69, 0x69, 0x5A, 0x5A, 0x5F});
    EXPECT_EQ(Decode(old, 2, true), (Samples{0, 32768}));
    ExpectBadFormat(old, 2, false); // the extra bits read as codes: 10 is no code
}

TEST(LosslessJpegDamage, HeaderFaultsAreRejectedBeforeWriting)
{
    const LosslessJpegParams p{6, 4, 2, 14, 1, 0};
    const Samples samples = MakeSamples(Pattern::kRandom, p, 5);
    const Bytes good = fixtures::EncodeLosslessJpeg(samples, p);
    const size_t sof = FindSegment(good, 0xC3);
    const size_t sos = FindSegment(good, 0xDA);
    auto patched = [&](size_t at, std::initializer_list<uint8_t> bytes) {
        Bytes s = good;
        std::copy(bytes.begin(), bytes.end(), s.begin() + static_cast<ptrdiff_t>(at));
        return s;
    };

    const Bytes faults[] = {
        WithoutSegments(good, 0xC4),               // no Huffman tables
        patched(sof + 1, {0xC0}),                  // baseline DCT frame
        patched(sof + 5, {0x00, 0x00}),            // zero lines
        patched(sof + 7, {0x00, 0x00}),            // zero columns
        patched(sof + 4, {1}),                     // precision 1
        patched(sof + 4, {17}),                    // precision 17
        patched(sof + 10 + 1, {0x21}),             // subsampled component
        patched(sof + 10 + 3, {0x00}),             // both components called 0
        patched(sos + 5, {0x09}),                  // scan component not in the frame
        patched(sos + 6, {0x20}),                  // undefined table 2
        patched(sos + 4, {0x01}),                  // scan covers one of two components
        patched(sos + 9, {0}),                     // predictor 0
        patched(sos + 9, {8}),                     // predictor 8
        patched(sos + 11, {14}),                   // point transform = precision
        patched(sof + 2, {0x00, 0x0F}),            // frame length one too long
        patched(sof + 2, {0xFF, 0xF0}),            // segment past the end
        Bytes(good.begin(), good.begin() + static_cast<ptrdiff_t>(sos)), // no scan
        Bytes{0xFF, 0xD9},                         // no SOI
    };
    for (const Bytes& s : faults) {
        Samples out(samples.size(), 0xBEEF);
        EXPECT_THROW(dng::DecodeLosslessJpeg(s, out, false), dng::Error);
        EXPECT_EQ(out, Samples(samples.size(), 0xBEEF)) << "written before the fault was found";
    }
    EXPECT_THROW(dng::ReadLosslessJpegFrame(patched(sof + 1, {0xC0})), dng::Error);

    // Sample count: one short, one over, and 65535 x 65535 x 2 declared against a small span.
    ExpectBadFormat(good, samples.size() - 1);
    ExpectBadFormat(good, samples.size() + 1);
    ExpectBadFormat(patched(sof + 5, {0xFF, 0xFF, 0xFF, 0xFF}), samples.size());

    // Tables: two codes of length 1 and one of length 2 (does not fit), a category of 17, an AC
    // table.
    ExpectBadFormat(HandMade(Dht(0x00, {2, 1}, {0x00, 0x10, 0x01}), {0x5F}), 2);
    ExpectBadFormat(HandMade(Dht(0x00, {0, 2}, {0x00, 0x11}), {0x5F}), 2);
    ExpectBadFormat(HandMade(Dht(0x10, {0, 2}, {0x00, 0x10}), {0x5F}), 2);

    // Extra segments and fill bytes are passed over.
    const Bytes junk = {0xFF, 0xFF, 0xFE, 0x00, 0x04, 'h', 'i', 0xFF, 0xE1, 0x00, 0x02};
    Bytes extra = good;
    extra.insert(extra.begin() + static_cast<ptrdiff_t>(sos), junk.begin(), junk.end());
    EXPECT_EQ(Decode(extra, samples.size()), samples);
}

TEST(LosslessJpegDamage, TruncationAndRestartMarkerFaults)
{
    for (uint32_t interval : {0u, 5u}) {
        const LosslessJpegParams p{10, 6, 2, 16, 6, interval};
        const Samples samples = MakeSamples(Pattern::kRandom, p, 11 + interval);
        const Bytes good = fixtures::EncodeLosslessJpeg(samples, p);
        // Cut anywhere before EOI: an error; only EOI itself may go missing.
        for (size_t len = 0; len < good.size(); ++len) {
            const Bytes cut(good.begin(), good.begin() + static_cast<ptrdiff_t>(len));
            if (len < good.size() - 2)
                ExpectBadFormat(cut, samples.size());
            else
                EXPECT_EQ(Decode(cut, samples.size()), samples);
        }
    }

    const LosslessJpegParams p{10, 6, 1, 12, 1, 10};
    const Samples samples = MakeSamples(Pattern::kRandom, p, 17);
    const Bytes good = fixtures::EncodeLosslessJpeg(samples, p);
    const size_t rst = [&] {
        for (size_t i = FindSegment(good, 0xDA); i + 1 < good.size(); ++i) {
            if (good[i] == 0xFF && good[i + 1] == 0xD1)
                return i;
        }
        return good.size();
    }();
    ASSERT_LT(rst, good.size());
    Bytes missing = good;
    missing.erase(missing.begin() + static_cast<ptrdiff_t>(rst), missing.begin() + static_cast<ptrdiff_t>(rst + 2));
    ExpectBadFormat(missing, samples.size());
    Bytes wrongNumber = good;
    wrongNumber[rst + 1] = 0xD3;
    ExpectBadFormat(wrongNumber, samples.size());
    Bytes extraData = good;
    extraData.insert(extraData.begin() + static_cast<ptrdiff_t>(rst), 0x00);
    ExpectBadFormat(extraData, samples.size());
    Bytes filled = good;
    filled.insert(filled.begin() + static_cast<ptrdiff_t>(rst), {0xFF, 0xFF});
    EXPECT_EQ(Decode(filled, samples.size()), samples);
}

TEST(LosslessJpegDamage, RandomByteChangesDecodeOrThrow)
{
    for (uint32_t interval : {0u, 4u}) {
        const LosslessJpegParams p{9, 6, 2, 14, 7, interval};
        const Bytes good = fixtures::EncodeLosslessJpeg(MakeSamples(Pattern::kRandom, p, 23), p);
        const size_t count = size_t{p.width} * p.height * p.components;
        for (uint32_t seed = 0; seed < 300; ++seed) {
            std::mt19937 rng(seed);
            Bytes s = good;
            for (uint32_t k = 0, changes = 1 + rng() % 3; k < changes; ++k)
                s[rng() % s.size()] = static_cast<uint8_t>(rng());
            Samples out(count);
            try {
                dng::DecodeLosslessJpeg(s, out, seed % 2 != 0);
            } catch (const dng::Error& e) {
                EXPECT_EQ(e.Code(), dng::kErrorBadFormat);
            }
        }
    }
}

// Throughput on a 36-megapixel raw's worth of 256 x 256 Bayer tiles (X = 128, Nf = 2, 14 bits,
// predictor 1), at three noise levels. Run by hand in a Release build with
// --gtest_also_run_disabled_tests.
TEST(LosslessJpegSpeed, DISABLED_DecodeNoisy14BitTiles)
{
    for (double sigma : {30.0, 100.0, 300.0, 1000.0}) {
        std::mt19937 rng(1);
        std::normal_distribution<double> noise(0.0, sigma);
        Samples tile(256 * 256);
        for (uint32_t y = 0; y < 256; ++y) {
            for (uint32_t x = 0; x < 256; ++x) {
                const double level = ((x + y) % 2 ? 6000.0 : 2500.0) + 10.0 * (x + y) + noise(rng);
                tile[y * 256 + x] = static_cast<uint16_t>(std::clamp(level, 0.0, 16383.0));
            }
        }
        const Bytes stream = fixtures::EncodeLosslessJpeg(tile, {128, 256, 2, 14, 1, 0});
        Samples out(tile.size());
        const int tiles = 1100;
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < tiles; ++i)
            dng::DecodeLosslessJpeg(stream, out, false);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_EQ(out, tile);
        std::printf("noise %.0f: %.2f bits/sample, %d tiles in %.3f s: %.1f Msamples/s\n", sigma,
                    8.0 * stream.size() / tile.size(), tiles, seconds, tiles * double(tile.size()) / seconds / 1e6);
    }
}

} // namespace
