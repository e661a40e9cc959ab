// The engine's window seam for tests that run the driver under the tools preview: the tools
// preview answers for its own values, as the main window does; the rest is the engines tests' fake.
#pragma once

#include "ui/toolspreview.h"

#include "engine/fake_engine_ui.h"

namespace uitest {

class ToolsWindowSeam : public enginetest::FakeEngineUi {
public:
    ui::TFToolsPreview* window = nullptr;
    int NoiseSliderPosition(engine::NoiseSlider s) const override { return window->NoiseSliderPosition(s); }
    int ToolsCropColumn() const override { return window->CropColumn(); }
    int ToolsCropRow() const override { return window->CropRow(); }
    int ToolsZoomPercent() const override { return window->ZoomPercent(); }
    int ToolsGammaIndex() const override { return window->GammaIndex(); }
    bool ToolsPreviewPrecooked() const override { return window->Precooked(); }
    engine::DeblurSettings DeblurValues() const override { return window->DeblurValues(); }
    engine::MotionBlurGrid& BlurKernel() override { return window->BlurKernel(); }
    void SetDeblurSliderMaxima(int masking, int localization) override
    {
        window->SetDeblurSliderMaxima(masking, localization);
    }
};

} // namespace uitest
