// The "RAW - Red" and "RAW - Blue" methods at half size: no interpolation, every red (or blue)
// photosite of the stage-1 plane becomes one sample of an image of half the width and height,
// and the negative's geometry is halved so that the written file describes the smaller image.
#include "engine_ui.h"
#include "half_size_geometry.h"
#include "interpolation_common.h"
#include "progress_reporter.h"
#include "vrel_negative.h"

#include "dng/error.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace engine {

void VrelNegative::ExtractRawChannelHalf(dng::Host& host, dng::Info& info, bool blueChannel, ProgressReporter* progress)
{
    if (!fStage1Image)
        throw dng::Error(dng::kErrorUnknown, "ExtractRawChannelHalf: there is no stage-1 image");
    const dng::ConstView16 src = fStage1Image->ConstView16Of(0);
    dng::LinearizationInfo* lin = GetLinearizationInfo();

    // A frame wider than 1024 is taken up to the right edge of its active area; a narrow one (a
    // tools-preview crop) whole. The edge is kept inside the stage-1 image, so that an active area
    // reaching past it never makes the pass read beyond a row.
    int32_t w = src.width;
    const int32_t h = src.height;
    if (w > 1024 && lin)
        w = std::clamp(lin->fActiveArea.r, int32_t(0), src.width);
    SetStatus(progress, blueChannel ? "Processing blue result..." : "Processing red result...");

    const auto [hw, hh] = EvenHalfSize(w, h);
    auto half = host.Make_dng_image(hw, hh, 1, dng::PixelType::kUInt16); // zero-filled

    // Unlike the regular half-size pass, the active area and the default crop are halved whatever
    // the width, and the crop width is truncated like the other three crop values.
    HalveActiveAreaAndCrop(*this, hw, hh, CropWidthHalving::kTruncate);
    HalveMaskedAreasAndDeltas(*this, info, true);

    ResetBar(progress, h);

    // The stage-1 plane is only read, so the samples are taken from it directly rather than from
    // a row-table copy; no row count limits the pass. A stage-1 plane that is not 16-bit unsigned
    // is refused by its accessor above (an error to the caller), as in the regular half-size pass.
    // Which columns of a row hold the chosen colour is asked of the predicates per row parity,
    // once; the column order is kept, so where a pattern puts the colour twice in a cell the
    // right-hand (lower) photosite is the one that stays.
    bool chosen[2][2];
    for (int32_t py = 0; py < 2; ++py)
        for (int32_t px = 0; px < 2; ++px)
            chosen[py][px] = blueChannel ? IsBluePixel(px, py) : IsRedPixel(px, py);

    const dng::View16 dst = half->View16Of(0);
    int32_t rowsSincePump = 0;
    for (int32_t y = 0; y < h; ++y) {
        StepProgress(progress);
        PumpEveryFewRows(fUi, rowsSincePump);
        if (fCancelRequested)
            return;
        // Photosites whose cell lies past the (even-sized) new image are left out; cells that
        // receive none stay zero.
        if (y / 2 >= hh)
            continue;
        CopyHalfRow(src.Row(y), dst.Row(y / 2), chosen[y & 1], w, hw);
    }

    const int32_t strength = blueChannel ? fNoiseBlue : fNoiseRed;
    if (strength > 0) {
        SetStatus(progress, blueChannel ? "Applying noise reduction: blue result..."
                                        : "Applying noise reduction: red result...");
        WaveletDenoise(*half, strength, fNoiseDetail, fNoiseBalance, 0, progress);
    }
    fMonoImage = std::move(half);
}

} // namespace engine
