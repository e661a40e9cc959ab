// The program's main window: the explorer, the method and its options, the conversion of one
// photo or a batch, the result's previews and the settings of section "Persistent". It owns the
// conversion driver and implements the engine's window seam.
#pragma once

#include "engine/Class_dngconvert.h"
#include "engine/engine_ui.h"
#include "platform/bitmap.h"
#include "platform/ini_file.h"
#include "ui/file_dialogs.h"
#include "ui/qt_message_boxes.h"
#include "ui/qt_progress_controls.h"

#include <QMainWindow>
#include <QStringList>

#include <filesystem>
#include <memory>

namespace Ui {
class TFMain;
}

namespace ui {

class Explorer;
class TFDeadPixelList;
class TFDeadPixels;
class TFGradient;
class UpdateCheck;
class UrlOpener;
class DriverToolsPreviewEngine;
class TFToolsPreview;

// What the main window is given; null or empty: the real ones.
struct TFMainServices {
    platform::MessageBoxService* messageBoxes = nullptr; // not owned
    FileDialogs* fileDialogs = nullptr;                  // not owned
    std::filesystem::path settingsFile;                  // empty: the user's "Velloray.ini"
    UrlOpener* urlOpener = nullptr;                      // not owned
};

class TFMain : public QMainWindow, public engine::EngineUi {
    Q_OBJECT

public:
    explicit TFMain(const TFMainServices& services = {}, QWidget* parent = nullptr);
    ~TFMain() override;

    // In plug-in mode: opens the photo given on the command line (done at the first show).
    void LoadPluginPhoto();

    engine::DNGConvert& Converter() { return fConvert; }
    TFToolsPreview& ToolsPreview() { return *fToolsPreview; }
    bool RunActive() const { return fRunActive; }
    bool ResultUnsaved() const { return fResultUnsaved; }
    // Top-left corner of the 100% crop in the result preview's pixels.
    double CropOriginX() const { return fCropX; }
    double CropOriginY() const { return fCropY; }
    // Which sliders the tools preview offers, set when a run starts.
    int ToolsMode() const { return fToolsMode; }

    // --- engine::EngineUi ---
    double KelvinFromSlider() const override;
    bool FixDeadPixels() const override;
    bool HalfSizeRun() const override { return fHalfSizeRun; }
    bool BayerStripped() const override { return fNonInterpolated; }
    bool CorrectG1G2() const override;
    bool CorrectRB() const override;
    bool G1G2Auto() const override;
    std::string G1G2ManualText() const override;
    void SetG1G2ManualText(const std::string& text) override;
    int StrengthPosition() const override;
    int StrengthMaximum() const override;
    bool UseGradient() const override;
    int MethodIndex() const override;
    bool BatchRunning() const override { return fBatchRunning; }
    bool CookedPreviewChosen() const override { return !fPrecooked; }
    int GammaIndex() const override { return fGammaIndex; }
    int Brightness() const override { return fBrightness; }
    int Contrast() const override { return fContrast; }
    bool ClippingView() const override { return fClippingView; }
    bool AutoSave() const override;
    std::string AutoSaveFolder() const override;
    bool LeicaTNoCorrection() const override;
    bool PluginMode() const override;
    std::string PluginPhotoPath() const override;
    void SetModelLabel(const std::string& text) override;
    void SetTemperatureLabel(const std::string& text) override;
    void SetKelvinSliderSilently(int position) override;
    void ClearEmbeddedPreview() override;
    void ShowEmbeddedPreview(const platform::Bitmap& picture) override;
    void RepaintEmbeddedPreview() override;
    void RepaintExplorer() override;
    platform::Bitmap& ResultPreviewBitmap() override { return fPreviewBitmap; }
    void ClearResultPreview() override;
    void RefreshResultPreview() override;
    void SetResultUnsaved() override { fResultUnsaved = true; }
    std::vector<engine::PixelPoint> LoadDeadPixels(const std::string& serial) override;
    platform::ProgressBarControl& ProgressBar() override { return *fProgressControl; }
    platform::LabelControl& StatusLabel() override { return *fStatusControl; }
    void ProcessMessages() override;
    platform::MessageBoxService& MessageBoxes() override { return *fBoxes; }
    // The tools preview's values and the kernel editor, answered by the tools preview.
    int NoiseSliderPosition(engine::NoiseSlider slider) const override;
    int ToolsCropColumn() const override;
    int ToolsCropRow() const override;
    int ToolsZoomPercent() const override;
    int ToolsGammaIndex() const override;
    bool ToolsPreviewPrecooked() const override;
    void ResetToolsPreviewImages() override;
    void ResetToolsPreviewSliders() override;
    void SetDeblurSliderMaxima(int masking, int localization) override;
    engine::DeblurSettings DeblurValues() const override;
    engine::MotionBlurGrid& BlurKernel() override;
    void RefreshBlurKernel() override;
    bool BoostStrength() const override;
    int GradientDirection() const override;
    int GradientPercent() const override;

    // "Fix dead pixels" and the list button follow whether the open photo's body has a list.
    void UpdateDeadPixelControls();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Start and settings.
    void FormShow();
    void ReadSettings();
    void WriteSetting(const char* key, bool value);
    void WriteSetting(const char* key, const std::string& value);
    bool CheckWritable(const QString& folder);

    // Explorer and the current photo.
    void tvExploreClick();
    void lvExploreSelectionChanged();
    void LoadPhoto(const QString& path);
    bool PhotoChosen() const;
    // True when nothing unsaved would be lost, or the user agreed to discard it.
    bool ConfirmDiscard();

    // Options.
    void cbAutoSaveClick();
    void sbBrowseClick();
    void cbFilterChange();
    void UpdateFilterShapes(int method);
    void tbStrengthChange();
    void tbKelvinChange();
    void cbBayerStrippedClick();
    void cbNICorrectG1G2Click();
    void cbNICorrectRBClick();
    void cbUseGradientClick();
    void cbBilinearClick();
    void ChangeReset();

    // The run.
    void btCalculateClick();
    bool ProcessSelection();
    void EnableControls(bool enable);
    void ApplyEnabling();
    void btCancelClick();
    void btSaveAsClick();
    void btCloseClick();

    // Windows that come later: the handlers are the places they open from.
    void btAboutClick();
    void btUpdateClick();
    void btNoisePreviewClick();
    void btNRResetClick();
    void btDeadPixelsClick();
    void sbDeadPixelListClick();
    void sbGradientClick();

    // Preview display.
    void cbGammaChange();
    void tbBrightnessChange();
    void tbContrastChange();
    void sbPrecookedClick();
    void sbCookedClick();
    // The two kind buttons as the preview mode says, without running their handlers.
    void ShowPreviewKind();
    void sbClippingClick();
    void PreviewLevelsChanged();
    void imgPreviewMouseDown(QPoint position, Qt::MouseButton button);
    void imgPreviewMouseMove(QPoint position);
    void imgPreviewMouseUp(QPoint position, Qt::MouseButton button);
    void SetCropPoint(QPoint position);
    void DrawPreview();
    // The result preview drawn afresh from the result, precooked or cooked as chosen.
    void DrawResultPreview();
    bool HasResultPreview() const { return !fPreviewBitmap.IsEmpty(); }

    std::unique_ptr<Ui::TFMain> fUi;
    std::unique_ptr<QtMessageBoxService> fOwnBoxes;
    platform::MessageBoxService* fBoxes = nullptr;
    std::unique_ptr<QtFileDialogs> fOwnDialogs;
    FileDialogs* fDialogs = nullptr;
    std::filesystem::path fSettingsPath;
    std::unique_ptr<platform::IniFile> fSettings;
    std::unique_ptr<QtProgressBarControl> fProgressControl;
    std::unique_ptr<QtLabelControl> fStatusControl;
    Explorer* fExplorer = nullptr; // child widget, null in plug-in mode
    TFGradient* fGradient = nullptr;           // child dialog, kept for the program's run
    TFDeadPixels* fDeadPixels = nullptr;       // child dialog, made at its first use
    TFDeadPixelList* fDeadPixelList = nullptr; // child dialog, made at its first use
    std::unique_ptr<UrlOpener> fOwnOpener;
    UrlOpener* fOpener = nullptr;
    UpdateCheck* fUpdateCheck = nullptr; // child object
    bool fDeadPixelsListed = false;      // the open photo's body has registered pixels
    platform::Bitmap fPreviewBitmap;
    engine::DNGConvert fConvert;
    std::unique_ptr<DriverToolsPreviewEngine> fToolsEngine;
    std::unique_ptr<TFToolsPreview> fToolsPreview;

    // The photo open now and the selection it came from.
    QString fPhotoPath;
    QStringList fSelection;

    // Run state.
    bool fShown = false;
    bool fRunActive = false;      // a run pumps events: no slot may reach the engine
    bool fControlsEnabled = true; // false from the start of a run or a save to its end
    bool fCloseRequested = false; // closing waits for the run to return
    bool fResultUnsaved = false;
    bool fBatchRunning = false;
    bool fLastRunBatch = false;
    bool fHalfSizeRun = false;
    bool fSettingsChanged = false; // a setting changed since the last run
    bool fCancelCursor = false;    // the arrow shows over Cancel instead of the hourglass
    std::string fG1G2AtStart;      // the G1/G2 value checked when the run started
    int fToolsMode = 0;
    int fRunMethod = 0;   // the method and strength position of the last run, which name its result
    int fRunStrength = 0;

    // Option state.
    int fPrevMethod = 0;
    int fPrevStrength = 0;
    int fPrevKelvin = 0;
    bool fNonInterpolated = false;
    bool fWarnNonInterpolated = true;
    bool fFolderCheckArmed = true;

    // Preview state.
    bool fPrecooked = true;
    int fGammaIndex = 0;
    int fBrightness = 0;
    int fContrast = 0;
    bool fClippingView = false;
    bool fDragging = false;
    int fClickX = 0;
    int fClickY = 0;
    double fCropX = 0;
    double fCropY = 0;
};

} // namespace ui
