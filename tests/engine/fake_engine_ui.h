// A stand-in for the windows: options are plain fields the test sets, everything the engine
// shows or asks is recorded, message boxes are answered from a queue.
#pragma once

#include "engine/engine_ui.h"
#include "engine/kelvin_slider.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace enginetest {

class FakeProgressBar : public platform::ProgressBarControl {
public:
    int Position() const override { return position; }
    void SetPosition(int p) override { position = p; }
    void SetRange(int lo, int hi) override { minimum = lo; maximum = hi; }
    int Minimum() const override { return minimum; }
    int Maximum() const override { return maximum; }
    void Update() override { ++updates; }
    int position = 0, minimum = 0, maximum = 100, updates = 0;
};

class FakeLabel : public platform::LabelControl {
public:
    void SetText(const std::string& t) override { text = t; history.push_back(t); }
    std::string Text() const override { return text; }
    void Update() override { ++updates; }
    std::string text;
    std::vector<std::string> history;
    int updates = 0;
};

class FakeMessageBoxes : public platform::MessageBoxService {
public:
    platform::MessageResult Show(const platform::MessageBoxRequest& r) override
    {
        shown.push_back(r);
        if (answers.empty())
            return platform::MessageResult::kOk;
        auto a = answers.front();
        answers.pop_front();
        return a;
    }
    std::vector<platform::MessageBoxRequest> shown;
    std::deque<platform::MessageResult> answers;
};

class FakeEngineUi : public engine::EngineUi {
public:
    // Options.
    int kelvinPosition = 450; // 6500 K
    bool fixDeadPixels = false, halfSize = false, bayerStripped = false;
    bool correctG1G2 = false, correctRB = false, g1g2Auto = true;
    std::string g1g2Manual = "1000";
    int strength = 19, strengthMax = 19;
    bool useGradient = false;
    int method = 0;
    bool batchRunning = false, cooked = false, clipping = false;
    int gamma = 0, brightness = 0, contrast = 0;
    std::map<engine::NoiseSlider, int> noise;
    int cropColumn = 0, cropRow = 0, zoom = 100, toolsGamma = 0;
    bool boost = false;
    engine::DeblurSettings deblur;
    engine::MotionBlurGrid kernel;
    int gradientDirection = 0;
    int gradientPercent = 50;
    std::map<std::string, std::vector<engine::PixelPoint>> deadPixels; // by serial number
    bool autoSave = false, leicaTNoCorrection = false, pluginMode = false, toolsPrecooked = true;
    std::string autoSaveFolder = "(no folder)", pluginPhotoPath;

    // What the engine did.
    std::string modelLabel = "(none)", temperatureLabel = "(none)";
    int kelvinSlider = -1, kelvinSliderMoves = 0;
    platform::Bitmap embeddedPreview;
    int embeddedShown = 0, embeddedCleared = 0, embeddedRepaints = 0, explorerRepaints = 0;
    platform::Bitmap resultPreview;
    int resultCleared = 0, resultRefreshed = 0, resultUnsaved = 0;
    int pumps = 0, toolsImageResets = 0, toolsSliderResets = 0, kernelRefreshes = 0;
    int maskingMax = 65535, localizationMax = 400;
    std::vector<std::string> loadedSerials;
    FakeProgressBar bar;
    FakeLabel status;
    FakeMessageBoxes boxes;

    // Kelvin from the slider position as the main window converts it.
    double KelvinFromSlider() const override { return engine::KelvinFromSliderPosition(kelvinPosition); }
    bool FixDeadPixels() const override { return fixDeadPixels; }
    bool HalfSizeRun() const override { return halfSize; }
    bool BayerStripped() const override { return bayerStripped; }
    bool CorrectG1G2() const override { return correctG1G2; }
    bool CorrectRB() const override { return correctRB; }
    bool G1G2Auto() const override { return g1g2Auto; }
    std::string G1G2ManualText() const override { return g1g2Manual; }
    void SetG1G2ManualText(const std::string& text) override { g1g2Manual = text; }
    int StrengthPosition() const override { return strength; }
    int StrengthMaximum() const override { return strengthMax; }
    bool UseGradient() const override { return useGradient; }
    int MethodIndex() const override { return method; }
    bool BatchRunning() const override { return batchRunning; }
    bool CookedPreviewChosen() const override { return cooked; }
    int GammaIndex() const override { return gamma; }
    int Brightness() const override { return brightness; }
    int Contrast() const override { return contrast; }
    bool ClippingView() const override { return clipping; }
    bool AutoSave() const override { return autoSave; }
    std::string AutoSaveFolder() const override { return autoSaveFolder; }
    bool LeicaTNoCorrection() const override { return leicaTNoCorrection; }
    bool PluginMode() const override { return pluginMode; }
    std::string PluginPhotoPath() const override { return pluginPhotoPath; }

    void SetModelLabel(const std::string& t) override { modelLabel = t; }
    void SetTemperatureLabel(const std::string& t) override { temperatureLabel = t; }
    void SetKelvinSliderSilently(int p) override { kelvinSlider = p; ++kelvinSliderMoves; }
    void ClearEmbeddedPreview() override { embeddedPreview = platform::Bitmap(); ++embeddedCleared; }
    void ShowEmbeddedPreview(const platform::Bitmap& b) override { embeddedPreview = b; ++embeddedShown; }
    void RepaintEmbeddedPreview() override { ++embeddedRepaints; }
    void RepaintExplorer() override { ++explorerRepaints; }
    platform::Bitmap& ResultPreviewBitmap() override { return resultPreview; }
    void ClearResultPreview() override { resultPreview = platform::Bitmap(); ++resultCleared; }
    void RefreshResultPreview() override { ++resultRefreshed; }
    void SetResultUnsaved() override { ++resultUnsaved; }
    std::vector<engine::PixelPoint> LoadDeadPixels(const std::string& serial) override
    {
        loadedSerials.push_back(serial);
        auto it = deadPixels.find(serial);
        return it == deadPixels.end() ? std::vector<engine::PixelPoint>{} : it->second;
    }

    platform::ProgressBarControl& ProgressBar() override { return bar; }
    platform::LabelControl& StatusLabel() override { return status; }
    void ProcessMessages() override
    {
        ++pumps;
        if (onPump)
            onPump();
    }
    platform::MessageBoxService& MessageBoxes() override { return boxes; }

    int NoiseSliderPosition(engine::NoiseSlider s) const override
    {
        auto it = noise.find(s);
        return it == noise.end() ? 0 : it->second;
    }
    int ToolsCropColumn() const override { return cropColumn; }
    int ToolsCropRow() const override { return cropRow; }
    int ToolsZoomPercent() const override { return zoom; }
    int ToolsGammaIndex() const override { return toolsGamma; }
    bool ToolsPreviewPrecooked() const override { return toolsPrecooked; }
    void SetDeblurSliderMaxima(int masking, int localization) override
    {
        maskingMax = masking;
        localizationMax = localization;
    }
    void ResetToolsPreviewImages() override { ++toolsImageResets; }
    void ResetToolsPreviewSliders() override { ++toolsSliderResets; }
    engine::DeblurSettings DeblurValues() const override { return deblur; }
    engine::MotionBlurGrid& BlurKernel() override { return kernel; }
    void RefreshBlurKernel() override { ++kernelRefreshes; }

    bool BoostStrength() const override { return boost; }
    int GradientDirection() const override { return gradientDirection; }
    int GradientPercent() const override { return gradientPercent; }

    // Runs inside ProcessMessages: a test's stand-in for a click while messages are pumped.
    std::function<void()> onPump;
};

} // namespace enginetest
