#include "ui/tools_preview_engine.h"

namespace ui {

DriverToolsPreviewEngine::DriverToolsPreviewEngine(engine::DNGConvert& driver, engine::EngineUi& ui,
                                                   std::function<void(int)> setBrightness,
                                                   std::function<void(int)> setContrast)
    : fDriver(driver), fUi(ui), fSetBrightness(std::move(setBrightness)), fSetContrast(std::move(setContrast))
{
}

void DriverToolsPreviewEngine::RunPreview(platform::Bitmap& crop, const PreviewStrengths& s)
{
    if (!fDriver.fNegative)
        return;
    fDriver.fNegative->fPreNoiseGreen = s.preGreen;
    fDriver.fNegative->fPreNoiseRed = s.preRed;
    fDriver.fNegative->fPreNoiseBlue = s.preBlue;
    fDriver.NoiseReductionPreview(crop, s.regular, s.red, s.blue, s.detail, s.balance);
}

// Drawn from the kept result, never from the stage-2 image of the negative that preview runs
// work on, which holds their crop.
bool DriverToolsPreviewEngine::DrawNavigationPrecooked(platform::Bitmap& picture, int gammaIndex, int brightness,
                                                       int contrast)
{
    if (!fDriver.fNegative || !fDriver.fResultCopy)
        return false;
    fDriver.fNegative->RenderToolsPreview(picture, 1.0, *fDriver.fResultCopy, static_cast<int16_t>(gammaIndex),
                                          brightness, contrast);
    return true;
}

bool DriverToolsPreviewEngine::DrawNavigationCooked(platform::Bitmap& picture, int gammaIndex)
{
    if (!fDriver.fNegative || !fDriver.fResultCopy)
        return false;
    fDriver.ShowCookedPreview(picture, static_cast<uint16_t>(gammaIndex));
    return true;
}

} // namespace ui
