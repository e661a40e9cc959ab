#include "ui/logic/main_enabling.h"

namespace ui {

ControlStates ComputeEnabling(const EnablingInputs& in)
{
    const bool on = in.enable;
    ControlStates s{};
    s.explorer = on;
    s.qualityAndExport = on;
    s.leicaTNoCorrection = on && in.leicaT;
    s.calculate = on && in.photoChosen;
    s.bilinear = on && !in.bayerStripped;
    s.bayerStripped = on;
    // Brightness and contrast act on the precooked preview only.
    s.brightnessContrast = on && !in.cooked;
    s.previewKind = on;
    s.gamma = on;
    // Nothing that reaches the engine may be used while a run pumps the window's events.
    s.clipping = on;
    s.previewMouse = on;
    s.aboutAndUpdate = on;
    s.niPanel = on;
    s.g1g2Mode = on && in.correctG1G2;
    s.g1g2Entry = s.g1g2Mode && in.g1g2Manual;
    s.fixDeadPixels = on;
    s.deadPixelList = on;
    // Saving and the tools need a finished result; after a batch the tools have no single photo.
    s.saveAs = on && in.resultReady && !in.autoSave;
    const bool tools = on && in.resultReady && !in.batchRunning && !in.settingsChanged;
    s.noisePreview = tools;
    s.noiseReset = tools;
    s.deadPixels = tools && !in.halfSizeRun;
    s.strength = on && in.method >= 1;
    s.kelvin = on && in.method >= 3;
    s.useGradient = on && in.method >= 3;
    s.gradient = s.useGradient && in.useGradient;
    return s;
}

int ToolsPreviewMode(int method, int strength, int strengthMaximum)
{
    if (strength >= strengthMaximum && (method == 1 || method == 2))
        return method + 5;
    return method;
}

} // namespace ui
