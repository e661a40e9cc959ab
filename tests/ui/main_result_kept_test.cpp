// The main window's result after the tools preview and the dead-pixel finder: whichever way they
// are closed without a new conversion, "Save result as..." writes the image the conversion made,
// and the preview and the clip mask are still that result's.
#include "ui/bitmap_view.h"
#include "ui/deadpixels.h"
#include "ui/explorer.h"
#include "ui/file_dialogs.h"
#include "ui/main.h"
#include "ui/toolspreview.h"
#include "ui_toolspreview.h"

#include "engine/fake_engine_ui.h"
#include "photo_fixture.h"

#include "dng/host.h"
#include "dng/info.h"
#include "dng/negative.h"
#include "dng/stream.h"

#include <QAbstractButton>
#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class SaveDialogs : public ui::FileDialogs {
public:
    QString ChooseFolder(QWidget*, const QString&) override { return {}; }
    QString ChooseSaveFile(QWidget*, const QString&, const QString&) override { return saveAs; }
    QString saveAs;
};

// The stage-1 image of a written file, row after row.
std::vector<std::vector<uint16_t>> WrittenImage(const fs::path& path)
{
    dng::FileStream stream(path.string());
    dng::Host host;
    dng::Info info;
    info.Parse(host, stream);
    info.PostParse(host);
    EXPECT_TRUE(info.IsValidDNG()) << path << ": " << info.ValidityProblem();
    auto negative = host.Make_dng_negative();
    negative->Parse(host, stream, info);
    negative->PostParse(host, stream, info);
    negative->ReadStage1Image(host, stream, info);
    const dng::Image& image = *negative->Stage1Image();
    std::vector<std::vector<uint16_t>> rows;
    for (int32_t y = 0; y < image.Height(); ++y)
        rows.emplace_back(image.Row16(y), image.Row16(y) + image.Width());
    return rows;
}

std::vector<std::vector<uint8_t>> MaskRows(const dng::Image& mask)
{
    std::vector<std::vector<uint8_t>> rows;
    for (int32_t y = 0; y < mask.Height(); ++y)
        rows.emplace_back(mask.Row8(y), mask.Row8(y) + mask.Width());
    return rows;
}

class ResultKept : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("velloray-kept-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir / "photos");
        // A photo with a clipped patch (for the clip mask) and a hot photosite (for the finder).
        auto file = uitest::MakePhoto(
            400, 300,
            [](int x, int y) -> uint16_t {
                if (x >= 370 && y >= 246) // outside the 100% crop the finder searches
                    return 65535;
                if (x == 41 && y == 60)
                    return 9000;
                return uint16_t(800 + x * 4 + y);
            },
            "BSN-31");
        fs::copy_file(file->Path(), dir / "photos" / "p.dng");
        window = std::make_unique<ui::TFMain>(ui::TFMainServices{&boxes, &dialogs, dir / "Velloray.ini"});
        window->show();
        window->findChild<ui::Explorer*>()->ShowFolder(QString::fromStdString((dir / "photos").string()));
    }
    void TearDown() override
    {
        window.reset();
        fs::remove_all(dir);
    }
    void Convert()
    {
        // Noise settings kept from an earlier round go (noise reduction takes the clipped patch
        // just under the white level).
        if (auto* reset = window->findChild<QPushButton*>("btNRReset"); reset->isEnabled())
            reset->click();
        boxes.answers = {platform::MessageResult::kYes};
        QListWidget* list = window->findChild<ui::Explorer*>()->List();
        list->setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
        window->findChild<QPushButton*>("btCalculate")->click();
        boxes.answers.clear();
        boxes.shown.clear();
    }
    // Clicks the button and meanwhile does `inside` with the modal window it opens.
    void WithModal(const char* button, std::function<void(QWidget&)> inside)
    {
        bool seen = false;
        QTimer::singleShot(0, window.get(), [&] {
            QWidget* modal = QApplication::activeModalWidget();
            ASSERT_NE(modal, nullptr);
            seen = true;
            inside(*modal);
        });
        window->findChild<QAbstractButton*>(button)->click();
        EXPECT_TRUE(seen) << button;
    }
    // The tools preview with one preview run of "regular result" at 1, closed with `close`.
    void ToolsPreviewRun(const char* close)
    {
        WithModal("btNoisePreview", [&](QWidget& modal) {
            ui::TFToolsPreview& tools = window->ToolsPreview();
            ASSERT_EQ(&modal, &tools);
            tools.Form().tbNoiseRegular->setValue(1);
            tools.UpdatePreview();
            tools.findChild<QAbstractButton*>(close)->click();
        });
    }
    // The dead-pixel finder searched again; with OK, the hot photosite it marks is confirmed and
    // stored.
    void FinderRun(bool ok)
    {
        WithModal("btDeadPixels", [&](QWidget& modal) {
            auto* finder = qobject_cast<ui::TFDeadPixels*>(&modal);
            ASSERT_NE(finder, nullptr);
            finder->findChild<QPushButton*>("btFind")->click();
            if (ok) {
                ASSERT_EQ(finder->Markers().size(), 1u);
                QTest::mouseClick(finder->Markers()[0], Qt::LeftButton);
                finder->findChild<QPushButton*>("btOk")->click();
            } else {
                finder->findChild<QPushButton*>("btCancel")->click();
            }
            if (finder->isVisible()) {
                ADD_FAILURE() << "the finder stayed open";
                finder->reject();
            }
        });
        if (ok) {
            ASSERT_EQ(boxes.shown.size(), 1u);
            EXPECT_EQ(boxes.shown[0].caption, "Pixels added");
            boxes.shown.clear();
        }
    }

    fs::path dir;
    enginetest::FakeMessageBoxes boxes;
    SaveDialogs dialogs;
    std::unique_ptr<ui::TFMain> window;
};

TEST_F(ResultKept, EveryWayOfClosingWithoutAConversionLeavesTheResultToSave)
{
    const std::vector<std::pair<std::string, std::function<void()>>> ways{
        {"keep", [&] { ToolsPreviewRun("btCloseKeep"); }},
        {"cancel", [&] { ToolsPreviewRun("btCloseCancel"); }},
        {"apply, not discarded",
         [&] {
             boxes.answers = {platform::MessageResult::kNo};
             ToolsPreviewRun("btApply");
             ASSERT_EQ(boxes.shown.size(), 1u);
             EXPECT_EQ(boxes.shown[0].caption, "Discard result");
             boxes.shown.clear();
             // The tuned values are still to be applied, and the note says so.
             EXPECT_FALSE(window->findChild<QWidget*>("lbNoiseValuesChanged")->isHidden());
         }},
        {"finder cancelled", [&] { FinderRun(false); }},
        {"finder OK", [&] { FinderRun(true); }},
    };
    int n = 0;
    for (const auto& [name, way] : ways) {
        SCOPED_TRACE(name);
        Convert();
        EXPECT_TRUE(window->findChild<QWidget*>("lbNoiseValuesChanged")->isHidden());
        const engine::DNGConvert& convert = window->Converter();
        ASSERT_TRUE(convert.fResultReady);
        const fs::path reference = dir / ("reference-" + std::to_string(n) + ".dng");
        window->Converter().WriteMonochromeDng(reference.string());
        const auto clip = MaskRows(*convert.fNegative->fClipImage);
        size_t clipped = 0;
        for (const auto& row : clip)
            clipped += size_t(std::count(row.begin(), row.end(), uint8_t(1)));
        ASSERT_GT(clipped, 800u);
        const QImage preview = window->findChild<ui::BitmapView*>("imgPreview")->Image();

        way();

        ASSERT_TRUE(window->findChild<QPushButton*>("btSaveAs")->isEnabled());
        const fs::path saved = dir / ("saved-" + std::to_string(n++) + ".dng");
        dialogs.saveAs = QString::fromStdString(saved.string());
        window->findChild<QPushButton*>("btSaveAs")->click();
        for (const auto& box : boxes.shown)
            ADD_FAILURE() << box.caption << ": " << box.text;
        boxes.shown.clear();
        ASSERT_TRUE(fs::exists(saved));
        EXPECT_EQ(WrittenImage(saved), WrittenImage(reference));
        EXPECT_EQ(MaskRows(*window->Converter().fNegative->fClipImage), clip);
        EXPECT_EQ(window->findChild<ui::BitmapView*>("imgPreview")->Image(), preview);
    }
}

} // namespace
