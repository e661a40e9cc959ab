#include "jpeg_image.h"

#include <csetjmp>
#include <cstdio>
#include <string>

#include <jpeglib.h>

namespace platform {

namespace {

// libjpeg reports a fatal error through error_exit, which must not return. Ours jumps back to
// the setjmp in RunDecoder with the library's message kept here.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void OnJpegError(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings (corrupt entropy data, data cut short) are not fatal: the library fills what is
// missing and the picture is still worth showing. They are not printed either.
void OnJpegMessage(j_common_ptr /*cinfo*/, int /*level*/) {}

// A progressive picture can hold any number of scans, and each one makes the library go over
// the whole picture again: a small hostile file could keep it busy for minutes. Real pictures
// use about ten.
constexpr int kMaxScans = 500;

void OnJpegProgress(j_common_ptr cinfo)
{
    if (!cinfo->is_decompressor)
        return;
    auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (dinfo->progressive_mode && dinfo->input_scan_number > kMaxScans) {
        auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
        std::snprintf(err->message, sizeof err->message, "more than %d progressive scans", kMaxScans);
        std::longjmp(err->jump, 1);
    }
}

// Owns the decompressor: jpeg_destroy_decompress on every way out, exceptions included.
struct Decompressor {
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    jpeg_progress_mgr progress{};

    Decompressor()
    {
        cinfo.err = jpeg_std_error(&err.pub);
        err.pub.error_exit = OnJpegError;
        err.pub.emit_message = OnJpegMessage;
        progress.progress_monitor = OnJpegProgress;
    }
    ~Decompressor() { jpeg_destroy_decompress(&cinfo); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
};

// Every libjpeg call is made here. A library error lands back at the setjmp, so no object with
// a destructor may live in this function between setjmp and its return: the bitmap belongs to
// the caller, and the refusals below throw (which is fine: they are no longjmp). Returns false
// after a library error, with the message in d.err.message.
bool RunDecoder(Decompressor& d, std::span<const uint8_t> bytes, uint64_t maxPixels, Bitmap& out)
{
    jpeg_decompress_struct& cinfo = d.cinfo;
    if (setjmp(d.err.jump))
        return false;

    jpeg_create_decompress(&cinfo);
    cinfo.progress = &d.progress;
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);

    if (cinfo.image_width == 0 || cinfo.image_height == 0)
        throw JpegError("the JPEG picture has no pixels");
    if (uint64_t(cinfo.image_width) * cinfo.image_height > maxPixels)
        throw JpegError("the JPEG picture is too large (" + std::to_string(cinfo.image_width) + " x " +
                        std::to_string(cinfo.image_height) + ")");
    if (cinfo.data_precision != 8)
        throw JpegError("the JPEG picture has " + std::to_string(cinfo.data_precision) + "-bit samples");
    switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB:
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        throw JpegError("CMYK JPEG pictures are not supported");
    default:
        throw JpegError("the JPEG picture has an unknown colour space");
    }

    // The library converts straight into the bitmap's blue, green, red order.
    cinfo.out_color_space = JCS_EXT_BGR;
    cinfo.scale_num = 1;
    cinfo.scale_denom = 1;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != 3 || cinfo.output_width != cinfo.image_width ||
        cinfo.output_height != cinfo.image_height)
        throw JpegError("unexpected JPEG output layout");

    out.SetPixelFormat(PixelFormat::k24Bit);
    out.SetSize(static_cast<int32_t>(cinfo.output_width), static_cast<int32_t>(cinfo.output_height));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out.ScanLine(static_cast<int32_t>(cinfo.output_scanline));
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1)
            throw JpegError("the JPEG decoder stopped early");
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

} // namespace

Bitmap DecodeJpeg(std::span<const uint8_t> bytes, uint64_t maxPixels)
{
    if (bytes.empty())
        throw JpegError("no JPEG data");
    // Bitmaps end at 65000 x 65000 whatever the caller allows.
    constexpr uint64_t kBitmapSide = 65000;
    if (maxPixels > kBitmapSide * kBitmapSide)
        maxPixels = kBitmapSide * kBitmapSide;

    Bitmap picture;
    Decompressor d;
    if (!RunDecoder(d, bytes, maxPixels, picture))
        throw JpegError(std::string("damaged JPEG data: ") + d.err.message);
    return picture;
}

} // namespace platform
