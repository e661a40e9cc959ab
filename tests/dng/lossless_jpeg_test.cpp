#include "dng/error.h"
#include "dng/lossless_jpeg.h"
#include "fixtures/lossless_jpeg_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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

// The error code of a decode (0 for none); header faults must be found before any sample is written.
int Refusal(const Bytes& stream, size_t count, bool bugCompat16 = false, bool untouched = false)
{
    Samples out(count, 0xBEEF);
    try {
        dng::DecodeLosslessJpeg(stream, out, bugCompat16);
    } catch (const dng::Error& e) {
        EXPECT_TRUE(!untouched || out == Samples(count, 0xBEEF)) << "written before the fault was found";
        return e.Code();
    }
    return 0;
}

// Random samples, or 0, half and max in turn (at 16 bits, steps of 32768 give category 16).
Samples MakeSamples(const LosslessJpegParams& p, uint32_t seed, bool extremes = false)
{
    const uint32_t max = (1u << p.precision) - 1;
    std::mt19937 rng(seed);
    Samples s(size_t{p.width} * p.height * p.components);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = uint16_t(extremes ? std::array{0u, (max + 1) / 2, max}[(i / p.components) % 3] : rng() & max);
    return s;
}

// Offset of the first segment with this marker code before the scan data, or the size.
size_t FindSegment(const Bytes& s, uint8_t code)
{
    for (size_t pos = 2; pos + 4 <= s.size() && s[pos] == 0xFF; pos += 2 + (size_t{s[pos + 2]} << 8 | s[pos + 3]))
        if (s[pos + 1] == code || s[pos + 1] == 0xDA)
            return s[pos + 1] == code ? pos : s.size();
    return s.size();
}

// Hand-made streams: one line of two 16-bit samples, one component, predictor 1, one table.
Bytes HandMade(uint8_t tableClass, std::array<uint8_t, 2> counts, const Bytes& values, const Bytes& data)
{
    Bytes s = {0xFF, 0xD8, 0xFF, 0xC3, 0x00, 0x0B, 16, 0x00, 0x01, 0x00, 0x02, 0x01, 0x01, 0x11, 0x00,
               0xFF, 0xC4, 0x00, uint8_t(19 + values.size()), tableClass, counts[0], counts[1]};
    s.resize(s.size() + 14);
    s.insert(s.end(), values.begin(), values.end());
    for (uint8_t b : {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x01, 0x00, 0x00})
        s.push_back(b);
    s.insert(s.end(), data.begin(), data.end());
    s.insert(s.end(), {0xFF, 0xD9});
    return s;
}

TEST(LosslessJpeg, RoundTripsEveryPredictorComponentCountPrecisionAndRestartInterval)
{
    uint32_t seed = 1;
    for (uint32_t predictor = 1; predictor <= 7; ++predictor)
        for (uint32_t nf = 1; nf <= 4; ++nf)
            for (uint32_t precision : {8u, 12u, 14u, 16u})
                // Width 7: intervals of 1 (more than eight markers), 3 and 10 (splitting lines), longer than the scan.
                for (uint32_t interval : {0u, 1u, 3u, 7u, 10u, 1000u})
                    for (bool extremes : {false, true}) {
                        const LosslessJpegParams p{7, 5, nf, precision, predictor, interval};
                        SCOPED_TRACE(testing::Message() << "nf " << nf << " P " << precision << " predictor " << predictor
                                                        << " restart " << interval << " extremes " << extremes);
                        const Samples samples = MakeSamples(p, seed++, extremes);
                        const Bytes stream = fixtures::EncodeLosslessJpeg(samples, p);
                        const dng::LosslessJpegFrame f = dng::ReadLosslessJpegFrame(stream);
                        EXPECT_EQ((std::array{f.width, f.height, f.components, f.precision}), (std::array{7u, 5u, nf, precision}));
                        ASSERT_EQ(Decode(stream, samples.size()), samples);
                    }
}

TEST(LosslessJpeg, CodesOfEveryLengthUpTo16Bits)
{
    // Category k (0..15) 2^(15-k) times and category 16 once, shuffled: code lengths 1 to 16, so
    // codes longer than any lookup table, with category 16 among them.
    std::mt19937 rng(7);
    std::vector<int> categories;
    for (int k = 0; k <= 15; ++k)
        categories.insert(categories.end(), size_t{1} << (15 - k), k);
    categories.push_back(16);
    std::shuffle(categories.begin(), categories.end(), rng);
    Samples walk(categories.size());
    for (size_t i = 0; i < walk.size(); ++i) {
        const int k = categories[i];
        const int32_t d = k == 0 ? 0 : k == 16 ? 32768 : ((1 << (k - 1)) + int32_t(rng() % (1u << (k - 1)))) * (rng() % 2 ? -1 : 1);
        walk[i] = uint16_t((i ? walk[i - 1] : 0) + d);
    }
    const Bytes stream = fixtures::EncodeLosslessJpeg(walk, {256, 256, 1, 16, 1, 0});
    const size_t dht = FindSegment(stream, 0xC4);
    ASSERT_GT(stream.at(dht + 4 + 16), 0) << "no code of 16 bits";
    EXPECT_EQ(Decode(stream, walk.size()), walk);
}

TEST(LosslessJpeg, PointTransformAndTheOldCategory16ExtraBits)
{
    // Samples of 12 - 2 bits stored as precision 12 with Al = 2: the initial prediction is
    // 2^(P - Pt - 1), the same as for a 10-bit frame without a point transform.
    const LosslessJpegParams p{9, 4, 2, 10, 4, 5};
    const Samples samples = MakeSamples(p, 3);
    Bytes stream = fixtures::EncodeLosslessJpeg(samples, p);
    stream[FindSegment(stream, 0xC3) + 4] = 12;
    stream[FindSegment(stream, 0xDA) + 4 + 1 + 2 * 2 + 2] = 2;
    Samples expected = samples;
    for (uint16_t& s : expected)
        s = uint16_t(s << 2);
    EXPECT_EQ(Decode(stream, samples.size()), expected);

    // Two differences of 32768 (2^15 to 0, then 32768). Category 0: code 00, category 16: code 01.
    const Bytes plain = HandMade(0x00, {0, 2}, {0x00, 0x10}, {0x5F});                         // 01 01 1111
    const Bytes old = HandMade(0x00, {0, 2}, {0x00, 0x10}, {0x69, 0x69, 0x5A, 0x5A, 0x5F}); // 01 A5A5 01 A5A5 1111
    EXPECT_EQ(Decode(plain, 2), (Samples{0, 32768}));
    EXPECT_EQ(Decode(old, 2, true), (Samples{0, 32768}));
    EXPECT_EQ(Refusal(plain, 2, true), dng::kErrorBadFormat); // runs out of data reading the extra bits
    EXPECT_EQ(Refusal(old, 2, false), dng::kErrorBadFormat);  // the extra bits read as codes: 10 is none
}

TEST(LosslessJpeg, HeaderFaultsAreRefusedBeforeAnythingIsWritten)
{
    const LosslessJpegParams p{6, 4, 2, 14, 1, 0};
    const Samples samples = MakeSamples(p, 5);
    const Bytes good = fixtures::EncodeLosslessJpeg(samples, p);
    const size_t sof = FindSegment(good, 0xC3), sos = FindSegment(good, 0xDA), dht = FindSegment(good, 0xC4);
    auto patched = [&](size_t at, std::initializer_list<uint8_t> bytes) {
        Bytes s = good;
        std::copy(bytes.begin(), bytes.end(), s.begin() + ptrdiff_t(at));
        return s;
    };
    Bytes noTables = good, junk = good;
    noTables.erase(noTables.begin() + ptrdiff_t(dht), noTables.begin() + ptrdiff_t(sos)); // the encoder's tables sit before SOS
    const Bytes filler = {0xFF, 0xFF, 0xFE, 0x00, 0x04, 'h', 'i', 0xFF, 0xE1, 0x00, 0x02};
    junk.insert(junk.begin() + ptrdiff_t(sos), filler.begin(), filler.end());
    EXPECT_EQ(Decode(junk, samples.size()), samples); // extra segments and fill bytes are passed over
    EXPECT_THROW(dng::ReadLosslessJpegFrame(patched(sof + 1, {0xC0})), dng::Error);

    const Bytes faults[] = {
        noTables, patched(sof + 1, {0xC0}) /* DCT */, patched(sof + 5, {0, 0}), patched(sof + 7, {0, 0}) /* no lines, columns */,
        patched(sof + 4, {1}), patched(sof + 4, {17}), patched(sof + 11, {0x21}) /* subsampled */,
        patched(sof + 13, {0x00}) /* two components called 0 */, patched(sos + 5, {0x09}) /* not in the frame */,
        patched(sos + 6, {0x20}) /* no table 2 */, patched(sos + 4, {0x01}) /* one of two components */,
        patched(sos + 9, {0}), patched(sos + 9, {8}) /* predictors */, patched(sos + 11, {14}) /* Pt = P */,
        patched(sof + 2, {0x00, 0x0F}), patched(sof + 2, {0xFF, 0xF0}) /* segment lengths */,
        Bytes(good.begin(), good.begin() + ptrdiff_t(sos)) /* no scan */, Bytes{0xFF, 0xD9} /* no SOI */,
        patched(sof + 5, {0xFF, 0xFF, 0xFF, 0xFF}) /* 65535 x 65535 x 2 against a small span */};
    for (size_t i = 0; i < std::size(faults); ++i)
        EXPECT_EQ(Refusal(faults[i], samples.size(), false, true), dng::kErrorBadFormat) << "fault " << i;
    for (size_t count : {samples.size() - 1, samples.size() + 1})
        EXPECT_EQ(Refusal(good, count, false, true), dng::kErrorBadFormat) << count;
    // Tables: codes that do not fit, a category of 17, an AC table.
    for (const Bytes& bad : {HandMade(0x00, {2, 1}, {0x00, 0x10, 0x01}, {0x5F}), HandMade(0x00, {0, 2}, {0x00, 0x11}, {0x5F}),
                             HandMade(0x10, {0, 2}, {0x00, 0x10}, {0x5F})})
        EXPECT_EQ(Refusal(bad, 2), dng::kErrorBadFormat);
}

TEST(LosslessJpeg, TruncationsRestartMarkerFaultsAndByteChanges)
{
    for (uint32_t interval : {0u, 5u}) {
        const LosslessJpegParams p{10, 6, 2, 16, 6, interval};
        const Samples samples = MakeSamples(p, 11 + interval);
        const Bytes good = fixtures::EncodeLosslessJpeg(samples, p);
        for (size_t len = 0; len < good.size(); ++len) // only EOI itself may go missing
            if (len < good.size() - 2)
                EXPECT_EQ(Refusal(Bytes(good.begin(), good.begin() + ptrdiff_t(len)), samples.size()), dng::kErrorBadFormat) << len;
            else
                EXPECT_EQ(Decode(Bytes(good.begin(), good.begin() + ptrdiff_t(len)), samples.size()), samples);
        for (uint32_t seed = 0; seed < 300; ++seed) { // random changes: decoded or refused, never worse
            std::mt19937 rng(seed);
            Bytes s = good;
            for (uint32_t k = 0, changes = 1 + rng() % 3; k < changes; ++k)
                s[rng() % s.size()] = uint8_t(rng());
            const int code = Refusal(s, samples.size(), seed % 2 != 0);
            EXPECT_TRUE(code == 0 || code == dng::kErrorBadFormat) << seed;
        }
    }
    const LosslessJpegParams p{10, 6, 1, 12, 1, 10};
    const Samples samples = MakeSamples(p, 17);
    const Bytes good = fixtures::EncodeLosslessJpeg(samples, p);
    const std::array<uint8_t, 2> rst1 = {0xFF, 0xD1};
    const size_t rst = size_t(std::search(good.begin() + ptrdiff_t(FindSegment(good, 0xDA)), good.end(), rst1.begin(), rst1.end()) - good.begin());
    ASSERT_LT(rst, good.size());
    Bytes missing = good, wrongNumber = good, extraData = good, filled = good;
    missing.erase(missing.begin() + ptrdiff_t(rst), missing.begin() + ptrdiff_t(rst + 2));
    wrongNumber[rst + 1] = 0xD3;
    extraData.insert(extraData.begin() + ptrdiff_t(rst), 0x00);
    filled.insert(filled.begin() + ptrdiff_t(rst), {0xFF, 0xFF});
    for (const Bytes& bad : {missing, wrongNumber, extraData})
        EXPECT_EQ(Refusal(bad, samples.size()), dng::kErrorBadFormat);
    EXPECT_EQ(Decode(filled, samples.size()), samples);
}

} // namespace
