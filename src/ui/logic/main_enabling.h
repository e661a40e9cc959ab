// Which controls of the main window are enabled, as a function of the window's state: during a
// run (enable false) and when idle. Controls not listed keep their own rules.
#pragma once

namespace ui {

struct EnablingInputs {
    bool enable = true;         // false: a run is active
    bool photoChosen = false;   // a photo is selected (or the plug-in photo is open)
    bool resultReady = false;   // the last run produced a finished result
    bool autoSave = false;      // "Auto save result"
    bool batchRunning = false;  // the last run had several photos
    bool halfSizeRun = false;   // the last run was a 50% run
    bool bayerStripped = false; // "No interpolation [only for modified cameras]"
    bool cooked = false;        // the cooked preview is chosen
    int method = 0;             // 0 "Regular" ... 5 "RGB - Blue"
    bool useGradient = false;   // "Use gradient"
    bool leicaT = false;        // the open photo is from a Leica T
    bool correctG1G2 = false;   // "Correct G1/G2 imbalance"
    bool g1g2Manual = false;    // "Manually" chosen for G1/G2
    // A setting changed since the run: the tools would show something the result does not hold.
    bool settingsChanged = false;
};

struct ControlStates {
    bool explorer, qualityAndExport; // the explorer; the children of the option boxes
    bool leicaTNoCorrection;         // unchecked whenever disabled
    bool calculate, bilinear, bayerStripped;
    bool brightnessContrast, previewKind, gamma;
    bool clipping, previewMouse; // the preview's own controls that reach the engine
    bool deadPixels, noisePreview, noiseReset;
    bool fixDeadPixels, deadPixelList, saveAs;
    bool strength, kelvin, useGradient, gradient;
    bool aboutAndUpdate;
    bool niPanel, g1g2Mode, g1g2Entry; // the non-interpolated mode panel
};

ControlStates ComputeEnabling(const EnablingInputs& in);

// Which sliders the tools preview offers: the method, except 6 for "RAW - Red" and 7 for
// "RAW - Blue" with the strength slider at its top.
int ToolsPreviewMode(int method, int strength, int strengthMaximum);

} // namespace ui
