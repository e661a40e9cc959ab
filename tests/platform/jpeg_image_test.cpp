// DecodeJpeg against pictures made here with libjpeg-turbo's compressor: colours, sizes, refusals,
// and damaged data of every kind.
#include "platform/jpeg_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include <jpeglib.h>

namespace {

constexpr int kW = 64, kH = 48;

// Four flat quarters (red, green, blue): red top left, green top right, blue bottom left, white.
const int kQuarters[4][3] = {{220, 30, 30}, {30, 200, 40}, {20, 40, 210}, {250, 250, 250}};

// A kW x kH JPEG at quality 92 of the quarters as RGB (3 components) or their green as grey (1), or
// of flat CMYK (4). libjpeg's own error handler ends the process should the compressor fail.
std::vector<uint8_t> Encode(int components, bool progressive = false)
{
    std::vector<uint8_t> pixels;
    for (int i = 0; i < kW * kH; ++i)
        for (int k = 0; k < components; ++k) {
            const int* q = kQuarters[(i / kW >= kH / 2 ? 2 : 0) + (i % kW >= kW / 2 ? 1 : 0)];
            pixels.push_back(uint8_t(components == 4 ? 100 : q[components == 1 ? 1 : k]));
        }
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = kW;
    cinfo.image_height = kH;
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 92, TRUE);
    if (progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPLE*>(pixels.data() + cinfo.next_scanline * kW * components);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> bytes(out, out + size);
    std::free(out);
    return bytes;
}

TEST(JpegDecode, ColourAndGreyComeOutBlueGreenRedTopRowFirst)
{
    for (auto [components, progressive] : {std::pair{3, false}, {3, true}, {1, false}}) {
        SCOPED_TRACE(testing::Message() << components << (progressive ? " progressive" : ""));
        const platform::Bitmap bmp = platform::DecodeJpeg(Encode(components, progressive));
        ASSERT_EQ(bmp.Width(), kW);
        ASSERT_EQ(bmp.Height(), kH);
        ASSERT_EQ(bmp.Format(), platform::PixelFormat::k24Bit);
        for (int q = 0; q < 4; ++q) { // the middle of each quarter
            const uint8_t* px = bmp.ScanLine(q / 2 * kH / 2 + kH / 4) + 3 * (q % 2 * kW / 2 + kW / 4);
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(px[c], kQuarters[q][components == 1 ? 1 : 2 - c], components == 1 ? 6 : 12) << q << " " << c;
        }
    }
}

TEST(JpegDecode, RefusesWhatItCannotShowAndNeverCrashesOnDamage)
{
    const std::vector<uint8_t> good = Encode(3);
    EXPECT_NO_THROW(platform::DecodeJpeg(good, kW * kH)); // exactly as many pixels as allowed
    std::vector<std::vector<uint8_t>> refused = {{}, {'n', 'o', 't', ' ', 'J', 'P', 'E', 'G'}, Encode(4)};
    for (size_t sof = 2; sof + 9 < good.size(); ++sof) // a frame header claiming no rows, no columns
        if (good[sof] == 0xFF && good[sof + 1] == 0xC0)
            for (size_t field : {5, 7}) {
                refused.push_back(good);
                refused.back()[sof + field] = refused.back()[sof + field + 1] = 0;
            }
    ASSERT_EQ(refused.size(), 5u);
    for (const auto& bytes : refused)
        EXPECT_THROW(platform::DecodeJpeg(bytes), platform::JpegError) << bytes.size();
    EXPECT_THROW(platform::DecodeJpeg(good, kW * kH - 1), platform::JpegError);

    // Cut at every length, and random bytes changed: refused, or a 24-bit picture.
    for (bool progressive : {false, true}) {
        const std::vector<uint8_t> sound = Encode(3, progressive);
        std::mt19937 rnd(progressive ? 7 : 3);
        for (size_t round = 0; round < sound.size() + 400; ++round) {
            std::vector<uint8_t> bad(sound.begin(), sound.begin() + std::ptrdiff_t(std::min(round, sound.size())));
            for (int i = 0, flips = round < sound.size() ? 0 : 1 + int(rnd() % 8); i < flips; ++i)
                bad[rnd() % bad.size()] ^= uint8_t(1 + rnd() % 255);
            try {
                const platform::Bitmap bmp = platform::DecodeJpeg(bad);
                EXPECT_TRUE(bmp.Format() == platform::PixelFormat::k24Bit && !bmp.IsEmpty());
            } catch (const platform::JpegError&) {
            }
        }
    }
}

} // namespace
