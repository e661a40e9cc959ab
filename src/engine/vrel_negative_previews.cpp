// Previews of the monochrome result: the precooked preview (gamma table into an 8-bit bitmap,
// brightness and contrast in its palette) and the copy of a cooked rendering.
#include "vrel_negative.h"

#include "engine_ui.h"

#include "dng/error.h"

#include <algorithm>
#include <cmath>

namespace engine {

namespace {

// Size of a preview: the image's width rounded down to a multiple of 4 and its height, both
// divided by the scale. The bitmap shows the image's top-left part at one pixel per pixel.
void PreviewSize(const dng::Image& image, double scale, int32_t& width, int32_t& height)
{
    const double s = scale > 0.0 && std::isfinite(scale) ? scale : 1.0;
    width = static_cast<int32_t>(std::trunc(double(image.Width() / 4 * 4) / s));
    height = static_cast<int32_t>(std::trunc(double(image.Height()) / s));
    width = std::clamp(width, 0, image.Width());
    height = std::clamp(height, 0, image.Height());
}

void Report(EngineUi* ui, int maximum, const char* text)
{
    if (!ui)
        return;
    ui->ProgressBar().SetRange(0, maximum);
    ui->ProgressBar().SetPosition(0);
    ui->ProgressBar().Update();
    ui->StatusLabel().SetText(text);
    ui->StatusLabel().Update();
}

} // namespace

void VrelNegative::ApplyPreviewPalette(platform::Bitmap& bitmap, int32_t brightness, int32_t contrast)
{
    // Single precision, as the palette has always been computed; 1/75 as the nearest double.
    const float factor = static_cast<float>(static_cast<double>(contrast) * 0.013333333333333334 + 1.0);
    for (int i = 0; i < 256; ++i) {
        const float v = factor * static_cast<float>(i - 128) + 128.0f + static_cast<float>(brightness);
        uint32_t t = 0;
        if (v > 0.0f)
            t = static_cast<uint32_t>(std::min(std::trunc(v), 255.0f));
        bitmap.ColorTable()[size_t(i)] = (t << 16) | (t << 8) | t;
    }
}

void VrelNegative::DrawPrecookedBitmap(platform::Bitmap& bitmap, const dng::Image& image, int16_t gammaIndex,
                                       int32_t brightness, int32_t contrast)
{
    bitmap.SetPixelFormat(platform::PixelFormat::k8Bit);
    bitmap.SetSize(fPreviewWidth, fPreviewHeight);
    ApplyPreviewPalette(bitmap, brightness, contrast);
    Report(fUi, fPreviewHeight, "Creating precooked preview...");
    const uint32_t* table = gammaIndex == 0 ? fGammaTable22.data() : gammaIndex == 1 ? fGammaTable18.data() : nullptr;
    const dng::ConstView16 src = image.ConstView16Of(0);
    for (int32_t y = 0; y < fPreviewHeight; ++y) {
        const uint16_t* s = src.Row(y);
        uint8_t* d = bitmap.ScanLine(y);
        for (int32_t x = 0; x < fPreviewWidth; ++x) {
            const uint32_t v = std::min<uint32_t>(s[x], kGammaEntries - 1);
            d[x] = table ? static_cast<uint8_t>(table[v]) : 0;
        }
    }
    Report(fUi, fPreviewHeight, "Done...");
}

void VrelNegative::DrawClippingMarks(platform::Bitmap& bitmap, const dng::Image& mask)
{
    // The grey picture becomes blue = green = red, then clipped pixels turn red (blue keeps grey).
    const platform::Bitmap grey = bitmap;
    bitmap.SetPixelFormat(platform::PixelFormat::k24Bit);
    bitmap.SetSize(grey.Width(), grey.Height());
    const int32_t w = std::min(grey.Width(), mask.Width());
    const int32_t h = std::min(grey.Height(), mask.Height());
    Report(fUi, fPreviewHeight, "Creating precooked preview...");
    for (int32_t y = 0; y < grey.Height(); ++y) {
        const uint8_t* g = grey.ScanLine(y);
        uint8_t* d = bitmap.ScanLine(y);
        for (int32_t x = 0; x < grey.Width(); ++x) {
            const uint8_t v = static_cast<uint8_t>(grey.ColorTable()[g[x]] & 0xFF);
            d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = v;
        }
        if (y < h) {
            const uint8_t* m = mask.Row8(y);
            for (int32_t x = 0; x < w; ++x)
                if (m[x] > 0) {
                    d[3 * x + 1] = 0;
                    d[3 * x + 2] = 255;
                }
        }
    }
    Report(fUi, fPreviewHeight, "Done...");
}

void VrelNegative::RenderPrecookedPreview(platform::Bitmap& bitmap, double scale, int16_t gammaIndex,
                                          int32_t brightness, int32_t contrast, bool clippingMarks)
{
    const dng::Image* image = Stage2Image();
    if (!image)
        throw dng::Error(dng::kErrorUnknown, "there is no result to preview");
    PreviewSize(*image, scale, fPreviewWidth, fPreviewHeight);
    DrawPrecookedBitmap(bitmap, *image, gammaIndex, brightness, contrast);
    if (clippingMarks && fClipImage)
        DrawClippingMarks(bitmap, *fClipImage);
}

void VrelNegative::RenderToolsPreview(platform::Bitmap& bitmap, double scale, const dng::Image& image,
                                      int16_t gammaIndex, int32_t brightness, int32_t contrast)
{
    PreviewSize(image, scale, fPreviewWidth, fPreviewHeight);
    DrawPrecookedBitmap(bitmap, image, gammaIndex, brightness, contrast);
}

void VrelNegative::RenderCookedPreview(platform::Bitmap& bitmap, const dng::Image& rendered, double scale)
{
    int32_t w = 0, h = 0;
    PreviewSize(rendered, scale, w, h);
    bitmap.SetPixelFormat(platform::PixelFormat::k24Bit);
    bitmap.SetSize(w, h);
    Report(fUi, h, "Creating cooked preview...");
    const dng::ConstView8 src = rendered.ConstView8Of(0);
    for (int32_t y = 0; y < h; ++y) {
        if (fUi)
            fUi->ProgressBar().SetPosition(y);
        const uint8_t* s = src.Row(y);
        uint8_t* d = bitmap.ScanLine(y);
        for (int32_t x = 0; x < w; ++x)
            d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = s[x];
    }
    Report(fUi, h, "Done...");
}

} // namespace engine
