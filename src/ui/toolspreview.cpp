#include "ui/toolspreview.h"

#include "ui/logic/tools_crop.h"
#include "ui/tcolor.h"
#include "ui/wait_cursor.h"
#include "ui_toolspreview.h"

#include "engine/vrel_negative.h"

#include <QApplication>
#include <QButtonGroup>
#include <QPainter>
#include <QScopedValueRollback>

#include <cstring>
#include <exception>

namespace ui {

using engine::MotionBlurGrid;
using engine::NoiseSlider;

namespace {

constexpr uint32_t kClGreen = tcolor::kGreen;
using tcolor::kBlue;
using tcolor::kLime;
using tcolor::kMaroon;
using tcolor::kOrange;
using tcolor::kYellow;

enum class Glyph { kGrid, kLine, kCircle, kCentre, kZoomIn, kZoomOut, kStop };

// The small pictures of the glyph buttons.
QIcon GlyphIcon(Glyph g)
{
    QPixmap pm(20, 20);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 1.5));
    switch (g) {
    case Glyph::kGrid:
        for (int i = 3; i <= 17; i += 7) {
            p.drawLine(QPointF(i, 3), QPointF(i, 17));
            p.drawLine(QPointF(3, i), QPointF(17, i));
        }
        p.fillRect(QRectF(4, 11, 5.5, 5.5), ColorOfTColor(kClGreen));
        break;
    case Glyph::kLine: p.setPen(QPen(ColorOfTColor(kClGreen), 3)); p.drawLine(QPointF(4, 16), QPointF(16, 4)); break;
    case Glyph::kCircle: p.setBrush(ColorOfTColor(kClGreen)); p.drawEllipse(QPointF(10, 10), 7, 7); break;
    case Glyph::kCentre:
        p.drawEllipse(QPointF(10, 10), 7, 7);
        p.setBrush(ColorOfTColor(kBlue));
        p.drawEllipse(QPointF(10, 10), 2.5, 2.5);
        break;
    case Glyph::kZoomIn:
    case Glyph::kZoomOut:
        p.drawEllipse(QPointF(8, 8), 5.5, 5.5);
        p.drawLine(QPointF(12, 12), QPointF(18, 18));
        p.drawLine(QPointF(5.5, 8), QPointF(10.5, 8));
        if (g == Glyph::kZoomIn)
            p.drawLine(QPointF(8, 5.5), QPointF(8, 10.5));
        break;
    case Glyph::kStop:
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(200, 30, 30));
        p.drawRoundedRect(QRectF(4, 4, 12, 12), 2, 2);
        break;
    }
    return QIcon(pm);
}

void SetGlyph(QToolButton* b, Glyph g)
{
    b->setIcon(GlyphIcon(g));
    b->setToolButtonStyle(Qt::ToolButtonIconOnly);
    b->setAutoRaise(false);
}

// The value of a flag for as long as the guard lives; the previous value comes back after it.
using FlagGuard = QScopedValueRollback<bool>;

// Puts the cells of a saved kernel back, keeping the live model's connections to the editor.
void CopyKernel(MotionBlurGrid& to, const MotionBlurGrid& from)
{
    auto changed = to.onChanged, empty = to.onGridEmpty, notEmpty = to.onGridNotEmpty, repaint = to.onRepaint;
    to = from;
    to.onChanged = changed;
    to.onGridEmpty = empty;
    to.onGridNotEmpty = notEmpty;
    to.onRepaint = repaint;
}

bool SameKernel(const MotionBlurGrid& a, const MotionBlurGrid& b)
{
    for (int c = 0; c < MotionBlurGrid::kCells; ++c)
        for (int r = 0; r < MotionBlurGrid::kCells; ++r)
            if (a.IsSet(c, r) != b.IsSet(c, r) || a.Weight(c, r) != b.Weight(c, r))
                return false;
    return true;
}

} // namespace

TFToolsPreview::TFToolsPreview(ToolsPreviewEngine& engine, platform::MessageBoxService& messages, QWidget* parent)
    : QDialog(parent), fUi(std::make_unique<Ui::TFToolsPreview>()), fEngine(engine), fMessages(messages),
      fGrid(std::make_unique<MotionBlurGrid>()), fSnapshotGrid(std::make_unique<MotionBlurGrid>())
{
    fUi->setupUi(this);
    setWindowFlags((windowFlags() | Qt::MSWindowsFixedSizeDialogHint) & ~Qt::WindowContextHelpButtonHint);
    Ui::TFToolsPreview& f = *fUi;
    f.imgPreview->SetStretch(true);
    fRows = {{{f.tbPreGreen, f.lbPreGreen, f.sbStopPreGreen},
              {f.tbPreRed, f.lbPreRed, f.sbStopPreRed},
              {f.tbPreBlue, f.lbPreBlue, f.sbStopPreBlue},
              {f.tbNoiseRegular, f.lbNoiseRegular, f.sbStopRegular},
              {f.tbNoiseRed, f.lbNoiseRed, f.sbStopRed},
              {f.tbNoiseBlue, f.lbNoiseBlue, f.sbStopBlue},
              {f.tbNoiseDetail, f.lbNoiseDetail, f.sbStopDetail},
              {f.tbNoiseBalance, f.lbNoiseBalance, f.sbStopBalance}}};

    f.blurPanel->SetGrid(fGrid.get());
    connect(f.blurPanel, &MotionBlurPanel::OnChanged, this, &TFToolsPreview::BlurChanged);
    connect(f.blurPanel, &MotionBlurPanel::OnGridNotEmpty, this,
            [this] { fUi->sbCenter->setVisible(fUi->sbFocus->isChecked()); });
    connect(f.blurPanel, &MotionBlurPanel::OnGridEmpty, this, [this] { fUi->sbCenter->setVisible(false); });

    // Every slider reports its press and release; the noise and deblur sliders share one change
    // handler, brightness and contrast have their own.
    const std::initializer_list<TTrackBarMouse*> changing = {
        f.tbPreGreen,    f.tbPreRed,      f.tbPreBlue,      f.tbNoiseRegular, f.tbNoiseRed,
        f.tbNoiseBlue,   f.tbNoiseDetail, f.tbNoiseBalance, f.tbFocusRadius,  f.tbLowPass,
        f.tbMasking,     f.tbDark,        f.tbBright};
    for (TTrackBarMouse* s : changing)
        connect(s, &QSlider::valueChanged, this, [this, s] { SliderChange(s); });
    for (TTrackBarMouse* s : findChildren<TTrackBarMouse*>()) {
        connect(s, &TTrackBarMouse::OnSliderDown, this, &TFToolsPreview::SliderMouseDown);
        connect(s, &TTrackBarMouse::OnSliderUp, this, &TFToolsPreview::SliderMouseUp);
    }
    connect(f.tbBrightness, &QSlider::valueChanged, this, &TFToolsPreview::tbBrightnessChange);
    connect(f.tbContrast, &QSlider::valueChanged, this, &TFToolsPreview::tbContrastChange);

    for (int i = 0; i < kNoiseSliderCount; ++i) {
        SetGlyph(fRows[size_t(i)].stop, Glyph::kStop);
        connect(fRows[size_t(i)].stop, &QToolButton::clicked, this, [this, i] { StopClick(i); });
    }

    connect(f.imgPreview, &BitmapView::MouseDown, this, [this](QPoint p, Qt::MouseButton) { imgPreviewMouseDown(p); });
    connect(f.imgPreview, &BitmapView::MouseMove, this, &TFToolsPreview::imgPreviewMouseMove);
    connect(f.imgPreview, &BitmapView::MouseUp, this, [this](QPoint, Qt::MouseButton) { imgPreviewMouseUp(); });
    connect(f.btPercentage, &QPushButton::clicked, this, &TFToolsPreview::btPercentageClick);
    connect(f.cbGamma, &QComboBox::currentIndexChanged, this, &TFToolsPreview::cbGammaChange);
    auto* kinds = new QButtonGroup(this);
    kinds->addButton(f.sbPrecooked);
    kinds->addButton(f.sbCooked);
    // However the kind changes (mouse, keyboard, assistive technology), the button that goes down
    // does the work.
    connect(f.sbPrecooked, &QToolButton::toggled, this, [this](bool down) {
        if (down)
            sbPrecookedClick();
    });
    connect(f.sbCooked, &QToolButton::toggled, this, [this](bool down) {
        if (down)
            sbCookedClick();
    });

    auto* modes = new QButtonGroup(this);
    for (QToolButton* b : {f.sbFreeGrid, f.sbLine, f.sbFocus})
        modes->addButton(b);
    SetGlyph(f.sbFreeGrid, Glyph::kGrid);
    SetGlyph(f.sbLine, Glyph::kLine);
    SetGlyph(f.sbFocus, Glyph::kCircle);
    SetGlyph(f.sbCenter, Glyph::kCentre);
    SetGlyph(f.sbShrink, Glyph::kZoomIn);
    SetGlyph(f.sbGrow, Glyph::kZoomOut);
    connect(f.sbFreeGrid, &QToolButton::clicked, this, &TFToolsPreview::sbFreeGridClick);
    connect(f.sbLine, &QToolButton::clicked, this, &TFToolsPreview::sbLineClick);
    connect(f.sbFocus, &QToolButton::clicked, this, &TFToolsPreview::sbFocusClick);
    connect(f.sbErase, &QPushButton::clicked, this, &TFToolsPreview::sbEraseClick);
    connect(f.sbCenter, &QToolButton::clicked, this, [this] { fGrid->ClickCentre(); });
    connect(f.sbGrow, &QToolButton::clicked, this, [this] { fGrid->GrowView(); });
    connect(f.sbShrink, &QToolButton::clicked, this, [this] { fGrid->ShrinkView(); });
    connect(f.sbSlidersReset, &QPushButton::clicked, this, &TFToolsPreview::sbSlidersResetClick);

    connect(f.btApply, &QPushButton::clicked, this, &TFToolsPreview::actionChangedExecute);
    connect(f.btCloseKeep, &QPushButton::clicked, this, &TFToolsPreview::btCloseKeepClick);
    connect(f.btCloseCancel, &QPushButton::clicked, this, &TFToolsPreview::btCloseCancelClick);

    ShowStatusIdle();
    ResetSliders();
}

TFToolsPreview::~TFToolsPreview()
{
    fUi->blurPanel->SetGrid(nullptr);
}

// --- Called by the main window ---

void TFToolsPreview::ResetPreviewImages()
{
    FlagGuard busy(fBusy, true);
    fNavigation.Clear();
    fCrop.Clear();
    fUi->imgPreview->Clear();
    fUi->img100->Clear();
    {
        const QSignalBlocker b(fUi->tbBrightness), c(fUi->tbContrast);
        fUi->tbBrightness->setValue(fEngine.MainBrightness());
        fUi->tbContrast->setValue(fEngine.MainContrast());
    }
    {
        const QSignalBlocker quietPrecooked(fUi->sbPrecooked), quietCooked(fUi->sbCooked);
        fUi->sbPrecooked->setChecked(true);
    }
    fPrecooked = true;
    fUi->tbBrightness->setEnabled(true);
    fUi->tbContrast->setEnabled(true);
    fNeedsImage = true;
}

void TFToolsPreview::SetNoisePreviewImage(const platform::Bitmap& picture)
{
    fNavigation = picture;
    fUi->imgPreview->SetBitmap(fNavigation);
    fNeedsImage = false;
}

void TFToolsPreview::ResetSliders()
{
    FlagGuard busy(fBusy, true);
    FlagGuard quiet(fQuietKernel, true);
    for (int i = 0; i < kNoiseSliderCount; ++i) {
        const QSignalBlocker block(fRows[size_t(i)].slider);
        fRows[size_t(i)].slider->setValue(ToolsPreviewSnapshot{}.noise[size_t(i)]);
        fRows[size_t(i)].stop->setChecked(false);
    }
    for (TTrackBarMouse* s : {fUi->tbLowPass, fUi->tbMasking, fUi->tbDark, fUi->tbBright}) {
        const QSignalBlocker block(s);
        s->setValue(0);
    }
    {
        const QSignalBlocker block(fUi->tbFocusRadius);
        fUi->tbFocusRadius->setValue(kDefaultFocusRadius);
    }
    fGrid->ResetRadius();
    fGrid->Clear(false);
    fGrid->SetMode(MotionBlurGrid::kGridAndLine);
    fGrid->SetLineKind(MotionBlurGrid::kFreeGrid);
    fUi->sbFreeGrid->setChecked(true);
    SyncBlurButtons();
    fUi->sbCenter->setVisible(false);
    RefreshDetailAndBalance(true);
    RefreshNoiseLabels();
    fSnapshot = ToolsPreviewSnapshot{};
    CopyKernel(*fSnapshotGrid, *fGrid);
    fUi->blurPanel->update();
    RefreshCloseButtons();
}

void TFToolsPreview::SetCropPoint(int x, int y)
{
    fCropPointX = x;
    fCropPointY = y;
}

int TFToolsPreview::NoiseSliderPosition(NoiseSlider slider) const
{
    return fRows[size_t(Index(slider))].slider->value();
}

void TFToolsPreview::SetDeblurSliderMaxima(int masking, int localization)
{
    fUi->tbMasking->setMaximum(masking);
    fUi->tbDark->setMaximum(localization);
    fUi->tbBright->setMaximum(localization);
}

// Read when a deblurring pass starts, so the pass always uses what the sliders show.
engine::DeblurSettings TFToolsPreview::DeblurValues() const
{
    engine::DeblurSettings s;
    s.lowPassExponent = fUi->tbLowPass->value();
    s.darkLimit = fUi->tbDark->value();
    s.darkLimitMaximum = fUi->tbDark->maximum();
    s.brightLimit = fUi->tbBright->value();
    s.brightLimitMaximum = fUi->tbBright->maximum();
    s.maskThreshold = fUi->tbMasking->value();
    return s;
}

void TFToolsPreview::RefreshBlurKernel()
{
    fUi->blurPanel->repaint();
}

// --- Showing ---

void TFToolsPreview::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TFToolsPreview::FormShow()
{
    Ui::TFToolsPreview& f = *fUi;
    fChangesKept = false;
    const std::array<bool, 6> on = StrengthSlidersOfMode(fMode);
    const bool half = fEngine.HalfSizeRun();
    for (int i = 0; i < 6; ++i) {
        const bool enabled = on[size_t(i)] && !(half && i < 3);
        fRows[size_t(i)].slider->setEnabled(enabled && !fRows[size_t(i)].stop->isChecked());
        fRows[size_t(i)].label->setEnabled(enabled);
        fRows[size_t(i)].stop->setVisible(enabled);
        if (!enabled)
            fRows[size_t(i)].stop->setChecked(false);
    }
    {
        const QSignalBlocker b(f.tbBrightness), c(f.tbContrast);
        f.tbBrightness->setValue(fEngine.MainBrightness());
        f.tbContrast->setValue(fEngine.MainContrast());
    }
    if (!fUi->img100->HasPicture()) {
        RenderPrecookedNavigation();
        CopyZoomCrop(fCropPointX, fCropPointY);
    }
    RestoreSnapshot();
    RefreshDetailAndBalance(true);
    RefreshNoiseLabels();
    ShowStatusIdle();
    RefreshCloseButtons();
}

// --- Sliders ---

void TFToolsPreview::SliderMouseDown(TTrackBarMouse*)
{
    const bool deblurTab = fUi->pcMain->currentWidget() == fUi->tabDeblur;
    if (fNoiseActive && !deblurTab)
        fUi->shNR->SetColors(ColorOfTColor(kOrange), ColorOfTColor(kYellow));
    if (fDeblurActive && deblurTab)
        fUi->shDB->SetColors(ColorOfTColor(kOrange), ColorOfTColor(kYellow));
    fUi->lbStatus->setText("[release slider for new result to show]");
}

// The slider is taken out of use while its update runs, then given back (with the keyboard focus
// it had).
void TFToolsPreview::SliderMouseUp(TTrackBarMouse* sender)
{
    const bool hadFocus = sender->hasFocus();
    sender->setEnabled(false);
    sender->repaint();
    UpdatePreview();
    sender->setEnabled(true);
    sender->repaint();
    if (hadFocus)
        sender->setFocus();
}

void TFToolsPreview::SliderChange(TTrackBarMouse* sender)
{
    if (!isVisible())
        return;
    Ui::TFToolsPreview& f = *fUi;
    if (fMode == 4) {
        if (sender == f.tbPreGreen) {
            f.tbPreRed->setValue(sender->value());
            f.tbPreBlue->setValue(sender->value());
        } else if (sender == f.tbNoiseRegular) {
            f.tbNoiseRed->setValue(sender->value());
            f.tbNoiseBlue->setValue(sender->value());
        }
    }
    RefreshNoiseLabels();
    if (sender != f.tbNoiseDetail && sender != f.tbNoiseBalance)
        RefreshDetailAndBalance(false);
    if (sender == f.tbFocusRadius) {
        FlagGuard quiet(fQuietKernel, true);
        fGrid->SetRadius(sender->value());
    }
    RefreshCloseButtons();
}

void TFToolsPreview::RefreshNoiseLabels()
{
    const bool mode4 = fMode == 4;
    for (int i = 0; i < kNoiseSliderCount; ++i) {
        bool stopped = fRows[size_t(i)].stop->isChecked();
        // In mode 4 the red and blue sliders follow green or regular, and their labels its stop.
        if (mode4 && (i == 1 || i == 2))
            stopped = fRows[0].stop->isChecked();
        if (mode4 && (i == 4 || i == 5))
            stopped = fRows[3].stop->isChecked();
        const auto slider = static_cast<NoiseSlider>(i);
        QLabel* label = fRows[size_t(i)].label;
        label->setText(QString::fromStdString(NoiseLabel(slider, fRows[size_t(i)].slider->value(), stopped)));
        QPalette pal = label->palette();
        pal.setColor(QPalette::WindowText, stopped ? ColorOfTColor(kMaroon) : QColor(Qt::black));
        label->setPalette(pal);
    }
}

// Detail and balance take part only while some strength is above 0.
void TFToolsPreview::RefreshDetailAndBalance(bool force)
{
    NoiseArray p{};
    for (int i = 0; i < kNoiseSliderCount; ++i)
        p[size_t(i)] = fRows[size_t(i)].slider->value();
    const NoiseRow& detail = fRows[size_t(Index(NoiseSlider::kDetail))];
    const NoiseRow& balance = fRows[size_t(Index(NoiseSlider::kBalance))];
    if (AnyStrength(p)) {
        if (force || !detail.slider->isEnabled() || !balance.slider->isEnabled()) {
            for (const NoiseRow* r : {&detail, &balance}) {
                r->stop->setVisible(true);
                r->slider->setEnabled(!r->stop->isChecked());
            }
        }
    } else {
        for (const NoiseRow* r : {&detail, &balance}) {
            r->slider->setEnabled(false);
            r->stop->setVisible(false);
        }
    }
}

void TFToolsPreview::StopClick(int index)
{
    const NoiseRow& row = fRows[size_t(index)];
    row.slider->setEnabled(!row.stop->isChecked());
    RefreshNoiseLabels();
    RefreshCloseButtons();
    UpdatePreview();
}

void TFToolsPreview::ShowStatusIdle()
{
    const QColor face = palette().color(QPalette::Button);
    fUi->shNR->SetColors(face, Qt::black);
    fUi->shDB->SetColors(face, Qt::black);
}

// --- The preview run ---

// Not re-entrant: what arrives while an update runs (a slider released, a stop, a crop) is not
// dropped but runs once more when the current update ends, so the crop always ends up showing the
// sliders as they stand.
void TFToolsPreview::UpdatePreview()
{
    if (fBusy) {
        fPendingUpdate = true;
        return;
    }
    {
        FlagGuard busy(fBusy, true);
        RefreshCloseButtons();
        do {
            fPendingUpdate = false;
            try {
                RunUpdate();
            } catch (const std::exception&) {
                fPendingUpdate = false;
                ShowError();
            }
        } while (fPendingUpdate && isVisible());
        fPendingUpdate = false;
    }
    RefreshCloseButtons();
}

void TFToolsPreview::RunUpdate()
{
    Ui::TFToolsPreview& f = *fUi;
    const bool deblurTab = f.pcMain->currentWidget() == f.tabDeblur;
    if (fDeblurActive && deblurTab)
        f.shDB->SetPen(ColorOfTColor(kBlue));
    if (fNoiseActive && !deblurTab)
        f.shNR->SetPen(ColorOfTColor(kBlue));
    f.lbStatus->setText("[working...]");
    f.lbStatus->repaint();

    NoiseArray positions{};
    NoiseFlags stops{};
    for (int i = 0; i < kNoiseSliderCount; ++i) {
        positions[size_t(i)] = fRows[size_t(i)].slider->value();
        stops[size_t(i)] = fRows[size_t(i)].stop->isChecked();
    }
    const PreviewStrengths strengths = PreviewStrengthsOf(positions, stops, fMode);
    fNoiseActive = strengths.NoiseActive();
    fDeblurActive = fGrid->AnyCellSet();

    fEngine.RunPreview(fCrop, strengths);
    f.img100->SetStretch(fZoom == 200);
    f.img100->SetBitmap(fCrop);
    f.img100->repaint();

    const QColor face = palette().color(QPalette::Button);
    f.shNR->SetColors(fNoiseActive ? ColorOfTColor(kClGreen) : face,
                      fNoiseActive ? ColorOfTColor(kLime) : QColor(Qt::black));
    f.shDB->SetColors(fDeblurActive ? ColorOfTColor(kClGreen) : face,
                      fDeblurActive ? ColorOfTColor(kLime) : QColor(Qt::black));
    f.lbStatus->setText("");
}

void TFToolsPreview::ShowError()
{
    fUi->lbStatus->setText("");
    fMessages.Show({"Whoa... that's a bug...\n\nFailed to process this DNG...", "Velloray error",
                    platform::MessageIcon::kWarning, platform::MessageButtons::kOk, true});
}

// --- Navigation and crop ---

void TFToolsPreview::imgPreviewMouseDown(QPoint position)
{
    fDragging = true;
    fCropPointX = position.x();
    fCropPointY = position.y();
    ShowStatusIdle();
    CopyZoomCrop(fCropPointX, fCropPointY);
}

void TFToolsPreview::imgPreviewMouseMove(QPoint position)
{
    if (!fDragging)
        return;
    fCropPointX = position.x();
    fCropPointY = position.y();
    CopyZoomCrop(fCropPointX, fCropPointY);
}

void TFToolsPreview::imgPreviewMouseUp()
{
    if (!fDragging)
        return;
    fDragging = false;
    UpdatePreview();
}

// The crop under a point of the navigation control, copied from the navigation picture: 512 x 368
// shown as it is at 100%, 256 x 184 stretched to the same place at 200%. Either is the top-left of
// the 512 x 368 block that the preview run processes from the same origin, so what is shown while
// the button is down is what the run shows after. Only the part inside the picture is copied.
void TFToolsPreview::CopyZoomCrop(int x, int y)
{
    if (fNavigation.IsEmpty())
        return;
    ToolsCropRequest r;
    r.clickX = x;
    r.clickY = y;
    r.pictureWidth = fNavigation.Width();
    r.pictureHeight = fNavigation.Height();
    r.cropWidth = fZoom == 200 ? 256 : 512;
    r.cropHeight = fZoom == 200 ? 184 : 368;
    const ToolsCropOrigin o = ToolsCropOriginOf(r);
    fCropX = o.x;
    fCropY = o.y;
    fCrop.SetPixelFormat(fNavigation.Format());
    fCrop.SetSize(r.cropWidth, r.cropHeight);
    fCrop.ColorTable() = fNavigation.ColorTable();
    const ToolsCropCopy c =
        ToolsCropIntersection(o, r.cropWidth, r.cropHeight, fNavigation.Width(), fNavigation.Height());
    const size_t bpp = size_t(fNavigation.BytesPerPixel());
    for (int32_t row = 0; row < c.height; ++row)
        std::memcpy(fCrop.ScanLine(c.y - o.y + row) + size_t(c.x - o.x) * bpp,
                    fNavigation.ScanLine(c.y + row) + size_t(c.x) * bpp, size_t(c.width) * bpp);
    fUi->img100->SetStretch(fZoom == 200);
    fUi->img100->SetBitmap(fCrop);
    fUi->img100->repaint();
}

void TFToolsPreview::btPercentageClick()
{
    fZoom = fZoom == 100 ? 200 : 100;
    fUi->lbPercent->setText(fZoom == 200 ? "200%" : "100%");
    CopyZoomCrop(fCropPointX, fCropPointY);
    UpdatePreview();
}

// --- The navigation picture: always the kept result, at one pixel per image pixel ---

void TFToolsPreview::RenderPrecookedNavigation()
{
    try {
        if (fEngine.DrawNavigationPrecooked(fNavigation, fGammaIndex, fEngine.MainBrightness(),
                                            fEngine.MainContrast()))
            fUi->imgPreview->SetBitmap(fNavigation);
    } catch (const std::exception&) {
        ShowError();
    }
}

void TFToolsPreview::RenderCookedPreview()
{
    try {
        const WaitCursor wait;
        if (fEngine.DrawNavigationCooked(fNavigation, fGammaIndex))
            fUi->imgPreview->SetBitmap(fNavigation);
    } catch (const std::exception&) {
        ShowError();
        return;
    }
    UpdatePreview();
}

void TFToolsPreview::cbGammaChange(int index)
{
    fGammaIndex = index;
    if (fPrecooked) {
        RenderPrecookedNavigation();
        UpdatePreview();
    } else {
        RenderCookedPreview();
    }
    fLastGammaIndex = fGammaIndex;
}

void TFToolsPreview::sbPrecookedClick()
{
    if (fPrecooked)
        return;
    fPrecooked = true;
    fUi->tbBrightness->setEnabled(true);
    fUi->tbContrast->setEnabled(true);
    RenderPrecookedNavigation();
    UpdatePreview();
}

void TFToolsPreview::sbCookedClick()
{
    if (!fPrecooked)
        return;
    fPrecooked = false;
    fUi->tbBrightness->setEnabled(false);
    fUi->tbContrast->setEnabled(false);
    RenderCookedPreview();
}

// Brightness and contrast act on the main window's sliders and on the navigation picture's
// palette; the crop follows when the slider is released.
void TFToolsPreview::tbBrightnessChange()
{
    const int v = fUi->tbBrightness->value();
    if (fNavigation.IsEmpty() || v == fEngine.MainBrightness())
        return;
    fEngine.SetMainBrightness(v);
    engine::VrelNegative::ApplyPreviewPalette(fNavigation, v, fUi->tbContrast->value());
    fUi->imgPreview->SetColorTable(fNavigation.ColorTable());
}

void TFToolsPreview::tbContrastChange()
{
    const int v = fUi->tbContrast->value();
    if (fNavigation.IsEmpty() || v == fEngine.MainContrast())
        return;
    fEngine.SetMainContrast(v);
    engine::VrelNegative::ApplyPreviewPalette(fNavigation, fUi->tbBrightness->value(), v);
    fUi->imgPreview->SetColorTable(fNavigation.ColorTable());
}

// --- Deblur tab ---

void TFToolsPreview::SyncBlurButtons()
{
    const bool focus = fGrid->GetMode() == MotionBlurGrid::kFocusDisc;
    if (focus)
        fUi->sbFocus->setChecked(true);
    else if (fGrid->GetLineKind() == MotionBlurGrid::kLineThroughCentre)
        fUi->sbLine->setChecked(true);
    else
        fUi->sbFreeGrid->setChecked(true);
    fUi->tbFocusRadius->setEnabled(focus);
    fUi->sbCenter->setVisible(focus && fGrid->AnyCellSet());
}

void TFToolsPreview::BlurChanged()
{
    RefreshCloseButtons();
    if (!fQuietKernel)
        UpdatePreview();
}

void TFToolsPreview::sbFreeGridClick()
{
    {
        FlagGuard quiet(fQuietKernel, true);
        fGrid->SetMode(MotionBlurGrid::kGridAndLine);
        fGrid->SetLineKind(MotionBlurGrid::kFreeGrid);
    }
    SyncBlurButtons();
    UpdatePreview();
}

void TFToolsPreview::sbLineClick()
{
    {
        FlagGuard quiet(fQuietKernel, true);
        fGrid->SetMode(MotionBlurGrid::kGridAndLine);
        fGrid->Clear(true);
        fGrid->SetLineKind(MotionBlurGrid::kLineThroughCentre);
    }
    SyncBlurButtons();
    UpdatePreview();
}

void TFToolsPreview::sbFocusClick()
{
    {
        FlagGuard quiet(fQuietKernel, true);
        fGrid->Clear(true);
        fGrid->SetMode(MotionBlurGrid::kFocusDisc);
    }
    SyncBlurButtons();
    UpdatePreview();
}

void TFToolsPreview::sbEraseClick()
{
    {
        FlagGuard quiet(fQuietKernel, true);
        fGrid->Clear(true);
        if (fGrid->GetMode() == MotionBlurGrid::kFocusDisc)
            fUi->tbFocusRadius->setValue(kDefaultFocusRadius);
    }
    SyncBlurButtons();
    UpdatePreview();
}

void TFToolsPreview::sbSlidersResetClick()
{
    for (TTrackBarMouse* s : {fUi->tbDark, fUi->tbBright, fUi->tbMasking, fUi->tbLowPass})
        s->setValue(0);
    UpdatePreview();
}

// --- Snapshot and closing ---

ToolsPreviewSnapshot TFToolsPreview::Current() const
{
    ToolsPreviewSnapshot s;
    for (int i = 0; i < kNoiseSliderCount; ++i)
        s.noise[size_t(i)] = fRows[size_t(i)].slider->value();
    s.deblur.lowPass = fUi->tbLowPass->value();
    s.deblur.masking = fUi->tbMasking->value();
    s.deblur.dark = fUi->tbDark->value();
    s.deblur.bright = fUi->tbBright->value();
    s.deblur.focusRadius = fUi->tbFocusRadius->value();
    return s;
}

bool TFToolsPreview::Changed() const
{
    return !(Current() == fSnapshot) || !SameKernel(*fGrid, *fSnapshotGrid);
}

void TFToolsPreview::TakeSnapshot()
{
    fSnapshot = Current();
    CopyKernel(*fSnapshotGrid, *fGrid);
}

// The sliders, the masking and the kernel as they were last applied.
void TFToolsPreview::RestoreSnapshot()
{
    FlagGuard quiet(fQuietKernel, true);
    for (int i = 0; i < kNoiseSliderCount; ++i)
        fRows[size_t(i)].slider->setValue(fSnapshot.noise[size_t(i)]);
    fUi->tbLowPass->setValue(fSnapshot.deblur.lowPass);
    fUi->tbMasking->setValue(fSnapshot.deblur.masking);
    fUi->tbDark->setValue(fSnapshot.deblur.dark);
    fUi->tbBright->setValue(fSnapshot.deblur.bright);
    {
        const QSignalBlocker block(fUi->tbFocusRadius);
        fUi->tbFocusRadius->setValue(fSnapshot.deblur.focusRadius);
    }
    if (!SameKernel(*fGrid, *fSnapshotGrid) || fGrid->GetMode() != fSnapshotGrid->GetMode() ||
        fGrid->GetLineKind() != fSnapshotGrid->GetLineKind() || fGrid->FocusRadius() != fSnapshotGrid->FocusRadius())
        CopyKernel(*fGrid, *fSnapshotGrid);
    SyncBlurButtons();
    RefreshNoiseLabels();
    fUi->blurPanel->update();
}

// The apply action and "Close: keep changes" are offered while something differs from the
// snapshot or a kernel is drawn (the photo is then deblurred), and never while an update runs.
void TFToolsPreview::RefreshCloseButtons()
{
    const bool offered = !fBusy && (Changed() || fGrid->AnyCellSet());
    fUi->btApply->setEnabled(offered);
    fUi->btCloseKeep->setEnabled(offered);
    fUi->btCloseCancel->setEnabled(!fBusy);
}

void TFToolsPreview::actionChangedExecute()
{
    if (fBusy)
        return;
    TakeSnapshot();
    done(kResultApply);
}

void TFToolsPreview::btCloseKeepClick()
{
    if (fBusy)
        return;
    if (Changed())
        fChangesKept = true;
    TakeSnapshot();
    done(kResultKeep);
}

void TFToolsPreview::btCloseCancelClick()
{
    if (fBusy)
        return;
    CancelChanges();
    done(kResultCancel);
}

// Back to the snapshot; a crop computed with the values given up is replaced by the plain crop,
// so that the next showing does not present it as the result of the sliders.
void TFToolsPreview::CancelChanges()
{
    const bool changed = Changed();
    RestoreSnapshot();
    if (!changed)
        return;
    fNoiseActive = fDeblurActive = false;
    ShowStatusIdle();
    CopyZoomCrop(fCropPointX, fCropPointY);
}

// Closing by the window's button: values that differ from the snapshot are lost, after a question;
// Yes puts the snapshot back, as "Close: cancel changes" does.
void TFToolsPreview::reject()
{
    if (fBusy)
        return;
    if (Changed()) {
        const platform::MessageResult answer = fMessages.Show(
            {"Values have changed and will be lost if you close this window.\n\nClosing window: are you sure?",
             "Values changed...", platform::MessageIcon::kQuestion, platform::MessageButtons::kYesNo, true, true});
        if (answer != platform::MessageResult::kYes)
            return;
        CancelChanges();
    }
    done(kResultCancel);
}

} // namespace ui
