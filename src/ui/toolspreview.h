// The tools preview: noise reduction and deblurring tried on a 100% or 200% crop of the current
// result before the photo is converted again. The navigation picture (the kept result, stretched)
// chooses the crop; releasing a slider recomputes it through the conversion driver. A snapshot of
// the values last applied tells on closing whether anything changed, and cancel puts it back.
#pragma once

#include "ui/class_trackbarmouse.h"
#include "ui/logic/tools_preview_values.h"
#include "ui/tools_preview_engine.h"

#include "engine/engine_ui.h"
#include "engine/motion_blur_grid.h"
#include "platform/bitmap.h"
#include "platform/message_box.h"

#include <QDialog>

#include <memory>

namespace Ui {
class TFToolsPreview;
}

class QLabel;
class QToolButton;

namespace ui {

class TFToolsPreview : public QDialog {
    Q_OBJECT
public:
    // Modal results.
    static constexpr int kResultApply = 1;
    static constexpr int kResultKeep = 6;
    static constexpr int kResultCancel = 2;

    TFToolsPreview(ToolsPreviewEngine& engine, platform::MessageBoxService& messages, QWidget* parent = nullptr);
    ~TFToolsPreview() override;

    // --- Called by the main window ---
    // Drops both pictures; the next showing draws the navigation picture afresh.
    void ResetPreviewImages();
    bool NeedsImage() const { return fNeedsImage; }
    // The main window's picture of the result, shown until the window draws its own.
    void SetNoisePreviewImage(const platform::Bitmap& picture);
    // Every slider to its default, the kernel cleared, the snapshot to the same defaults.
    void ResetSliders();
    // Before showing: the main window's last click on its own preview, and the method (0..7).
    void SetCropPoint(int x, int y);
    void SetMode(int mode) { fMode = mode; }
    // "Close: keep changes" found values that differed from the snapshot.
    bool ChangesKept() const { return fChangesKept; }

    // --- Read by the engine (through the main window) ---
    int NoiseSliderPosition(engine::NoiseSlider slider) const;
    int CropColumn() const { return fCropX; }
    int CropRow() const { return fCropY; }
    int ZoomPercent() const { return fZoom; }
    int GammaIndex() const { return fGammaIndex; }
    bool Precooked() const { return fPrecooked; }
    void SetDeblurSliderMaxima(int masking, int localization);
    engine::DeblurSettings DeblurValues() const;
    engine::MotionBlurGrid& BlurKernel() { return *fGrid; }
    void RefreshBlurKernel();

    Ui::TFToolsPreview& Form() { return *fUi; }
    bool Busy() const { return fBusy; }
    const platform::Bitmap& NavigationPicture() const { return fNavigation; }
    const platform::Bitmap& CropPicture() const { return fCrop; }

public slots:
    void UpdatePreview();
    void reject() override; // the window's close button and Escape

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct NoiseRow {
        TTrackBarMouse* slider;
        QLabel* label;
        QToolButton* stop;
    };

    void FormShow();
    void SliderMouseDown(TTrackBarMouse* sender);
    void SliderMouseUp(TTrackBarMouse* sender);
    void SliderChange(TTrackBarMouse* sender);
    void StopClick(int index);
    void RunUpdate();
    void RefreshNoiseLabels();
    void RefreshDetailAndBalance(bool force);
    void ShowStatusIdle();

    void imgPreviewMouseDown(QPoint position);
    void imgPreviewMouseMove(QPoint position);
    void imgPreviewMouseUp();
    void CopyZoomCrop(int x, int y);
    void btPercentageClick();
    void cbGammaChange(int index);
    void sbPrecookedClick();
    void sbCookedClick();
    void RenderPrecookedNavigation();
    void RenderCookedPreview();
    void tbBrightnessChange();
    void tbContrastChange();

    void sbFreeGridClick();
    void sbLineClick();
    void sbFocusClick();
    void sbEraseClick();
    void sbSlidersResetClick();
    void BlurChanged();
    void SyncBlurButtons();

    ToolsPreviewSnapshot Current() const;
    bool Changed() const;
    void TakeSnapshot();
    void RestoreSnapshot();
    void CancelChanges();
    void RefreshCloseButtons(); // the idle update of the apply action
    void actionChangedExecute();
    void btCloseKeepClick();
    void btCloseCancelClick();
    void ShowError();

    std::unique_ptr<Ui::TFToolsPreview> fUi;
    ToolsPreviewEngine& fEngine;
    platform::MessageBoxService& fMessages;
    std::unique_ptr<engine::MotionBlurGrid> fGrid;
    std::unique_ptr<engine::MotionBlurGrid> fSnapshotGrid;
    ToolsPreviewSnapshot fSnapshot;
    std::array<NoiseRow, kNoiseSliderCount> fRows{};

    platform::Bitmap fNavigation; // the kept result, one pixel per image pixel
    platform::Bitmap fCrop;       // the crop shown in img100

    bool fBusy = false;
    bool fPendingUpdate = false; // something changed while an update ran: one more follows
    bool fQuietKernel = false;   // a button drives the kernel and updates once itself
    bool fPrecooked = true;
    bool fNeedsImage = true;
    bool fDragging = false;
    bool fNoiseActive = false;
    bool fDeblurActive = false;
    bool fChangesKept = false;
    int fGammaIndex = 0;
    int fLastGammaIndex = 0;
    int fCropPointX = 0, fCropPointY = 0;
    int fCropX = 0, fCropY = 0;
    int fMode = 0;
    int fZoom = 100;
};

} // namespace ui
