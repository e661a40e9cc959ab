// The program's negative: the DNG layer's negative extended with what a monochrome conversion
// keeps per photo: gamma look-up tables, white-balance multipliers, the dead-pixel switch,
// noise-reduction strengths, working images, its own cancel request and the preview size.
#pragma once

#include "pixel_point.h"
#include "row_table.h"

#include "dng/host.h"
#include "dng/image.h"
#include "dng/info.h"
#include "dng/negative.h"

#include "platform/bitmap.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace engine {

class EngineUi;
class ProgressReporter;
class WorkerPool;

class VrelNegative : public dng::Negative {
public:
    static constexpr int kGammaEntries = 49152;

    // The factory behind VrelHost::Make_dng_negative: a new, initialised negative.
    static std::unique_ptr<dng::Negative> Make(dng::Host& host);

    explicit VrelNegative(dng::Host& host);
    ~VrelNegative() override;

    // Colour-filter predicates at (column, row); negative coordinates give false.
    bool IsRedPixel(int32_t col, int32_t row) const;
    bool IsBluePixel(int32_t col, int32_t row) const;
    bool IsGreenPixel(int32_t col, int32_t row) const;
    bool IsG1Pixel(int32_t col, int32_t row) const; // the green sharing its pattern row with red
    bool IsG2Pixel(int32_t col, int32_t row) const; // the green sharing its pattern row with blue

    // Working images and stage images.
    void CopyMonoToStage1();
    // The working image becomes the stage-1 image (fMonoImage is left empty).
    void MoveMonoToStage1();
    void SaveMonoCopy1();
    void SaveMonoCopy2();
    void RestoreMonoCopy3();
    // Puts a copy of a whole raw image in place as the stage-1 image (its origin is (0, 0)).
    void SetStage1Image(const dng::Image& image);
    void RestoreStage2Image(const dng::Image& image);
    // Takes over what another negative of the same photo was set up with (camera code, the
    // strengths of the noise passes, the dead-pixel switch, the staged scale), not its images or
    // metadata: a negative for a side run that must leave the other one as it stands.
    void CopySettingsFrom(const VrelNegative& other);
    void AlignStage1ToPattern(dng::Host& host);
    void ExpandSquareLaw();
    void CropStage1(dng::Host& host, int32_t left, int32_t top, int32_t width, int32_t height);
    void ReleaseBuffers();
    void ReleaseStage1();
    void ReleaseStage2();

    // Colour temperature of the as-shot white plus 0.5 (callers truncate it).
    double AsShotTemperature() const;
    // Sets fRedBalance and fBlueBalance for a colour temperature in kelvin.
    void CalcWhiteBalanceRatios(double kelvin);

    static bool LessUInt16(uint16_t a, uint16_t b) { return a < b; }

    // --- Previews of the result (vrel_negative_previews.cpp) ---
    // The stage-2 image through the gamma table into an 8-bit bitmap whose palette carries
    // brightness and contrast; with clipping marks, clipped pixels are then marked in red.
    void RenderPrecookedPreview(platform::Bitmap& bitmap, double scale, int16_t gammaIndex, int32_t brightness,
                                int32_t contrast, bool clippingMarks);
    // The same for a given image, never with clipping marks.
    void RenderToolsPreview(platform::Bitmap& bitmap, double scale, const dng::Image& image, int16_t gammaIndex,
                            int32_t brightness, int32_t contrast);
    void DrawPrecookedBitmap(platform::Bitmap& bitmap, const dng::Image& image, int16_t gammaIndex,
                             int32_t brightness, int32_t contrast);
    void DrawClippingMarks(platform::Bitmap& bitmap, const dng::Image& mask);
    static void ApplyPreviewPalette(platform::Bitmap& bitmap, int32_t brightness, int32_t contrast);
    // An 8-bit one-plane rendering copied into a 24-bit bitmap.
    void RenderCookedPreview(platform::Bitmap& bitmap, const dng::Image& rendered, double scale);

    // --- Passes (each in a source file of its own) ---
    // Wavelet noise reduction of plane 0 of a 16-bit image in place; sites: 0 every photosite,
    // 1 green, 2 red, 3 blue only.
    void WaveletDenoise(dng::Image& image, int32_t strength, int32_t detail, int32_t balance, int16_t sites,
                        ProgressReporter* progress);
    // The regular monochrome plane from the staged raw plane; writes stage 1 and fMonoImage.
    void InterpolateRegular(ProgressReporter* progress);
    // The half-size variant: one G1 photosite per 2 x 2 block, the geometry halved.
    void ExtractRegularHalf(dng::Host& host, dng::Info& info, ProgressReporter* progress);
    // Photosites of a stage-1 rectangle that stand out from their same-colour neighbours.
    std::vector<PixelPoint> FindDeadPixels(int32_t top, int32_t left, int32_t height, int32_t width, int32_t threshold);
    // Replaces one photosite by the median of its same-colour neighbourhood.
    void RepairDeadPixel(dng::Image& image, int32_t x, int32_t y);
    // Repairs every registered dead pixel of fDeadPixels inside the stage-1 image.
    void RepairRegisteredDeadPixels();
    // Single-channel passes: the plane of the red (or blue) photosites, interpolated to full size,
    // or one photosite per 2 x 2 block at half size.
    void InterpolateRawChannel(bool blueChannel, ProgressReporter* progress);
    void ExtractRawChannelHalf(dng::Host& host, dng::Info& info, bool blueChannel, ProgressReporter* progress);
    // G1/G2 and red/blue correction in place of interpolation (cameras without colour filters).
    // Returns false when the automatic search failed (its message was shown once).
    bool CorrectG1G2(bool correctG1G2, bool correctRB, bool automatic, int32_t manualValue,
                     ProgressReporter* progress);
    // Channel filters: the raw channel blended into the regular result, and the RGB lens-filter
    // emulations with strength, white balance and gradient.
    void FilterRawRed(double s, bool halfSize, ProgressReporter* progress);
    void FilterRawBlue(double s, bool halfSize, ProgressReporter* progress);
    void FilterRgbRed(double s, bool useGradient, int32_t direction, int32_t percent, bool boost, int32_t rowOffset,
                      int32_t columnOffset, ProgressReporter* progress);
    void FilterRgbGreen(double s, bool useGradient, int32_t direction, int32_t percent, bool boost,
                        int32_t rowOffset, int32_t columnOffset, ProgressReporter* progress);
    void FilterRgbBlue(double s, bool useGradient, int32_t direction, int32_t percent, bool boost, int32_t rowOffset,
                       int32_t columnOffset, ProgressReporter* progress);

    // Row table operations shared by the interpolation passes and the G1/G2 correction.
    void CopyBufferToRows(RowTable& rows, const dng::Image& buffer) const;
    void EqualizeG2Pixels(RowTable& rows, const dng::Image& buffer, int32_t value, bool verticalCheck) const;

    // Members the driver and the passes read and write directly.
    std::array<uint32_t, kGammaEntries> fGammaTable22{};
    std::array<uint32_t, kGammaEntries> fGammaTable18{};
    bool fFixDeadPixels = false;
    double fRedBalance = 1.0;
    double fBlueBalance = 1.0;
    int32_t fScaleH = 0;
    int32_t fScaleV = 0;
    std::array<double, 5> fCorrectionRatios{};
    std::unique_ptr<dng::Image> fMonoImage;
    std::unique_ptr<dng::Image> fMonoCopy1;
    std::unique_ptr<dng::Image> fMonoCopy2;
    std::unique_ptr<dng::Image> fMonoCopy3;
    std::unique_ptr<dng::Image> fClipImage;
    bool fCancelRequested = false;
    int32_t fNoiseRegular = 0;
    int32_t fNoiseRed = 0;
    int32_t fNoiseBlue = 0;
    int32_t fNoiseDetail = 0;
    int32_t fNoiseBalance = 0;
    int32_t fPreNoiseGreen = 0;
    int32_t fPreNoiseRed = 0;
    int32_t fPreNoiseBlue = 0;
    int32_t fPreviewWidth = 0;
    int32_t fPreviewHeight = 0;

    // Set by the driver when it makes the negative: the camera code of the photo, the registered
    // dead pixels of the photo's own camera body, and the windows (not owned) for message pumping
    // and slider ranges.
    uint16_t fCameraCode = 0;
    std::vector<PixelPoint> fDeadPixels;
    EngineUi* fUi = nullptr;
    // The threads the passes spread their rows over (not owned); none: the calling thread alone.
    WorkerPool* fPool = nullptr;
    // Where the stage-1 image's first photosite lies in the coordinates of the whole aligned image,
    // in which dead pixels are found and registered: not (0, 0) after a crop of a tools-preview
    // staging. Reset when the stage-1 image is released.
    PixelPoint fStage1Origin{0, 0};
    // The stage-1 image is a tools-preview crop, not the photo's whole raw image.
    bool fStage1IsCrop = false;

private:
    // Colour code of a photosite in the 2 x 2 corner of the pattern; -1 without one.
    int PatternColor(int32_t col, int32_t row) const;
    // The white point the multipliers and the as-shot temperature start from.
    dng::XYCoord StartWhite(const dng::ColorSpec& spec) const;
};

} // namespace engine
