// The main window with the real engine on synthetic photos in a folder of its own: choosing a
// photo, converting it, saving it, batches with auto save, refusals, cancel, closing during a run,
// the settings and the previews.
#include "ui/explorer.h"
#include "ui/logic/program_globals.h"
#include "ui/bitmap_view.h"
#include "ui/main.h"

#include "engine/fake_engine_ui.h"
#include "fixtures/temp_file.h"
#include "fixtures/dng_fixture.h"
#include "fixtures/samples.h"

#include "dng/host.h"
#include "dng/info.h"
#include "dng/stream.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class FakeDialogs : public ui::FileDialogs {
public:
    QString ChooseFolder(QWidget*, const QString&) override { return folder; }
    QString ChooseSaveFile(QWidget*, const QString&, const QString& proposal) override
    {
        proposed = proposal;
        return saveAs;
    }
    QString folder, saveAs, proposed;
};

// The main window, counting how often the result preview is drawn afresh and how often a photo's
// embedded preview is read (every photo opened clears it first).
class CountingMain : public ui::TFMain {
public:
    using ui::TFMain::TFMain;
    void RefreshResultPreview() override
    {
        ++refreshes;
        ui::TFMain::RefreshResultPreview();
    }
    void ClearEmbeddedPreview() override
    {
        ++previewReads;
        ui::TFMain::ClearEmbeddedPreview();
    }
    int refreshes = 0;
    int previewReads = 0;
};

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("velloray-main-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir / "photos");
        fs::create_directories(dir / "out");
    }
    void TearDown() override
    {
        window.reset();
        ui::Globals() = {};
        fs::remove_all(dir);
    }

    // A photo of a supported camera (or of another model), large enough for the passes to let
    // the window handle its events a few times.
    void Photo(const std::string& name, const std::string& model = "Nikon D800")
    {
        fixtures::DngSpec spec;
        spec.uniqueCameraModel = model;
        spec.width = 256;
        spec.height = 240;
        spec.rowsPerStrip = 240;
        const auto bytes = fixtures::MakeDng(spec).bytes;
        std::ofstream(dir / "photos" / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    void Settings(const std::string& text) { std::ofstream(dir / "Velloray.ini") << "[Persistent]\n" << text; }

    void Open()
    {
        window = std::make_unique<CountingMain>(ui::TFMainServices{&boxes, &dialogs, dir / "Velloray.ini"});
        window->resize(1366, 740);
        window->show();
        if (auto* explorer = window->findChild<ui::Explorer*>())
            explorer->ShowFolder(QString::fromStdString((dir / "photos").string()));
    }
    void Select(std::initializer_list<const char*> names)
    {
        // One change of the selection, as a click or a shift-click makes it.
        QListWidget* list = window->findChild<ui::Explorer*>()->List();
        QItemSelection selection;
        for (const char* name : names)
            for (int i = 0; i < list->count(); ++i)
                if (list->item(i)->text() == name)
                    selection.select(list->model()->index(i, 0), list->model()->index(i, 0));
        list->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
        if (!selection.isEmpty())
            list->selectionModel()->setCurrentIndex(selection.indexes().constFirst(), QItemSelectionModel::NoUpdate);
    }
    QListWidget* List() { return window->findChild<ui::Explorer*>()->List(); }
    template <class W = QWidget> W* Find(const char* name) { return window->findChild<W*>(name); }
    void Click(const char* name) { Find<QAbstractButton>(name)->click(); }
    std::string Status() { return Find<QLabel>("lbStatus")->text().toStdString(); }
    std::vector<std::string> Captions() const
    {
        std::vector<std::string> c;
        for (const auto& r : boxes.shown)
            c.push_back(r.caption);
        return c;
    }
    std::vector<std::string> Written() const { return fixtures::SortedFileNames(dir / "out"); }
    // Runs `action` at the first moment the window handles events during the next run.
    void DuringRun(std::function<void()> action) { QTimer::singleShot(0, window.get(), std::move(action)); }

    fs::path dir;
    enginetest::FakeMessageBoxes boxes;
    FakeDialogs dialogs;
    std::unique_ptr<CountingMain> window;
};

} // namespace

TEST_F(MainWindow, ChooseConvertAndSaveAs)
{
    Photo("a.dng");
    Photo("b.dng");
    Open();
    EXPECT_FALSE(Find("btCalculate")->isEnabled());
    Select({"a.dng"});
    EXPECT_EQ(Find<QLabel>("lbModel")->text(), "from: Nikon D800");
    EXPECT_TRUE(Find("btCalculate")->isEnabled());
    EXPECT_FALSE(Find("btSaveAs")->isEnabled());
    EXPECT_EQ(Status(), "Click 'Start working' to convert to monochrome...");

    Click("btCalculate");
    EXPECT_EQ(Status(), "Done...");
    EXPECT_TRUE(Captions().empty());
    EXPECT_TRUE(window->ResultUnsaved());
    EXPECT_TRUE(Find("btSaveAs")->isEnabled());
    EXPECT_TRUE(Find<ui::BitmapView>("imgPreview")->HasPicture());
    EXPECT_TRUE(Find<ui::BitmapView>("img100")->HasPicture());

    // An RGB method reads the photo again, which would drop the result: asked first, No keeps it.
    boxes.answers = {platform::MessageResult::kNo};
    Find<QComboBox>("cbFilter")->setCurrentIndex(3);
    ASSERT_EQ(Captions(), std::vector<std::string>{"Discard result"});
    EXPECT_EQ(Find<QComboBox>("cbFilter")->currentIndex(), 0);
    EXPECT_TRUE(window->Converter().fResultReady);
    boxes.shown.clear();

    // A save that fails says so and keeps the result unsaved.
    std::ofstream(dir / "file") << "x";
    dialogs.saveAs = QString::fromStdString((dir / "file" / "x.dng").string());
    Click("btSaveAs");
    ASSERT_EQ(Captions(), std::vector<std::string>{"Save failed"});
    EXPECT_TRUE(window->ResultUnsaved());

    // Choosing another photo asks first; No keeps the result and the selection.
    boxes.answers = {platform::MessageResult::kNo};
    Select({"b.dng"});
    ASSERT_EQ(Captions().back(), "Discard result");
    EXPECT_EQ(window->findChild<ui::Explorer*>()->SelectedPaths().size(), 1);
    EXPECT_TRUE(window->findChild<ui::Explorer*>()->SelectedPaths()[0].endsWith("a.dng"));
    EXPECT_TRUE(window->Converter().fResultReady);

    dialogs.saveAs = QString::fromStdString((dir / "out" / "mine.dng").string());
    Click("btSaveAs");
    EXPECT_FALSE(window->ResultUnsaved());
    dng::Host host;
    dng::FileStream stream((dir / "out" / "mine.dng").string());
    dng::Info info;
    info.Parse(host, stream);
    info.PostParse(host);
    ASSERT_TRUE(info.IsValidDNG());
    EXPECT_EQ(info.MainIfd().photometric, 34892u); // LinearRaw
    EXPECT_EQ(info.MainIfd().samplesPerPixel, 1u);

    // The previews: cooked turns brightness and contrast off; brightness removes clipping marks.
    Click("sbCooked");
    EXPECT_FALSE(Find("tbBrightness")->isEnabled());
    EXPECT_FALSE(Find("tbContrast")->isEnabled());
    Click("sbPrecooked");
    EXPECT_TRUE(Find("tbBrightness")->isEnabled());
    Click("sbClipping");
    EXPECT_TRUE(window->ClippingView());
    Find<QSlider>("tbBrightness")->setValue(20);
    EXPECT_FALSE(window->ClippingView());
    EXPECT_FALSE(Find<QToolButton>("sbClipping")->isChecked());
    // A click in the picture's far corner puts the crop at the bitmap's corner, never outside it.
    auto* preview = Find<ui::BitmapView>("imgPreview");
    QTest::mouseClick(preview, Qt::LeftButton, {}, QPoint(367, 243));
    EXPECT_GE(window->CropOriginX(), 0.0);
    EXPECT_GE(window->CropOriginY(), 0.0);
    EXPECT_LE(window->CropOriginX() + 368, std::max(368, window->ResultPreviewBitmap().Width()));
    // Any button chooses the crop.
    QTest::mouseClick(preview, Qt::RightButton, {}, QPoint(0, 0));
    EXPECT_EQ(window->CropOriginX(), 0.0);
    EXPECT_EQ(window->CropOriginY(), 0.0);

    // Saved: the next photo loads without a question, and the old result is gone.
    Select({"b.dng"});
    EXPECT_EQ(Captions().size(), 2u);
    EXPECT_FALSE(window->Converter().fResultReady);
    EXPECT_FALSE(Find("btSaveAs")->isEnabled());
}

TEST_F(MainWindow, BatchWithAutoSaveStopsAtARefusedPhotoAndRefusalsChangeNothing)
{
    Photo("p1.dng");
    Photo("p2.dng", "Some Other Camera");
    Photo("p3.dng");
    Open();
    Select({"p1.dng", "p3.dng"});
    Click("btCalculate");
    EXPECT_EQ(Captions(), std::vector<std::string>{"Can not batch process..."});

    Find<QCheckBox>("cbBayerStripped")->setChecked(true); // "Attention"
    Find<QLineEdit>("edG1G2Manually")->setText("10001");
    Select({"p1.dng"});
    Click("btCalculate");
    EXPECT_EQ(Captions().back(), "Invalid entry");
    EXPECT_EQ(Find<QLineEdit>("edG1G2Manually")->text(), "50");
    EXPECT_FALSE(window->Converter().fResultReady);
    Find<QCheckBox>("cbBayerStripped")->setChecked(false);

    dialogs.folder = QString::fromStdString((dir / "out").string());
    Find<QCheckBox>("cbAutoSave")->setChecked(true); // "[specify folder]": the chooser opens
    EXPECT_EQ(Find<QLabel>("lbFolder")->text(), dialogs.folder);
    boxes.shown.clear();
    Select({"p1.dng", "p2.dng", "p3.dng"});
    Click("btCalculate");
    EXPECT_EQ(Captions(), std::vector<std::string>{"Unknown camera"});
    EXPECT_EQ(Written(), std::vector<std::string>{"p1-M.dng"});
    EXPECT_NE(Status(), "Done...");
    EXPECT_FALSE(Find("lbPhoto")->isVisible());
    EXPECT_FALSE(Find("btSaveAs")->isEnabled());
    EXPECT_TRUE(Find("btCalculate")->isEnabled());
}

// The auto-save folder removed after it was chosen: the first photo of the batch says so once and
// the batch ends there, with that photo's result kept to be saved by hand; nothing is written.
TEST_F(MainWindow, BatchIntoAVanishedAutoSaveFolderWarnsOnceAndEnds)
{
    Photo("p1.dng");
    Photo("p2.dng");
    Photo("p3.dng");
    Open();
    dialogs.folder = QString::fromStdString((dir / "out").string());
    Find<QCheckBox>("cbAutoSave")->setChecked(true);
    fs::remove_all(dir / "out");
    boxes.shown.clear();
    Select({"p1.dng", "p2.dng", "p3.dng"});
    Click("btCalculate");
    EXPECT_EQ(Captions(), std::vector<std::string>{"Auto save"});
    EXPECT_EQ(window->Converter().RawDecodeCount(), 1);
    EXPECT_EQ(window->Converter().fSourcePath, (dir / "photos" / "p1.dng").string());
    EXPECT_TRUE(window->Converter().fResultReady);
    EXPECT_FALSE(Find<ui::BitmapView>("imgPreview")->Image().isNull()); // the result kept is shown
    EXPECT_FALSE(Find("lbPhoto")->isVisible());
    EXPECT_FALSE(Find("lbBatchProcessing")->isVisible());
    EXPECT_FALSE(fs::exists(dir / "out"));

    // Without auto save the kept result can be saved by hand.
    Find<QCheckBox>("cbAutoSave")->setChecked(false);
    Select({"p1.dng"});
    EXPECT_TRUE(Find("btSaveAs")->isEnabled());
}

TEST_F(MainWindow, CancelDuringTheFirstPhotoAndCloseDuringARun)
{
    for (const char* name : {"c1.dng", "c2.dng", "c3.dng"})
        Photo(name);
    Settings("AutoSaveDNG=1\nAutoSavePathDNG=" + (dir / "out").string() + "\n");
    Open();
    ASSERT_TRUE(Find<QCheckBox>("cbAutoSave")->isChecked());
    Select({"c1.dng", "c2.dng", "c3.dng"});
    std::vector<std::string> seen;
    DuringRun([&] {
        EXPECT_TRUE(window->RunActive());
        EXPECT_FALSE(Find("btCalculate")->isEnabled());
        EXPECT_FALSE(Find("sbClipping")->isEnabled());
        EXPECT_FALSE(Find("btAbout")->isEnabled());
        Click("btCancel");
        seen.push_back(Status());
    });
    Click("btCalculate");
    EXPECT_EQ(seen, std::vector<std::string>{"Cancelling..."});
    EXPECT_EQ(Written(), (std::vector<std::string>{"c2-M.dng", "c3-M.dng"}));
    EXPECT_EQ(Status(), "Done...");
    EXPECT_FALSE(Find("btCancel")->isEnabled());
    EXPECT_FALSE(window->Converter().fCancelRequest);

    // Closing during a run cancels it and closes once it has returned; no further photo runs.
    fs::remove_all(dir / "out");
    fs::create_directories(dir / "out");
    DuringRun([&] { window->close(); });
    Click("btCalculate");
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(Written().empty());
}

TEST_F(MainWindow, SettingsWithJunkAndAFolderThatCannotBeWritten)
{
    Settings("AutoSaveDNG=maybe\nAutoSavePathDNG=" + (dir / "out").string() + "\nNIOn=1\nNICorrectG1G2=x\n");
    Open();
    EXPECT_TRUE(Captions().empty()); // "NIOn" shows the panel without "Attention"
    EXPECT_TRUE(Find("pnInterpolationWarning")->isVisible());
    EXPECT_FALSE(Find("gbFilterOptions")->isVisible());
    EXPECT_FALSE(Find<QCheckBox>("cbAutoSave")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("cbNICorrectG1G2")->isChecked());
    EXPECT_EQ(Find<QLabel>("lbFolder")->text().toStdString(), (dir / "out").string());
    Find<QCheckBox>("cbBayerStripped")->setChecked(false);
    Find<QCheckBox>("cbBayerStripped")->setChecked(true);
    EXPECT_EQ(Captions(), std::vector<std::string>{"Attention"});

    // A chosen folder that cannot be written: told, auto save off, no folder kept or stored.
    std::ofstream(dir / "file") << "x";
    dialogs.folder = QString::fromStdString((dir / "file" / "sub").string());
    Find<QToolButton>("sbBrowse")->setVisible(true);
    Find<QCheckBox>("cbAutoSave")->setChecked(true);
    Click("sbBrowse");
    EXPECT_EQ(Captions().back(), "No permission");
    EXPECT_FALSE(Find<QCheckBox>("cbAutoSave")->isChecked());
    EXPECT_EQ(Find<QLabel>("lbFolder")->text(), "[specify folder]");
    platform::IniFile ini(dir / "Velloray.ini");
    EXPECT_EQ(ini.ReadString("Persistent", "AutoSavePathDNG", ""), "[specify folder]");
    EXPECT_FALSE(ini.ReadBool("Persistent", "AutoSaveDNG", true));
    EXPECT_TRUE(ini.ReadBool("Persistent", "NIOn", false));
}

TEST_F(MainWindow, PluginPhotoThatDoesNotExistIsReportedAsNotFound)
{
    ui::Globals().pluginMode = true;
    ui::Globals().pluginPhotoPath = (dir / "photos" / "gone.dng").string();
    Open();
    EXPECT_EQ(Captions(), std::vector<std::string>{"Photo not found"});
    EXPECT_FALSE(Find("explorerHost")->isVisible());
    EXPECT_FALSE(Find("gbExport")->isVisible());
    EXPECT_FALSE(Find("btCalculate")->isEnabled());
}

#include "ui/toolspreview.h"
#include "ui_toolspreview.h"

namespace {

// The tools preview on the result: the engine reads its sliders through the main window; after
// "keep" the kept result is the negative's again and the note shows; "apply" converts again.
TEST_F(MainWindow, ToolsPreviewOnTheResultThenKeepOrApply)
{
    Photo("a.dng");
    Open();
    Select({"a.dng"});
    Click("btCalculate");
    ASSERT_TRUE(Find("btNoisePreview")->isEnabled());
    const int32_t width = window->Converter().fResultCopy->Width();
    ui::TFToolsPreview& tools = window->ToolsPreview();
    Ui::TFToolsPreview& f = tools.Form();
    QTimer::singleShot(0, window.get(), [&] {
        f.tbNoiseRegular->setValue(20);
        tools.UpdatePreview();
        EXPECT_EQ(window->NoiseSliderPosition(engine::NoiseSlider::kRegularResult), 20);
        f.btCloseKeep->click();
    });
    Click("btNoisePreview");
    EXPECT_EQ(tools.result(), ui::TFToolsPreview::kResultKeep);
    EXPECT_FALSE(Find("lbNoiseValuesChanged")->isHidden());
    EXPECT_EQ(window->Converter().fNegative->Stage2Image()->Width(), width);

    // The unsaved result is discarded for the new run, which takes the tuned values.
    boxes.answers = {platform::MessageResult::kYes};
    QTimer::singleShot(0, window.get(), [&] {
        f.tbNoiseRegular->setValue(30);
        f.btApply->click();
    });
    Click("btNoisePreview");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, "Discard result");
    EXPECT_TRUE(Find("lbNoiseValuesChanged")->isHidden());
    EXPECT_EQ(Status(), "Done...");
    EXPECT_EQ(window->NoiseSliderPosition(engine::NoiseSlider::kRegularResult), 30);
}

} // namespace

#include <QAccessible>
#include <QGroupBox>

namespace {

// At its least size, which a 1280 x 800 screen holds, every caption is whole, also with every
// control shown that comes and goes (the run's labels, the notes, the modified-camera panel).
TEST_F(MainWindow, FitsA1280By800ScreenWithEveryCaptionWhole)
{
    Open();
    const QSize least = window->minimumSizeHint();
    EXPECT_LE(least.width(), 1260);
    EXPECT_LE(least.height(), 740);
    auto cutCaptions = [&] {
        window->resize(window->minimumSizeHint());
        // A change inside a group box lays out the box first, then the window.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        std::vector<std::string> cut;
        for (QWidget* w : window->findChildren<QWidget*>()) {
            if (!w->isVisibleTo(window.get()) || w->objectName().isEmpty())
                continue;
            const auto* label = qobject_cast<QLabel*>(w);
            const auto* group = qobject_cast<QGroupBox*>(w);
            bool whole = QRect(QPoint(), window->size()).contains(QRect(w->mapTo(window.get(), QPoint()), w->size()));
            if (group)
                whole = whole && w->width() > group->fontMetrics().horizontalAdvance(group->title());
            if (w->hasHeightForWidth()) // wrapped lines
                whole = whole && w->height() >= w->heightForWidth(w->width());
            else if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) || label)
                whole = whole && w->width() >= w->sizeHint().width();
            if (!whole)
                cut.push_back(w->objectName().toStdString());
        }
        return cut;
    };
    EXPECT_EQ(cutCaptions(), std::vector<std::string>{});
    for (const char* name : {"lbPhoto", "lbBatchProcessing", "lbNoiseValuesChanged", "lbLeicaTDistortion", "sbBrowse"})
        Find(name)->show();
    Find<QLabel>("lbStatus")->setText("Click 'Start working' to convert to monochrome...");
    EXPECT_EQ(cutCaptions(), std::vector<std::string>{});
    Find<QCheckBox>("cbBayerStripped")->setChecked(true); // the panel in place of three groups
    EXPECT_EQ(cutCaptions(), std::vector<std::string>{});
    EXPECT_LE(window->minimumSizeHint().width(), 1260);
    EXPECT_LE(window->minimumSizeHint().height(), 740);
}

// However a preview button changes its state (a click, the program, assistive technology's
// toggle action), its handler runs once: one picture drawn afresh where it draws one.
TEST_F(MainWindow, PreviewButtonsRunOnceHoweverTheirStateChanges)
{
    Photo("a.dng");
    Open();
    Select({"a.dng"});
    Click("btCalculate");
    enum class How { kClick, kSetChecked, kToggleAction };
    struct Case {
        const char* button;
        How how;
        bool cooked, clipping;
        int refreshes;
    };
    const Case cases[] = {
        {"sbCooked", How::kToggleAction, true, false, 1},    {"sbPrecooked", How::kSetChecked, false, false, 1},
        {"sbClipping", How::kToggleAction, false, true, 1},  {"sbClipping", How::kSetChecked, false, false, 1},
        {"sbCooked", How::kClick, true, false, 1},           {"sbClipping", How::kClick, true, true, 0},
        {"sbPrecooked", How::kToggleAction, false, true, 1}, {"sbClipping", How::kToggleAction, false, false, 1},
    };
    for (const Case& c : cases) {
        auto* button = Find<QToolButton>(c.button);
        window->refreshes = 0;
        if (c.how == How::kClick)
            button->click();
        else if (c.how == How::kSetChecked)
            button->setChecked(!button->isChecked());
        else
            QAccessible::queryAccessibleInterface(button)->actionInterface()->doAction(
                QAccessibleActionInterface::toggleAction());
        EXPECT_EQ(window->CookedPreviewChosen(), c.cooked) << c.button;
        EXPECT_EQ(window->ClippingView(), c.clipping) << c.button;
        EXPECT_EQ(window->refreshes, c.refreshes) << c.button;
    }
}

// The photo's embedded preview is read again when a filter method follows "Regular" or a RAW
// method, not after an RGB method or for "Regular".
TEST_F(MainWindow, FilterMethodsAfterRegularOrRawReadTheEmbeddedPreviewAgain)
{
    Photo("a.dng");
    Open();
    Select({"a.dng"});
    const std::pair<int, bool> cases[] = {{1, true},  {2, true}, {4, true}, {5, false},
                                          {1, false}, {0, false}, {3, true}};
    auto* model = Find<QLabel>("lbModel");
    for (const auto& [method, reread] : cases) {
        model->setText("-");
        Find<QComboBox>("cbFilter")->setCurrentIndex(method);
        EXPECT_EQ(model->text() == "from: Nikon D800", reread) << method;
    }
}

// Save as proposes the photo's folder and the name auto save gives, and refuses the source itself;
// after a run and after a save the keyboard is in the photo list, where Down chooses the next photo.
TEST_F(MainWindow, SaveAsProposesTheAutoSaveNameAndTheKeysStayInTheList)
{
    Photo("a.dng");
    Photo("b.dng");
    Open();
    Select({"a.dng"});
    const fs::path photos = dir / "photos";
    const std::tuple<int, int, const char*> cases[] = {{0, 0, "a-M.dng"}, {1, 3, "a-M-RAW-R20.dng"}};
    for (const auto& [method, strength, name] : cases) {
        boxes.answers = {platform::MessageResult::kYes};
        Find<QComboBox>("cbFilter")->setCurrentIndex(method);
        Find<QSlider>("tbStrength")->setValue(strength);
        Click("btCalculate");
        EXPECT_EQ(window->focusWidget(), List());
        dialogs.saveAs.clear(); // cancelled
        Click("btSaveAs");
        EXPECT_EQ(dialogs.proposed.toStdString(), (photos / name).string());
    }
    const auto before = fs::file_size(photos / "a.dng");
    dialogs.saveAs = QString::fromStdString((photos / "a.dng").string());
    Click("btSaveAs");
    EXPECT_EQ(Captions().back(), "Save failed");
    EXPECT_EQ(fs::file_size(photos / "a.dng"), before);
    dialogs.saveAs = dialogs.proposed;
    Find("btCalculate")->setFocus();
    Click("btSaveAs");
    EXPECT_TRUE(fs::exists(photos / "a-M-RAW-R20.dng"));
    EXPECT_EQ(window->focusWidget(), List());
    QTest::keyClick(List(), Qt::Key_Down);
    ASSERT_EQ(window->findChild<ui::Explorer*>()->SelectedPaths().size(), 1);
    EXPECT_TRUE(window->findChild<ui::Explorer*>()->SelectedPaths()[0].endsWith("b.dng"));
}

// Leaving an unsaved result asks once however the selection moves in the list (the view's key
// handling selects the new row twice); No keeps the selection and the keyboard's row, Yes opens the
// new photo once.
TEST_F(MainWindow, LeavingAnUnsavedResultAsksOnceHoweverTheListMoves)
{
    const char* samples[] = {"d200-grbg.dng", "m9-8bit-squarelaw.dng", "sony-a7s-bggr.dng"};
    for (const char* sample : samples)
        fs::copy_file(fixtures::SamplePath(sample), dir / "photos" / sample);
    Open();
    ASSERT_EQ(List()->count(), 3);
    Select({samples[1]});
    Click("btCalculate");
    ASSERT_EQ(Status(), "Done...");
    ASSERT_TRUE(window->ResultUnsaved());
    ASSERT_EQ(window->focusWidget(), List());
    const ui::Explorer& explorer = *window->findChild<ui::Explorer*>();

    const auto itemCenter = [this](int row) { return List()->visualItemRect(List()->item(row)).center(); };
    const std::pair<const char*, std::function<void()>> moves[] = {
        {"Down", [this] { QTest::keyClick(List(), Qt::Key_Down); }},
        {"Up", [this] { QTest::keyClick(List(), Qt::Key_Up); }},
        {"Page Down", [this] { QTest::keyClick(List(), Qt::Key_PageDown); }},
        {"Home", [this] { QTest::keyClick(List(), Qt::Key_Home); }},
        {"End", [this] { QTest::keyClick(List(), Qt::Key_End); }},
        {"Shift+Up", [this] { QTest::keyClick(List(), Qt::Key_Up, Qt::ShiftModifier); }},
        {"click", [&] { QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, itemCenter(0)); }},
        {"shift-click", [&] { QTest::mouseClick(List()->viewport(), Qt::LeftButton, Qt::ShiftModifier, itemCenter(0)); }},
    };
    for (const auto& [name, move] : moves) {
        SCOPED_TRACE(name);
        boxes.shown.clear();
        boxes.answers = {platform::MessageResult::kNo};
        window->previewReads = 0;
        move();
        EXPECT_EQ(Captions(), std::vector<std::string>{"Discard result"});
        EXPECT_EQ(explorer.SelectedPaths().size(), 1);
        EXPECT_TRUE(explorer.SelectedPaths().value(0).endsWith(samples[1]));
        EXPECT_EQ(List()->currentRow(), 1);
        EXPECT_EQ(window->previewReads, 0);
        EXPECT_TRUE(window->ResultUnsaved());
    }

    // With two photos chosen by Shift+Down the keyboard's row is the second one, and a No puts it
    // back there; Up keeps the first photo and asks nothing.
    boxes.shown.clear();
    QTest::keyClick(List(), Qt::Key_Down, Qt::ShiftModifier);
    ASSERT_EQ(explorer.SelectedPaths().size(), 2);
    boxes.answers = {platform::MessageResult::kNo};
    QTest::keyClick(List(), Qt::Key_Home);
    EXPECT_EQ(Captions(), std::vector<std::string>{"Discard result"});
    EXPECT_EQ(explorer.SelectedPaths(), explorer.ListedPaths().mid(1));
    EXPECT_EQ(List()->currentRow(), 2);
    boxes.shown.clear();
    QTest::keyClick(List(), Qt::Key_Up);
    EXPECT_TRUE(Captions().empty());
    EXPECT_EQ(List()->currentRow(), 1);

    const std::pair<const char*, std::function<void()>> accepted[] = {
        {"Down", [this] { QTest::keyClick(List(), Qt::Key_Down); }},
        {"click", [&] { QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, itemCenter(0)); }},
    };
    int row = 2;
    for (const auto& [name, move] : accepted) {
        SCOPED_TRACE(name);
        // The first move leaves the result; the next photo has none to ask about.
        boxes.shown.clear();
        boxes.answers = {platform::MessageResult::kYes};
        window->previewReads = 0;
        move();
        EXPECT_EQ(Captions().size(), row == 2 ? 1u : 0u);
        EXPECT_EQ(window->previewReads, 1);
        EXPECT_EQ(List()->currentRow(), row);
        EXPECT_EQ(explorer.SelectedPaths(), QStringList{explorer.ListedPaths().value(row)});
        EXPECT_FALSE(window->ResultUnsaved());
        EXPECT_EQ(Find<QLabel>("lbModel")->text(), row == 2 ? "from: Sony ILCE-7S" : "from: Nikon D200");
        row = 0;
    }
}

} // namespace
