#include "ui/main.h"

#include "ui_main.h"

#include "engine/kelvin_slider.h"
#include "engine/output_naming.h"
#include "platform/dead_pixel_store.h"
#include "ui/about.h"
#include "ui/deadpixellist.h"
#include "ui/deadpixels.h"
#include "ui/gradient.h"
#include "ui/update_check.h"
#include "ui/url_opener.h"
#include "ui/explorer.h"
#include "ui/logic/tools_crop.h"
#include "ui/tcolor.h"
#include "ui/tools_preview_engine.h"
#include "ui/toolspreview.h"
#include "ui/logic/crop_geometry.h"
#include "ui/logic/folder_write_test.h"
#include "ui/logic/main_enabling.h"
#include "ui/logic/main_labels.h"
#include "ui/logic/main_settings.h"
#include "ui/logic/program_globals.h"
#include "ui/wait_cursor.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <exception>

namespace ui {

namespace {

// File names go to the engine in the file system's own encoding, and come back the same way.
std::string ToPath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QString FromPath(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

constexpr const char* kSelectPhotoText = "Click 'Start working' to convert to monochrome...";

// Colours of the filter and white-balance marks, as 0x00BBGGRR values.
constexpr uint32_t kGreyPen = tcolor::kSilver;
constexpr uint32_t kDarkPen = tcolor::kGrey;
using tcolor::kBlue;
using tcolor::kGreen;
using tcolor::kRed;
using tcolor::kYellow;

} // namespace

TFMain::TFMain(const TFMainServices& services, QWidget* parent)
    : QMainWindow(parent), fUi(std::make_unique<Ui::TFMain>()), fSettingsPath(services.settingsFile), fConvert(*this)
{
    fUi->setupUi(this);
    if (services.messageBoxes) {
        fBoxes = services.messageBoxes;
    } else {
        fOwnBoxes = std::make_unique<QtMessageBoxService>(this);
        fBoxes = fOwnBoxes.get();
    }
    if (services.fileDialogs) {
        fDialogs = services.fileDialogs;
    } else {
        fOwnDialogs = std::make_unique<QtFileDialogs>();
        fDialogs = fOwnDialogs.get();
    }
    if (services.urlOpener) {
        fOpener = services.urlOpener;
    } else {
        fOwnOpener = std::make_unique<DesktopUrlOpener>();
        fOpener = fOwnOpener.get();
    }
    fGradient = new TFGradient(this);
    fUpdateCheck = new UpdateCheck(*fBoxes, *fOpener, this);
    connect(fUpdateCheck, &UpdateCheck::finished, this, &TFMain::ApplyEnabling);
    fProgressControl = std::make_unique<QtProgressBarControl>(fUi->pbStatus);
    fStatusControl = std::make_unique<QtLabelControl>(fUi->lbStatus);
    fToolsEngine = std::make_unique<DriverToolsPreviewEngine>(
        fConvert, *this, [this](int v) { fUi->tbBrightness->setValue(v); },
        [this](int v) { fUi->tbContrast->setValue(v); });
    fToolsPreview = std::make_unique<TFToolsPreview>(*fToolsEngine, *fBoxes, this);

    fBrightness = fUi->tbBrightness->value();
    fContrast = fUi->tbContrast->value();
    fUi->tbStrength->setPageStep(1);
    fUi->tbKelvin->setPageStep(10);
    fUi->imgJPG->SetStretch(true);
    fUi->imgPreview->SetStretch(true);
    fUi->img100->SetStretch(false);
    // The picture areas show as grey fields while they are empty.
    for (BitmapView* view : {fUi->imgJPG, fUi->imgPreview, fUi->img100}) {
        QPalette field = view->palette();
        field.setColor(QPalette::Window, field.color(QPalette::Mid));
        view->setPalette(field);
    }
    fUi->btCancel->setEnabled(false);
    fUi->btCancel->installEventFilter(this);
    fUi->lbPhoto->hide();
    fUi->lbBatchProcessing->hide();
    fUi->lbNoiseValuesChanged->hide();
    fUi->lbLeicaTDistortion->hide();
    fUi->pnInterpolationWarning->hide();
    fUi->sbBrowse->hide();
    fUi->lbFolder->setEnabled(false);
    fUi->cbLeicaTNoCorrection->setEnabled(false);

    if (Globals().pluginMode) {
        fUi->explorerHost->hide();
        fUi->gbExport->hide();
    } else {
        fExplorer = new Explorer(fUi->explorerHost);
        fExplorer->setObjectName("explorer");
        fUi->explorerHost->layout()->addWidget(fExplorer);
        connect(fExplorer, &Explorer::folderClicked, this, &TFMain::tvExploreClick);
        connect(fExplorer, &Explorer::photoSelectionChanged, this, &TFMain::lvExploreSelectionChanged);
    }

    connect(fUi->cbAutoSave, &QCheckBox::toggled, this, &TFMain::cbAutoSaveClick);
    connect(fUi->sbBrowse, &QToolButton::clicked, this, &TFMain::sbBrowseClick);
    connect(fUi->cbFilter, &QComboBox::currentIndexChanged, this, &TFMain::cbFilterChange);
    connect(fUi->tbStrength, &QSlider::valueChanged, this, &TFMain::tbStrengthChange);
    connect(fUi->tbKelvin, &QSlider::valueChanged, this, &TFMain::tbKelvinChange);
    connect(fUi->cbBayerStripped, &QCheckBox::toggled, this, &TFMain::cbBayerStrippedClick);
    connect(fUi->cbNICorrectG1G2, &QCheckBox::toggled, this, &TFMain::cbNICorrectG1G2Click);
    connect(fUi->cbNICorrectRB, &QCheckBox::toggled, this, &TFMain::cbNICorrectRBClick);
    connect(fUi->rbG1G2Auto, &QRadioButton::toggled, this, &TFMain::ApplyEnabling);
    connect(fUi->cbUseGradient, &QCheckBox::toggled, this, &TFMain::cbUseGradientClick);
    connect(fUi->cbBilinear, &QCheckBox::toggled, this, &TFMain::cbBilinearClick);
    connect(fUi->btCalculate, &QPushButton::clicked, this, &TFMain::btCalculateClick);
    connect(fUi->btCancel, &QPushButton::clicked, this, &TFMain::btCancelClick);
    connect(fUi->btSaveAs, &QPushButton::clicked, this, &TFMain::btSaveAsClick);
    connect(fUi->btClose, &QPushButton::clicked, this, &TFMain::btCloseClick);
    connect(fUi->btAbout, &QPushButton::clicked, this, &TFMain::btAboutClick);
    connect(fUi->btUpdate, &QPushButton::clicked, this, &TFMain::btUpdateClick);
    connect(fUi->btNoisePreview, &QPushButton::clicked, this, &TFMain::btNoisePreviewClick);
    connect(fUi->btNRReset, &QPushButton::clicked, this, &TFMain::btNRResetClick);
    connect(fUi->btDeadPixels, &QPushButton::clicked, this, &TFMain::btDeadPixelsClick);
    connect(fUi->sbDeadPixelList, &QToolButton::clicked, this, &TFMain::sbDeadPixelListClick);
    connect(fUi->sbGradient, &QToolButton::clicked, this, &TFMain::sbGradientClick);
    connect(fUi->cbGamma, &QComboBox::currentIndexChanged, this, &TFMain::cbGammaChange);
    connect(fUi->tbBrightness, &QSlider::valueChanged, this, &TFMain::tbBrightnessChange);
    connect(fUi->tbContrast, &QSlider::valueChanged, this, &TFMain::tbContrastChange);
    // The preview buttons follow their state, however it changes (mouse, keyboard, assistive
    // technology, the program): the kind button that goes down does the work.
    connect(fUi->sbPrecooked, &QToolButton::toggled, this, [this](bool down) {
        if (down)
            sbPrecookedClick();
    });
    connect(fUi->sbCooked, &QToolButton::toggled, this, [this](bool down) {
        if (down)
            sbCookedClick();
    });
    connect(fUi->sbClipping, &QToolButton::toggled, this, &TFMain::sbClippingClick);
    connect(fUi->imgPreview, &BitmapView::MouseDown, this, &TFMain::imgPreviewMouseDown);
    connect(fUi->imgPreview, &BitmapView::MouseMove, this, &TFMain::imgPreviewMouseMove);
    connect(fUi->imgPreview, &BitmapView::MouseUp, this, &TFMain::imgPreviewMouseUp);

    cbFilterChange();
    tbStrengthChange();
}

TFMain::~TFMain() = default;

// ---------------------------------------------------------------------------------------------
// Start and settings

void TFMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!fShown) {
        fShown = true;
        FormShow();
    }
}

void TFMain::FormShow()
{
    if (fSettingsPath.empty())
        fSettingsPath = platform::IniFile::DefaultLocation().file;
    fSettings = std::make_unique<platform::IniFile>(fSettingsPath);
    ReadSettings();
    if (fExplorer)
        fExplorer->Start();
    else
        LoadPluginPhoto();
    ClearResultPreview();
    UpdateDeadPixelControls(); // no photo yet: the list button stays hidden
}

void TFMain::ReadSettings()
{
    const PersistentSettings s = ReadPersistentSettings(*fSettings);
    fUi->cbNICorrectG1G2->setChecked(s.niCorrectG1G2);
    fUi->cbNICorrectRB->setChecked(s.niCorrectRB);
    if (s.niOn) {
        fWarnNonInterpolated = false;
        fUi->cbBayerStripped->setChecked(true);
    }
    const QString folder = QString::fromStdString(s.autoSavePath);
    if (s.autoSavePath != kNoFolder && QFileInfo(folder).isDir()) {
        fFolderCheckArmed = false;
        fUi->lbFolder->setText(folder);
        fUi->cbAutoSave->setChecked(s.autoSave);
        fFolderCheckArmed = true;
    }
}

void TFMain::WriteSetting(const char* key, bool value)
{
    if (fSettings)
        fSettings->WriteBool(kSettingsSection, key, value);
}

void TFMain::WriteSetting(const char* key, const std::string& value)
{
    if (fSettings)
        fSettings->WriteString(kSettingsSection, key, value);
}

bool TFMain::CheckWritable(const QString& folder)
{
    if (CanCreateFilesIn(ToPath(folder)))
        return true;
    fBoxes->Show({"Velloray does not have permission to write to the selected folder.\n\n"
                  "Select another folder or check the folder's permissions.",
                  "No permission", platform::MessageIcon::kWarning, platform::MessageButtons::kOk, true});
    return false;
}

// ---------------------------------------------------------------------------------------------
// Explorer and the current photo

bool TFMain::PhotoChosen() const
{
    if (!fExplorer)
        return !fPhotoPath.isEmpty();
    return !fPhotoPath.isEmpty() && !fExplorer->SelectedPaths().isEmpty();
}

bool TFMain::ConfirmDiscard()
{
    if (!fResultUnsaved || !fConvert.fResultReady)
        return true;
    const platform::MessageResult answer = fBoxes->Show(
        {"You didn't save your previous result... discard that one?\n\n"
         "Turn on 'Auto save' if you don't want to be bothered by this question anymore.",
         "Discard result", platform::MessageIcon::kQuestion, platform::MessageButtons::kYesNo, true});
    if (answer != platform::MessageResult::kYes)
        return false;
    fResultUnsaved = false;
    return true;
}

void TFMain::tvExploreClick()
{
    if (fRunActive)
        return;
    fSettingsChanged = true; // the tools stay off until a photo is converted again
    fPhotoPath.clear();
    fSelection.clear();
    if (fExplorer && fExplorer->SelectedPaths().isEmpty()) {
        ClearEmbeddedPreview();
        fUi->lbModel->clear();
    }
    ApplyEnabling();
}

void TFMain::lvExploreSelectionChanged()
{
    if (fRunActive || !fExplorer)
        return;
    const QStringList selected = fExplorer->SelectedPaths();
    // Only a new first photo is loaded: adding photos after it, or emptying the selection,
    // loads nothing.
    if (selected.isEmpty() || selected.constFirst() == fPhotoPath) {
        if (!selected.isEmpty())
            fSelection = selected; // what a "No" to discarding the result goes back to
        ApplyEnabling();
        return;
    }
    if (!ConfirmDiscard()) {
        fExplorer->SelectPaths(fSelection);
        return;
    }
    fSelection = selected;
    LoadPhoto(selected.constFirst());
}

void TFMain::LoadPluginPhoto()
{
    if (!Globals().pluginMode || fRunActive)
        return;
    LoadPhoto(FromPath(Globals().pluginPhotoPath));
}

void TFMain::LoadPhoto(const QString& path)
{
    fPhotoPath = path;
    if (!QFileInfo(path).isFile()) {
        // A missing photo is said to be missing, not taken for a damaged one.
        fPhotoPath.clear();
        ClearEmbeddedPreview();
        fUi->lbModel->clear();
        fBoxes->Show({"The photo\n" + ToPath(path) + "\ncan't be found.", "Photo not found",
                      platform::MessageIcon::kWarning, platform::MessageButtons::kOk, true});
    } else {
        WaitCursor hourglass;
        fConvert.ReadEmbeddedPreview(ToPath(path));
    }
    // The engine dropped the previous photo and its result.
    fResultUnsaved = false;
    fLastRunBatch = false;
    fSettingsChanged = false;
    const bool leicaT = fConvert.fCameraCode == 3;
    fUi->lbLeicaTDistortion->setVisible(leicaT);
    if (!leicaT)
        fUi->cbLeicaTNoCorrection->setChecked(false);
    ClearResultPreview();
    fUi->lbStatus->setText(fPhotoPath.isEmpty() ? QString() : QString(kSelectPhotoText));
    fUi->lbNoiseValuesChanged->hide();
    ResetToolsPreviewImages();
    ResetToolsPreviewSliders();
    UpdateDeadPixelControls();
}

// ---------------------------------------------------------------------------------------------
// Options

void TFMain::cbAutoSaveClick()
{
    const bool checked = fUi->cbAutoSave->isChecked();
    fUi->sbBrowse->setVisible(checked);
    fUi->lbFolder->setEnabled(checked);
    const QString folder = fUi->lbFolder->text();
    bool writable = true;
    if (checked && fFolderCheckArmed && folder != kNoFolder)
        writable = CheckWritable(folder);
    if ((fFolderCheckArmed && checked && !QFileInfo(folder).isDir()) || !writable)
        sbBrowseClick();
    WriteSetting(kKeyAutoSave, fUi->cbAutoSave->isChecked());
    fFolderCheckArmed = true;
    ApplyEnabling();
}

void TFMain::sbBrowseClick()
{
    bool writable = true;
    const QString chosen = fDialogs->ChooseFolder(this, "Select path for storage...");
    if (!chosen.isEmpty()) {
        writable = CheckWritable(chosen);
        if (writable) {
            fUi->lbFolder->setText(chosen);
            WriteSetting(kKeyAutoSavePath, chosen.toStdString());
        } else {
            fUi->lbFolder->setText(kNoFolder); // a folder that failed the test is not offered
        }
    }
    const QString folder = fUi->lbFolder->text();
    if (folder == kNoFolder || !QFileInfo(folder).isDir() || !writable) {
        fFolderCheckArmed = false;
        fUi->lbFolder->setText(kNoFolder);
        if (fUi->cbAutoSave->isChecked())
            fUi->cbAutoSave->setChecked(false); // its handler runs
        fFolderCheckArmed = true;
        WriteSetting(kKeyAutoSavePath, std::string(kNoFolder));
    }
}

void TFMain::UpdateFilterShapes(int method)
{
    const QColor face = palette().button().color();
    if (method == 0) {
        for (ShapeWidget* s : {fUi->shFilterWeak, fUi->shFilterStrong, fUi->shWBLeft, fUi->shWBRight})
            s->SetColors(face, ColorOfTColor(kGreyPen));
        return;
    }
    if (method < 3) {
        fUi->shWBLeft->SetColors(face, ColorOfTColor(kGreyPen));
        fUi->shWBRight->SetColors(face, ColorOfTColor(kGreyPen));
    } else {
        fUi->shWBLeft->SetColors(ColorOfTColor(kBlue), ColorOfTColor(kDarkPen));
        fUi->shWBRight->SetColors(ColorOfTColor(kYellow), ColorOfTColor(kDarkPen));
    }
    uint32_t weak = 0xC1C1FF, strong = kRed; // red methods
    if (method == 4) {
        weak = 0xC1FFC5;
        strong = kGreen;
    } else if (method == 2 || method == 5) {
        weak = 0xFFDFDF;
        strong = kBlue;
    }
    fUi->shFilterWeak->SetColors(ColorOfTColor(weak), ColorOfTColor(kDarkPen));
    fUi->shFilterStrong->SetColors(ColorOfTColor(strong), ColorOfTColor(kDarkPen));
}

void TFMain::cbFilterChange()
{
    if (fRunActive)
        return;
    const int method = fUi->cbFilter->currentIndex();
    // A filter method coming from "Regular" or a RAW method reads the photo again (an RGB method
    // needs its own white), which drops the result.
    const bool reread = method >= 1 && fPrevMethod < 3 && PhotoChosen();
    if (method != fPrevMethod) {
        if (reread && !ConfirmDiscard()) {
            const QSignalBlocker quiet(fUi->cbFilter);
            fUi->cbFilter->setCurrentIndex(fPrevMethod);
            return;
        }
        ChangeReset();
        fConvert.fMethod = method;
    }
    UpdateFilterShapes(method);
    if (method < 3)
        fUi->lbTemp->setText("----");
    else
        fUi->lbTemp->setText(QString::fromStdString(TemperatureLabel(fUi->tbKelvin->value())));
    const int previous = fPrevMethod;
    fPrevMethod = method;
    if (reread && previous != method)
        LoadPhoto(fPhotoPath);
    ApplyEnabling();
}

void TFMain::tbStrengthChange()
{
    const int position = fUi->tbStrength->value();
    fUi->lbPercentage->setText(QString::fromStdString(StrengthLabel(position)));
    if (position != fPrevStrength && !fRunActive) {
        ChangeReset();
        fConvert.fStrengthRed = position;
        fConvert.fStrengthBlue = position;
    }
    fPrevStrength = position;
}

void TFMain::tbKelvinChange()
{
    const int position = fUi->tbKelvin->value();
    fUi->lbTemp->setText(QString::fromStdString(TemperatureLabel(position)));
    if (position != fPrevKelvin && !fRunActive)
        ChangeReset();
    fPrevKelvin = position;
}

void TFMain::cbBayerStrippedClick()
{
    fNonInterpolated = fUi->cbBayerStripped->isChecked();
    if (fNonInterpolated) {
        if (fWarnNonInterpolated)
            fBoxes->Show({"Note: this option is only meant for DNGs produced by modified color cameras that had "
                          "their Bayer filter removed or altered.\n\nIf you use it on DNGs produced by regular "
                          "color cameras the result will be a non-interpolated monochrome DNG (not pretty).",
                          "Attention", platform::MessageIcon::kWarning, platform::MessageButtons::kOk, true});
        fUi->pnInterpolationWarning->show();
        fUi->pnInterpolationWarning->raise();
        fUi->gbQuality->hide();
        fUi->gbFilterOptions->hide();
        fUi->gbTools->hide();
        fUi->cbBilinear->setChecked(false);
        fUi->cbFilter->setCurrentIndex(0); // its handler runs when the method changes
        cbFilterChange();
    } else {
        fUi->pnInterpolationWarning->hide();
        fWarnNonInterpolated = true;
        fUi->gbQuality->show();
        fUi->gbFilterOptions->show();
        fUi->gbTools->show();
        btNRResetClick();
    }
    WriteSetting(kKeyNIOn, fNonInterpolated);
    ApplyEnabling();
}

void TFMain::cbNICorrectG1G2Click()
{
    WriteSetting(kKeyNICorrectG1G2, fUi->cbNICorrectG1G2->isChecked());
    ApplyEnabling();
}

void TFMain::cbNICorrectRBClick()
{
    WriteSetting(kKeyNICorrectRB, fUi->cbNICorrectRB->isChecked());
}

void TFMain::cbUseGradientClick()
{
    ChangeReset();
    ApplyEnabling();
}

void TFMain::cbBilinearClick()
{
    if (PhotoChosen() && !fRunActive)
        fUi->lbStatus->setText(kSelectPhotoText);
    ChangeReset();
    ApplyEnabling();
}

void TFMain::ChangeReset()
{
    fSettingsChanged = true;
    fUi->lbNoiseValuesChanged->hide();
    ResetToolsPreviewImages();
    ResetToolsPreviewSliders();
    ApplyEnabling();
}

// ---------------------------------------------------------------------------------------------
// The run

void TFMain::btCalculateClick()
{
    if (fRunActive || !fControlsEnabled)
        return;
    const int selected = fExplorer ? static_cast<int>(fExplorer->SelectedPaths().size()) : 1;
    if (selected >= 2 && !fUi->cbAutoSave->isChecked()) {
        fBoxes->Show({"You have selected multiple DNGs in the list on the left, but auto save is turned off.\n\n"
                      "Batch processing doesn't work without auto save...\n\nSelect only one DNG or turn on "
                      "auto save.",
                      "Can not batch process...", platform::MessageIcon::kInformation,
                      platform::MessageButtons::kOk, true});
        return;
    }
    if (!ConfirmDiscard())
        return;
    fUi->lbLeicaTDistortion->hide();
    if (fUi->cbBayerStripped->isChecked()) {
        int value = 0;
        if (!ParseG1G2Entry(fUi->edG1G2Manually->text().toStdString(), value)) {
            fBoxes->Show({"Value needs to be between 50 and 10000", "Invalid entry", platform::MessageIcon::kError,
                          platform::MessageButtons::kOk, true});
            fUi->edG1G2Manually->setText("50");
            fUi->edG1G2Manually->setFocus();
            return;
        }
        fG1G2AtStart = std::to_string(value);
    } else {
        fG1G2AtStart = fUi->edG1G2Manually->text().toStdString();
    }
    fHalfSizeRun = fUi->cbBilinear->isChecked();

    fRunActive = true;
    fUi->lbNoiseValuesChanged->hide();
    EnableControls(false);
    fUi->btCancel->setEnabled(true);
    fUi->btCancel->repaint();
    fResultUnsaved = true;
    fConvert.fMethod = fUi->cbFilter->currentIndex();
    fConvert.fStrengthRed = fUi->tbStrength->value();
    fConvert.fStrengthBlue = fUi->tbStrength->value();
    fToolsMode = ToolsPreviewMode(fConvert.fMethod, fUi->tbStrength->value(), kStrengthMaximum);
    fRunMethod = fConvert.fMethod;
    fRunStrength = fConvert.fStrengthRed;

    bool ok = false;
    try {
        ok = ProcessSelection();
    } catch (const std::exception&) {
        ok = false;
    }
    // What is left to save: nothing after a refusal, a cancel or a failure of the last photo, and
    // nothing when auto save has written it.
    if (!ok || !fConvert.fResultReady || !fConvert.fWrittenPath.empty())
        fResultUnsaved = false;

    if (fCancelCursor) {
        fCancelCursor = false;
        QApplication::changeOverrideCursor(Qt::WaitCursor);
    }
    fUi->btCancel->setEnabled(false);
    // A cancel that came after the last checkpoint changes nothing and is forgotten.
    fConvert.fCancelRequest = false;
    if (fConvert.fNegative)
        fConvert.fNegative->fCancelRequested = false;
    fLastRunBatch = fBatchRunning;
    fSettingsChanged = false;
    fRunActive = false;
    EnableControls(true);
    UpdateDeadPixelControls();
    DrawPreview();
    fUi->lbNoiseValuesChanged->hide();
    fBatchRunning = false;
    if (fCloseRequested)
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

bool TFMain::ProcessSelection()
{
    bool result = false;
    const QStringList items =
        fExplorer ? fExplorer->SelectedPaths() : QStringList{FromPath(Globals().pluginPhotoPath)};
    if (items.isEmpty())
        return false;
    fUi->lbPhoto->show();
    fUi->lbStatus->setText("Loading...");
    fUi->lbStatus->repaint();
    if (items.size() > 1) {
        fUi->lbBatchProcessing->show();
        fBatchRunning = true;
    }
    const int count = static_cast<int>(items.size());
    for (int i = 0; i < count; ++i) {
        fUi->lbPhoto->setText(QString::fromStdString(PhotoCounterLabel(i + 1, count)));
        const QString& path = items[i]; // as it is: a name may end with a blank
        const QString name = QFileInfo(path).fileName();
        ClearResultPreview();
        fUi->imgPreview->repaint();
        if (FileKind(ToPath(name)) == kFileKindDng) {
            RepaintExplorer();
            try {
                int32_t r = 0;
                {
                    WaitCursor hourglass;
                    r = fConvert.OpenAndIdentify(ToPath(path), ToPath(name));
                }
                if (r == engine::kResultStopped) {
                    // The engine told the user why; the rest of the selection waits.
                    fUi->lbPhoto->hide();
                    fUi->lbBatchProcessing->hide();
                    fBatchRunning = false;
                    return false;
                }
                result = true;
                if (fConvert.fAutoSaveFolderProblem) {
                    // The user has been told that the folder is gone: the other photos would be
                    // converted only to be lost. This photo's result stays, shown (a batch shows
                    // none while it runs) and to be saved by hand.
                    fUi->lbPhoto->hide();
                    fUi->lbBatchProcessing->hide();
                    if (fBatchRunning && fConvert.fResultReady)
                        DrawResultPreview();
                    fBatchRunning = false;
                    return fConvert.fResultReady;
                }
            } catch (const std::exception&) {
                ClearResultPreview();
                result = false;
            }
        }
        if (fCloseRequested)
            break; // the window is closing: no further photo
        if (i + 1 < count) {
            fUi->pbStatus->setValue(0);
            fUi->lbStatus->setText("Loading next...");
            fUi->lbStatus->repaint();
        }
    }
    fUi->lbPhoto->hide();
    fUi->lbBatchProcessing->hide();
    fUi->pbStatus->setValue(0);
    fUi->lbStatus->setText("Done...");
    fUi->lbStatus->repaint();
    return result;
}

void TFMain::EnableControls(bool enable)
{
    fControlsEnabled = enable;
    ApplyEnabling();
    // The keyboard goes on in the photo list: Down selects the next photo.
    if (enable && fExplorer)
        fExplorer->List()->setFocus();
    fUi->btSaveAs->repaint();
}

void TFMain::ApplyEnabling()
{
    EnablingInputs in;
    in.enable = fControlsEnabled && !fRunActive;
    in.photoChosen = PhotoChosen();
    in.resultReady = fConvert.fResultReady;
    in.autoSave = fUi->cbAutoSave->isChecked();
    in.batchRunning = fLastRunBatch || fBatchRunning;
    in.halfSizeRun = fHalfSizeRun;
    in.bayerStripped = fUi->cbBayerStripped->isChecked();
    in.cooked = !fPrecooked;
    in.method = fUi->cbFilter->currentIndex();
    in.useGradient = fUi->cbUseGradient->isChecked();
    in.leicaT = fConvert.fCameraCode == 3 && !fPhotoPath.isEmpty();
    in.correctG1G2 = fUi->cbNICorrectG1G2->isChecked();
    in.g1g2Manual = fUi->rbG1G2Manually->isChecked();
    in.settingsChanged = fSettingsChanged;
    const ControlStates s = ComputeEnabling(in);

    if (fExplorer)
        fExplorer->setEnabled(s.explorer);
    fUi->cbFixDeadPixels->setEnabled(s.fixDeadPixels && fDeadPixelsListed);
    fUi->sbDeadPixelList->setEnabled(s.deadPixelList && fDeadPixelsListed);
    fUi->cbFilter->setEnabled(s.qualityAndExport);
    fUi->tbStrength->setEnabled(s.strength);
    fUi->lbPercentage->setEnabled(s.strength);
    fUi->lbStrength->setEnabled(s.strength);
    fUi->tbKelvin->setEnabled(s.kelvin);
    fUi->lbTemp->setEnabled(s.kelvin);
    fUi->lbWhiteBalance->setEnabled(s.kelvin);
    fUi->cbUseGradient->setEnabled(s.useGradient);
    fUi->sbGradient->setEnabled(s.gradient);
    fUi->cbAutoSave->setEnabled(s.qualityAndExport);
    fUi->sbBrowse->setEnabled(s.qualityAndExport);
    fUi->btSaveAs->setEnabled(s.saveAs);
    if (!in.leicaT)
        fUi->cbLeicaTNoCorrection->setChecked(false);
    fUi->cbLeicaTNoCorrection->setEnabled(s.leicaTNoCorrection);

    fUi->btCalculate->setEnabled(s.calculate);
    fUi->cbBilinear->setEnabled(s.bilinear);
    fUi->cbBayerStripped->setEnabled(s.bayerStripped);
    fUi->tbBrightness->setEnabled(s.brightnessContrast);
    fUi->tbContrast->setEnabled(s.brightnessContrast);
    fUi->lbBrightness->setEnabled(s.brightnessContrast);
    fUi->lbContrast->setEnabled(s.brightnessContrast);
    fUi->sbPrecooked->setEnabled(s.previewKind);
    fUi->sbCooked->setEnabled(s.previewKind);
    fUi->cbGamma->setEnabled(s.gamma);
    fUi->sbClipping->setEnabled(s.clipping);
    fUi->imgPreview->setEnabled(s.previewMouse);
    // Pixels can only be registered for a photo that names its camera body.
    fUi->btDeadPixels->setEnabled(s.deadPixels && TFDeadPixels::CanRegister(fConvert.fCameraSerial));
    fUi->btNoisePreview->setEnabled(s.noisePreview);
    fUi->btNRReset->setEnabled(s.noiseReset);
    fUi->btAbout->setEnabled(s.aboutAndUpdate);
    fUi->btUpdate->setEnabled(s.aboutAndUpdate && !fUpdateCheck->Running());

    fUi->cbNICorrectG1G2->setEnabled(s.niPanel);
    fUi->cbNICorrectRB->setEnabled(s.niPanel);
    fUi->rbG1G2Auto->setEnabled(s.g1g2Mode);
    fUi->rbG1G2Manually->setEnabled(s.g1g2Mode);
    fUi->edG1G2Manually->setEnabled(s.g1g2Entry);
    fUi->lbG1G2->setEnabled(s.g1g2Entry);
}

void TFMain::btCancelClick()
{
    if (!fRunActive)
        return;
    fUi->lbStatus->setText("Cancelling...");
    fUi->lbStatus->repaint();
    fUi->btCancel->setEnabled(false);
    fUi->btCancel->repaint();
    // The unsaved flag is settled when the run returns: a cancel that comes after the last
    // checkpoint leaves a finished result, which must still be offered for saving.
    fConvert.fCancelRequest = true;
    if (fConvert.fNegative)
        fConvert.fNegative->fCancelRequested = true;
}

void TFMain::btSaveAsClick()
{
    if (fRunActive || !fConvert.fResultReady)
        return;
    // Proposed: the photo's folder and the name auto save would give the result.
    const QFileInfo source(FromPath(fConvert.fSourcePath));
    const std::string name =
        engine::ResultFileName(ToPath(source.fileName()), fRunMethod, fRunMethod, fRunStrength, kStrengthMaximum);
    const QString file = fDialogs->ChooseSaveFile(this, "Save DNG", source.dir().filePath(FromPath(name)));
    if (file.isEmpty())
        return;
    EnableControls(false);
    try {
        WaitCursor hourglass;
        fConvert.WriteMonochromeDng(ToPath(file));
        fResultUnsaved = false;
    } catch (const std::exception& e) {
        fBoxes->Show({"The result could not be saved as\n" + ToPath(file) + "\n\n" + e.what(), "Save failed",
                      platform::MessageIcon::kWarning, platform::MessageButtons::kOk, true});
    }
    EnableControls(true);
}

void TFMain::btCloseClick()
{
    close();
}

void TFMain::closeEvent(QCloseEvent* event)
{
    if (fRunActive) {
        // The run is inside the engine: cancel it and close once it has returned.
        fCloseRequested = true;
        btCancelClick();
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

bool TFMain::eventFilter(QObject* watched, QEvent* event)
{
    // The arrow over Cancel while the hourglass shows, so that the button looks clickable.
    if (watched == fUi->btCancel) {
        if (event->type() == QEvent::Enter && QApplication::overrideCursor() &&
            QApplication::overrideCursor()->shape() == Qt::WaitCursor) {
            QApplication::changeOverrideCursor(Qt::ArrowCursor);
            fCancelCursor = true;
        } else if (event->type() == QEvent::Leave && fCancelCursor) {
            fCancelCursor = false;
            if (QApplication::overrideCursor())
                QApplication::changeOverrideCursor(Qt::WaitCursor);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFMain::ProcessMessages()
{
    QCoreApplication::processEvents();
}

// ---------------------------------------------------------------------------------------------
// Windows that come later

void TFMain::btAboutClick()
{
    if (fRunActive)
        return;
    TFAbout about(this);
    about.exec();
}

void TFMain::btUpdateClick()
{
    if (fRunActive || fUpdateCheck->Running())
        return;
    fUpdateCheck->Start(); // the button stays off until it has finished
    ApplyEnabling();
}

// The tools preview on the current result. Its preview runs convert their crop on a negative of
// their own: unless the photo is converted again, the result is put back and shown.
void TFMain::btNoisePreviewClick()
{
    if (fRunActive || !fConvert.fResultReady)
        return;
    if (fToolsPreview->NeedsImage())
        fToolsPreview->SetNoisePreviewImage(fPreviewBitmap);
    fToolsPreview->SetCropPoint(fClickX, fClickY);
    fToolsPreview->SetMode(fToolsMode);
    const int result = fToolsPreview->exec();
    // The result goes back first: "apply" may still end without a new conversion (an unsaved
    // result kept, a batch without auto save, an invalid entry), and then it is still the one to
    // show and to save.
    fConvert.RestoreStage2Image();
    if (result == TFToolsPreview::kResultApply) {
        // The tuned values wait for the next run, which hides the note when it starts; a run that
        // does not start leaves the note saying so.
        fUi->lbNoiseValuesChanged->show();
        btCalculateClick();
        return;
    }
    if (result == TFToolsPreview::kResultKeep && fToolsPreview->ChangesKept())
        fUi->lbNoiseValuesChanged->show();
    cbGammaChange();
}

void TFMain::btNRResetClick()
{
    fUi->lbNoiseValuesChanged->hide();
    ResetToolsPreviewImages();
    ResetToolsPreviewSliders();
    fSettingsChanged = true;
    ApplyEnabling();
}

void TFMain::btDeadPixelsClick()
{
    if (fRunActive || !fConvert.fResultReady || !TFDeadPixels::CanRegister(fConvert.fCameraSerial))
        return;
    if (!fDeadPixels) {
        fDeadPixels = new TFDeadPixels(
            *fSettings, *fBoxes,
            [this](int32_t column, int32_t row, int32_t height, int32_t width, int32_t threshold) {
                return fConvert.FindDeadPixels(column, row, height, width, threshold);
            },
            this);
    }
    fDeadPixels->SetPicture(fUi->img100->Image(), fCropX, fCropY,
                            RawMappingFor(fConvert.fActiveAreaLeft, fConvert.fActiveAreaTop, fHalfSizeRun));
    fDeadPixels->SetBody(fConvert.fCameraSerial, fConvert.fCameraModel);
    fDeadPixels->exec();
    UpdateDeadPixelControls();
    // The search staged the raw data afresh on a negative of its own: the result goes back.
    fConvert.RestoreStage2Image();
}

void TFMain::sbDeadPixelListClick()
{
    if (fRunActive)
        return;
    if (!fDeadPixelList)
        fDeadPixelList = new TFDeadPixelList(*fSettings, *fBoxes, this);
    fDeadPixelList->SetCurrentBody(fConvert.fCameraSerial, fConvert.fCameraModel, fConvert.fCameraLayout);
    fDeadPixelList->exec();
    UpdateDeadPixelControls();
}

void TFMain::sbGradientClick()
{
    if (fRunActive)
        return;
    fGradient->exec();
    ChangeReset();
}

void TFMain::UpdateDeadPixelControls()
{
    fDeadPixelsListed = fSettings && platform::DeadPixelStore(*fSettings).HasPixels(fConvert.fCameraSerial);
    fUi->cbFixDeadPixels->setChecked(fDeadPixelsListed);
    fUi->sbDeadPixelList->setVisible(fDeadPixelsListed);
    ApplyEnabling();
}

bool TFMain::BoostStrength() const { return fGradient->BoostStrength(); }

int TFMain::GradientDirection() const { return fGradient->GradientDirection(); }

int TFMain::GradientPercent() const { return fGradient->GradientPercent(); }

// ---------------------------------------------------------------------------------------------
// Preview display

void TFMain::cbGammaChange()
{
    fGammaIndex = fUi->cbGamma->currentIndex();
    if (fRunActive || !HasResultPreview())
        return;
    DrawResultPreview();
    DrawPreview();
}

void TFMain::DrawResultPreview()
{
    if (fPrecooked) {
        // The clipping marks stay while the clipping button is down.
        fConvert.ShowPrecookedPreviewClipping(fPreviewBitmap, static_cast<uint16_t>(fGammaIndex), fBrightness,
                                              fContrast);
    } else {
        WaitCursor hourglass;
        fConvert.ShowCookedPreview(fPreviewBitmap, static_cast<uint16_t>(fGammaIndex));
    }
    RefreshResultPreview();
}

void TFMain::tbBrightnessChange()
{
    const int position = fUi->tbBrightness->value();
    if (position == fBrightness)
        return;
    fBrightness = position;
    PreviewLevelsChanged();
}

void TFMain::tbContrastChange()
{
    const int position = fUi->tbContrast->value();
    if (position == fContrast)
        return;
    fContrast = position;
    PreviewLevelsChanged();
}

void TFMain::PreviewLevelsChanged()
{
    if (fRunActive || !HasResultPreview() || !fPrecooked)
        return;
    if (fClippingView) {
        // The marks are drawn into the pixels, where a new palette cannot reach: draw afresh
        // without them.
        fClippingView = false;
        {
            const QSignalBlocker quiet(fUi->sbClipping);
            fUi->sbClipping->setChecked(false);
        }
        fConvert.ShowPrecookedPreview(fPreviewBitmap, static_cast<uint16_t>(fGammaIndex), fBrightness, fContrast);
        RefreshResultPreview();
    } else {
        fConvert.ApplyPreviewPalette(fPreviewBitmap, static_cast<uint16_t>(fGammaIndex), fBrightness, fContrast);
        if (fPreviewBitmap.Format() == platform::PixelFormat::k8Bit && fUi->imgPreview->HasPicture()) {
            fUi->imgPreview->SetColorTable(fPreviewBitmap.ColorTable()); // no pixel changes
            fUi->imgPreview->repaint();
        } else {
            RefreshResultPreview();
        }
    }
    DrawPreview();
}

void TFMain::ShowPreviewKind()
{
    const QSignalBlocker quietPrecooked(fUi->sbPrecooked), quietCooked(fUi->sbCooked);
    (fPrecooked ? fUi->sbPrecooked : fUi->sbCooked)->setChecked(true);
}

void TFMain::sbPrecookedClick()
{
    if (fRunActive) {
        ShowPreviewKind(); // the run shows the kind it started with
        return;
    }
    if (fPrecooked)
        return;
    fPrecooked = true;
    ApplyEnabling();
    if (!HasResultPreview())
        return;
    fConvert.ShowPrecookedPreviewClipping(fPreviewBitmap, static_cast<uint16_t>(fGammaIndex), fBrightness, fContrast);
    RefreshResultPreview();
    DrawPreview();
}

void TFMain::sbCookedClick()
{
    if (fRunActive) {
        ShowPreviewKind();
        return;
    }
    if (!fPrecooked)
        return;
    fPrecooked = false;
    ApplyEnabling();
    fUi->tbBrightness->repaint();
    fUi->tbContrast->repaint();
    if (!HasResultPreview())
        return;
    {
        WaitCursor hourglass;
        fConvert.ShowCookedPreview(fPreviewBitmap, static_cast<uint16_t>(fGammaIndex));
    }
    RefreshResultPreview();
    DrawPreview();
}

void TFMain::sbClippingClick()
{
    if (fRunActive) {
        const QSignalBlocker quiet(fUi->sbClipping);
        fUi->sbClipping->setChecked(fClippingView);
        return;
    }
    fClippingView = fUi->sbClipping->isChecked();
    if (!fPrecooked || !HasResultPreview())
        return;
    fConvert.ShowPrecookedPreviewClipping(fPreviewBitmap, static_cast<uint16_t>(fGammaIndex), fBrightness, fContrast);
    RefreshResultPreview();
    DrawPreview();
}

void TFMain::SetCropPoint(QPoint position)
{
    // The control shows the whole bitmap stretched over its 368 x 244 pixels; a drag may leave it.
    fClickX = std::clamp(position.x(), 0, kPreviewViewWidth);
    fClickY = std::clamp(position.y(), 0, kPreviewViewHeight);
}

void TFMain::imgPreviewMouseDown(QPoint position, Qt::MouseButton)
{
    // Any button chooses the crop.
    if (fRunActive)
        return;
    fDragging = true;
    SetCropPoint(position);
    DrawPreview();
}

void TFMain::imgPreviewMouseMove(QPoint position)
{
    if (fRunActive || !fDragging)
        return;
    SetCropPoint(position);
    DrawPreview();
}

void TFMain::imgPreviewMouseUp(QPoint, Qt::MouseButton)
{
    fDragging = false;
}

void TFMain::DrawPreview()
{
    if (!HasResultPreview()) {
        fUi->img100->Clear();
        return;
    }
    const CropOrigin origin = CropOriginFor(fClickX, fClickY, fPreviewBitmap.Width(), fPreviewBitmap.Height());
    fCropX = origin.x;
    fCropY = origin.y;
    // Only the part of the crop that lies inside the bitmap is copied.
    const ToolsCropCopy block =
        ToolsCropIntersection({static_cast<int32_t>(origin.x), static_cast<int32_t>(origin.y)}, kPreviewViewWidth,
                              kPreviewViewHeight, fPreviewBitmap.Width(), fPreviewBitmap.Height());
    platform::Bitmap crop;
    crop.SetPixelFormat(fPreviewBitmap.Format());
    crop.SetSize(block.width, block.height);
    crop.ColorTable() = fPreviewBitmap.ColorTable();
    for (int32_t row = 0; row < block.height; ++row)
        std::memcpy(crop.ScanLine(row),
                    fPreviewBitmap.ScanLine(block.y + row) + size_t(block.x) * fPreviewBitmap.BytesPerPixel(),
                    crop.RowBytes());
    fUi->img100->SetBitmap(crop);
    fUi->img100->repaint();
}

// ---------------------------------------------------------------------------------------------
// The engine's view of the window

double TFMain::KelvinFromSlider() const
{
    return engine::KelvinFromSliderPosition(fUi->tbKelvin->value());
}

bool TFMain::FixDeadPixels() const { return fUi->cbFixDeadPixels->isChecked(); }
bool TFMain::CorrectG1G2() const { return fUi->cbNICorrectG1G2->isChecked(); }
bool TFMain::CorrectRB() const { return fUi->cbNICorrectRB->isChecked(); }
bool TFMain::G1G2Auto() const { return fUi->rbG1G2Auto->isChecked(); }

std::string TFMain::G1G2ManualText() const
{
    // Every photo of a run uses the value checked when it started.
    return fRunActive ? fG1G2AtStart : fUi->edG1G2Manually->text().toStdString();
}

void TFMain::SetG1G2ManualText(const std::string& text)
{
    fUi->edG1G2Manually->setText(QString::fromStdString(text));
}

int TFMain::StrengthPosition() const { return fUi->tbStrength->value(); }
int TFMain::StrengthMaximum() const { return fUi->tbStrength->maximum(); }
bool TFMain::UseGradient() const { return fUi->cbUseGradient->isChecked(); }
int TFMain::MethodIndex() const { return fUi->cbFilter->currentIndex(); }
bool TFMain::AutoSave() const { return fUi->cbAutoSave->isChecked(); }
std::string TFMain::AutoSaveFolder() const { return ToPath(fUi->lbFolder->text()); }
bool TFMain::LeicaTNoCorrection() const { return fUi->cbLeicaTNoCorrection->isChecked(); }
bool TFMain::PluginMode() const { return Globals().pluginMode; }
std::string TFMain::PluginPhotoPath() const { return Globals().pluginPhotoPath; }

void TFMain::SetModelLabel(const std::string& text)
{
    fUi->lbModel->setText(QString::fromStdString(text));
}

void TFMain::SetTemperatureLabel(const std::string& text)
{
    fUi->lbTemp->setText(QString::fromStdString(text));
}

void TFMain::SetKelvinSliderSilently(int position)
{
    const QSignalBlocker quiet(fUi->tbKelvin);
    fUi->tbKelvin->setValue(position);
    fPrevKelvin = fUi->tbKelvin->value();
}

void TFMain::ClearEmbeddedPreview() { fUi->imgJPG->Clear(); }

void TFMain::ShowEmbeddedPreview(const platform::Bitmap& picture)
{
    fUi->imgJPG->SetBitmap(picture);
}

void TFMain::RepaintEmbeddedPreview() { fUi->imgJPG->repaint(); }

void TFMain::RepaintExplorer()
{
    if (fExplorer)
        fExplorer->repaint();
}

void TFMain::ClearResultPreview()
{
    fPreviewBitmap.Clear();
    fUi->imgPreview->Clear();
    fUi->img100->Clear(); // a crop of a picture no longer shown
}

void TFMain::RefreshResultPreview()
{
    fUi->imgPreview->SetBitmap(fPreviewBitmap);
    fUi->imgPreview->repaint();
}

std::vector<engine::PixelPoint> TFMain::LoadDeadPixels(const std::string& serial)
{
    std::vector<engine::PixelPoint> points;
    if (!fSettings)
        return points;
    for (const platform::DeadPixel& p : platform::DeadPixelStore(*fSettings).Load(serial))
        points.push_back({p.x, p.y});
    return points;
}

int TFMain::NoiseSliderPosition(engine::NoiseSlider slider) const { return fToolsPreview->NoiseSliderPosition(slider); }
int TFMain::ToolsCropColumn() const { return fToolsPreview->CropColumn(); }
int TFMain::ToolsCropRow() const { return fToolsPreview->CropRow(); }
int TFMain::ToolsZoomPercent() const { return fToolsPreview->ZoomPercent(); }
int TFMain::ToolsGammaIndex() const { return fToolsPreview->GammaIndex(); }
bool TFMain::ToolsPreviewPrecooked() const { return fToolsPreview->Precooked(); }
void TFMain::ResetToolsPreviewImages() { fToolsPreview->ResetPreviewImages(); }
void TFMain::ResetToolsPreviewSliders() { fToolsPreview->ResetSliders(); }
void TFMain::SetDeblurSliderMaxima(int masking, int localization)
{
    fToolsPreview->SetDeblurSliderMaxima(masking, localization);
}
engine::DeblurSettings TFMain::DeblurValues() const { return fToolsPreview->DeblurValues(); }
engine::MotionBlurGrid& TFMain::BlurKernel() { return fToolsPreview->BlurKernel(); }
void TFMain::RefreshBlurKernel() { fToolsPreview->RefreshBlurKernel(); }

} // namespace ui
