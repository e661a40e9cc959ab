// What the tools preview asks of the conversion driver and of the main window: the preview run
// of its crop, the navigation picture drawn from the kept result, the palette, and the main
// window's picture settings. `DriverToolsPreviewEngine` answers over the real driver; tests give
// their own.
#pragma once

#include "ui/logic/tools_preview_values.h"

#include "engine/Class_dngconvert.h"
#include "platform/bitmap.h"

#include <functional>

namespace ui {

class ToolsPreviewEngine {
public:
    virtual ~ToolsPreviewEngine() = default;

    // A preview-only conversion of the crop with these strengths, drawn into the crop bitmap
    // (the driver reads the crop origin, the zoom, gamma and kind back from the window).
    virtual void RunPreview(platform::Bitmap& crop, const PreviewStrengths& strengths) = 0;
    // The kept result at one pixel per image pixel, precooked or cooked. False without a result.
    virtual bool DrawNavigationPrecooked(platform::Bitmap& picture, int gammaIndex, int brightness,
                                         int contrast) = 0;
    virtual bool DrawNavigationCooked(platform::Bitmap& picture, int gammaIndex) = 0;

    // The main window's settings.
    virtual bool HalfSizeRun() const = 0; // "No interpolation: resize to 50% of width and height"
    virtual int MainBrightness() const = 0;
    virtual int MainContrast() const = 0;
    // Moves the main window's slider and runs its change handler.
    virtual void SetMainBrightness(int value) = 0;
    virtual void SetMainContrast(int value) = 0;
};

// Over the conversion driver; the main window's settings come from the engine's window seam and
// two setters the main window gives.
class DriverToolsPreviewEngine : public ToolsPreviewEngine {
public:
    DriverToolsPreviewEngine(engine::DNGConvert& driver, engine::EngineUi& ui, std::function<void(int)> setBrightness,
                             std::function<void(int)> setContrast);

    void RunPreview(platform::Bitmap& crop, const PreviewStrengths& strengths) override;
    bool DrawNavigationPrecooked(platform::Bitmap& picture, int gammaIndex, int brightness, int contrast) override;
    bool DrawNavigationCooked(platform::Bitmap& picture, int gammaIndex) override;
    bool HalfSizeRun() const override { return fUi.HalfSizeRun(); }
    int MainBrightness() const override { return fUi.Brightness(); }
    int MainContrast() const override { return fUi.Contrast(); }
    void SetMainBrightness(int value) override { fSetBrightness(value); }
    void SetMainContrast(int value) override { fSetContrast(value); }

private:
    engine::DNGConvert& fDriver;
    engine::EngineUi& fUi;
    std::function<void(int)> fSetBrightness, fSetContrast;
};

} // namespace ui
