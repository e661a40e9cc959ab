// DecodeJpeg against pictures made here with libjpeg-turbo's compressor: colours, sizes, refusals,
// and damaged data of every kind.
#include "platform/jpeg_image.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <vector>

#include <jpeglib.h>

namespace {

struct EncoderError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void OnEncoderError(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<EncoderError*>(cinfo->err)->jump, 1);
}

enum class Kind { kColour, kGrey, kCmyk };

// Holds only trivially destructible locals (libjpeg leaves by longjmp). *out is malloc'ed.
bool Compress(const std::vector<uint8_t>& pixels, int width, int height, Kind kind, bool progressive,
              unsigned char** out, unsigned long* size)
{
    EncoderError err;
    jpeg_compress_struct cinfo;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = OnEncoderError;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, out, size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = kind == Kind::kGrey ? 1 : kind == Kind::kCmyk ? 4 : 3;
    cinfo.in_color_space = kind == Kind::kGrey ? JCS_GRAYSCALE : kind == Kind::kCmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 92, TRUE);
    if (progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    const size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(cinfo.input_components);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPLE*>(pixels.data() + cinfo.next_scanline * rowBytes);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

std::vector<uint8_t> Encode(const std::vector<uint8_t>& pixels, int width, int height, Kind kind,
                            bool progressive = false)
{
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const bool ok = Compress(pixels, width, height, kind, progressive, &out, &size);
    std::vector<uint8_t> bytes;
    if (ok)
        bytes.assign(out, out + size);
    std::free(out);
    if (!ok)
        throw std::runtime_error("test JPEG encoder failed");
    return bytes;
}

constexpr int kW = 64, kH = 48;

struct Rgb {
    int r, g, b;
};

// Four flat quarters: red top left, green top right, blue bottom left, white bottom right.
const Rgb kQuarters[4] = {{220, 30, 30}, {30, 200, 40}, {20, 40, 210}, {250, 250, 250}};

std::vector<uint8_t> QuarterPicture()
{
    std::vector<uint8_t> rgb;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const Rgb& c = kQuarters[(y >= kH / 2 ? 2 : 0) + (x >= kW / 2 ? 1 : 0)];
            rgb.insert(rgb.end(), {uint8_t(c.r), uint8_t(c.g), uint8_t(c.b)});
        }
    return rgb;
}

// The pixel at the middle of each quarter, compared channel by channel in the bitmap's blue,
// green, red order.
void ExpectQuarters(const platform::Bitmap& bmp)
{
    const int xs[2] = {kW / 4, 3 * kW / 4}, ys[2] = {kH / 4, 3 * kH / 4};
    for (int q = 0; q < 4; ++q) {
        const uint8_t* px = bmp.ScanLine(ys[q / 2]) + 3 * xs[q % 2];
        EXPECT_NEAR(px[0], kQuarters[q].b, 12) << "quarter " << q;
        EXPECT_NEAR(px[1], kQuarters[q].g, 12) << "quarter " << q;
        EXPECT_NEAR(px[2], kQuarters[q].r, 12) << "quarter " << q;
    }
}

// Decoding must either refuse with JpegError or give a picture of the size the header says.
void DecodeOrRefuse(const std::vector<uint8_t>& bytes)
{
    try {
        const platform::Bitmap bmp = platform::DecodeJpeg(bytes);
        EXPECT_EQ(bmp.Format(), platform::PixelFormat::k24Bit);
        EXPECT_FALSE(bmp.IsEmpty());
    } catch (const platform::JpegError&) {
    }
}

TEST(JpegDecode, ColourPicturesComeOutBlueGreenRed)
{
    for (bool progressive : {false, true}) {
        SCOPED_TRACE(progressive ? "progressive" : "baseline");
        const platform::Bitmap bmp = platform::DecodeJpeg(Encode(QuarterPicture(), kW, kH, Kind::kColour, progressive));
        ASSERT_EQ(bmp.Width(), kW);
        ASSERT_EQ(bmp.Height(), kH);
        EXPECT_EQ(bmp.Format(), platform::PixelFormat::k24Bit);
        ExpectQuarters(bmp);
    }
}

TEST(JpegDecode, GreyPicturesGiveEqualChannelsTopRowFirst)
{
    // Dark top half, light bottom half: a picture upside down would show it.
    std::vector<uint8_t> grey(kW * kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            grey[y * kW + x] = y < kH / 2 ? 40 : 200;
    const platform::Bitmap bmp = platform::DecodeJpeg(Encode(grey, kW, kH, Kind::kGrey));
    ASSERT_EQ(bmp.Width(), kW);
    ASSERT_EQ(bmp.Height(), kH);
    for (int y : {kH / 4, 3 * kH / 4}) {
        const uint8_t* px = bmp.ScanLine(y) + 3 * (kW / 2);
        EXPECT_NEAR(px[0], y < kH / 2 ? 40 : 200, 6);
        EXPECT_EQ(px[0], px[1]);
        EXPECT_EQ(px[1], px[2]);
    }
}

TEST(JpegDecode, RefusesWhatItCannotShow)
{
    const std::vector<uint8_t> good = Encode(QuarterPicture(), kW, kH, Kind::kColour);

    EXPECT_THROW(platform::DecodeJpeg({}), platform::JpegError);
    const std::vector<uint8_t> text{'n', 'o', 't', ' ', 'a', ' ', 'J', 'P', 'E', 'G'};
    EXPECT_THROW(platform::DecodeJpeg(text), platform::JpegError);

    // More pixels than the caller allows; exactly as many is fine.
    EXPECT_THROW(platform::DecodeJpeg(good, kW * kH - 1), platform::JpegError);
    EXPECT_NO_THROW(platform::DecodeJpeg(good, kW * kH));

    std::vector<uint8_t> cmyk(kW * kH * 4, 100);
    EXPECT_THROW(platform::DecodeJpeg(Encode(cmyk, kW, kH, Kind::kCmyk)), platform::JpegError);

    // A frame header claiming no rows or no columns.
    for (int field : {0, 2}) {
        std::vector<uint8_t> zero = good;
        size_t sof = 2;
        while (sof + 9 < zero.size() && !(zero[sof] == 0xFF && zero[sof + 1] == 0xC0))
            ++sof;
        ASSERT_LT(sof + 9, zero.size());
        zero[sof + 5 + field] = 0;
        zero[sof + 6 + field] = 0;
        EXPECT_THROW(platform::DecodeJpeg(zero), platform::JpegError) << "field " << field;
    }
}

TEST(JpegDecode, DamagedDataNeverCrash)
{
    for (bool progressive : {false, true}) {
        const std::vector<uint8_t> good = Encode(QuarterPicture(), kW, kH, Kind::kColour, progressive);
        // Cut at every length: headers, tables and scans end anywhere.
        for (size_t n = 0; n < good.size(); ++n)
            DecodeOrRefuse(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<ptrdiff_t>(n)));

        std::mt19937 rnd(progressive ? 7 : 3);
        for (int round = 0; round < 400; ++round) {
            std::vector<uint8_t> bad = good;
            const int flips = 1 + static_cast<int>(rnd() % 8);
            for (int i = 0; i < flips; ++i)
                bad[rnd() % bad.size()] ^= static_cast<uint8_t>(1 + rnd() % 255);
            DecodeOrRefuse(bad);
        }
    }
}

} // namespace
