// Everything the engine reads from and writes to the windows while it works: the user's options
// in the main window, the tools preview and the gradient dialog, the labels and pictures it
// fills, the progress controls and message boxes. The main window implements it; tests fake it.
// No window type appears here.
#pragma once

#include "motion_blur_grid.h"
#include "pixel_point.h"

#include "platform/bitmap.h"
#include "platform/message_box.h"
#include "platform/progress_controls.h"

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

// The tools preview's noise-reduction sliders, by the caption of their row.
enum class NoiseSlider {
    kGreenChannel, // "green channel", before interpolation
    kRedChannel,   // "red channel", before interpolation
    kBlueChannel,  // "blue channel", before interpolation
    kRegularResult, // "regular result", after interpolation
    kRedResult,    // "red result", after interpolation
    kBlueResult,   // "blue result", after interpolation
    kDetail,       // "detail"
    kBalance,      // "balance"
};

// The tools preview's deblur tab, read when a deblurring pass runs.
struct DeblurSettings {
    int lowPassExponent = 1;     // "Low pass filter...", 0..250: K = 0.0001 x 1.07^p
    int darkLimit = 0;           // first "Localization..." slider, 0 = off
    int darkLimitMaximum = 400;
    int brightLimit = 0;         // second "Localization..." slider, 0 = off
    int brightLimitMaximum = 400;
    int maskThreshold = 0;       // "Masking...", 0..65535
};

class EngineUi {
public:
    virtual ~EngineUi() = default;

    // --- Main window: options of a conversion ---
    // The colour-temperature slider converted to kelvin.
    virtual double KelvinFromSlider() const = 0;
    virtual bool FixDeadPixels() const = 0; // "Fix dead pixels"
    // "No interpolation: resize to 50% of width and height" as taken at the start of the run.
    virtual bool HalfSizeRun() const = 0;
    // "No interpolation [only for modified cameras]".
    virtual bool BayerStripped() const = 0;
    virtual bool CorrectG1G2() const = 0;          // cbNICorrectG1G2
    virtual bool CorrectRB() const = 0;            // cbNICorrectRB
    virtual bool G1G2Auto() const = 0;             // rbG1G2Auto
    virtual std::string G1G2ManualText() const = 0; // edG1G2Manually
    // The value the automatic G1/G2 search found, shown in the same edit.
    virtual void SetG1G2ManualText(const std::string& text) = 0;
    virtual int StrengthPosition() const = 0;      // tbStrength
    virtual int StrengthMaximum() const = 0;       // 19
    virtual bool UseGradient() const = 0;          // "Use gradient"
    // Index of the method list: 0 "Regular" ... 5 "RGB - Blue".
    virtual int MethodIndex() const = 0;
    virtual bool BatchRunning() const = 0;
    virtual bool CookedPreviewChosen() const = 0;
    virtual int GammaIndex() const = 0; // 0 gamma 2.2, 1 gamma 1.8
    virtual int Brightness() const = 0;
    virtual int Contrast() const = 0;
    virtual bool ClippingView() const = 0;
    virtual bool AutoSave() const = 0;                  // "Auto save result"
    virtual std::string AutoSaveFolder() const = 0;     // the folder label's caption
    virtual bool LeicaTNoCorrection() const = 0;        // "For Leica T: save without lens correction"
    // Plug-in mode and the photo path given on the command line.
    virtual bool PluginMode() const = 0;
    virtual std::string PluginPhotoPath() const = 0;

    // --- Main window: what the engine shows ---
    virtual void SetModelLabel(const std::string& text) = 0;        // lbModel
    virtual void SetTemperatureLabel(const std::string& text) = 0;  // lbTemp
    // Moves the colour-temperature slider without running its change handler.
    virtual void SetKelvinSliderSilently(int position) = 0;
    // The embedded preview picture (imgJPG): cleared, shown, repainted.
    virtual void ClearEmbeddedPreview() = 0;
    virtual void ShowEmbeddedPreview(const platform::Bitmap& picture) = 0;
    virtual void RepaintEmbeddedPreview() = 0;
    virtual void RepaintExplorer() = 0;
    // The result preview picture (imgPreview).
    virtual platform::Bitmap& ResultPreviewBitmap() = 0;
    virtual void ClearResultPreview() = 0;
    virtual void RefreshResultPreview() = 0;
    virtual void SetResultUnsaved() = 0;
    // The registered dead pixels of a camera body (by serial number), in the order of their keys.
    virtual std::vector<PixelPoint> LoadDeadPixels(const std::string& serial) = 0;

    // --- Progress and messages ---
    virtual platform::ProgressBarControl& ProgressBar() = 0; // pbStatus
    virtual platform::LabelControl& StatusLabel() = 0;       // lbStatus
    // Lets the application handle pending window messages (a click on Cancel among them).
    virtual void ProcessMessages() = 0;
    virtual platform::MessageBoxService& MessageBoxes() = 0;

    // --- Tools preview ---
    virtual int NoiseSliderPosition(NoiseSlider slider) const = 0;
    // Origin of the 100% crop in image pixels.
    virtual int ToolsCropColumn() const = 0;
    virtual int ToolsCropRow() const = 0;
    virtual int ToolsZoomPercent() const = 0;
    virtual int ToolsGammaIndex() const = 0;
    virtual bool ToolsPreviewPrecooked() const = 0;
    virtual void ResetToolsPreviewImages() = 0;
    virtual void ResetToolsPreviewSliders() = 0;
    // Ranges of the deblurring sliders: masking up to the white level, the dark and bright
    // localization up to a third of it.
    virtual void SetDeblurSliderMaxima(int masking, int localization) = 0;
    // The deblur tab's settings, read when a deblurring pass starts.
    virtual DeblurSettings DeblurValues() const = 0;
    // The blur-kernel editor's model: the pass reads its weights and writes display values back.
    virtual MotionBlurGrid& BlurKernel() = 0;
    // The kernel editor repaints from its model.
    virtual void RefreshBlurKernel() = 0;

    // --- Gradient dialog ---
    virtual bool BoostStrength() const = 0; // "Boost strength (x2)"
    // 0 top to bottom, 1 bottom to top, 2 left to right, 3 right to left.
    virtual int GradientDirection() const = 0;
    virtual int GradientPercent() const = 0;
};

} // namespace engine
