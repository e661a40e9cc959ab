// The main window with the gradient dialog, the dead-pixel finder and list and the update check
// wired in: what it reads from them and how its own controls follow them.
#include "ui/deadpixellist.h"
#include "ui/deadpixels.h"
#include "ui/explorer.h"
#include "ui/gradient.h"
#include "ui/main.h"
#include "ui/update_check.h"
#include "ui/url_opener.h"

#include "engine/fake_engine_ui.h"
#include "photo_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class NoOpener : public ui::UrlOpener {
public:
    bool Open(const QUrl&) override { return true; }
};

class MainTools : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("velloray-tools-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir / "photos");
    }
    void TearDown() override
    {
        window.reset();
        fs::remove_all(dir);
    }
    // A flat photo with hot green photosites at the given places (result-preview coordinates).
    void Photo(const std::string& name, const std::set<std::pair<int, int>>& hot, const std::string& serial)
    {
        auto file = uitest::MakePhoto(400, 300, [&](int x, int y) -> uint16_t { return hot.count({x, y}) ? 8000 : 1000; },
                                      serial);
        fs::copy_file(file->Path(), dir / "photos" / name);
    }
    void Open()
    {
        window = std::make_unique<ui::TFMain>(ui::TFMainServices{&boxes, nullptr, dir / "Velloray.ini", &opener});
        window->show();
        window->findChild<ui::Explorer*>()->ShowFolder(QString::fromStdString((dir / "photos").string()));
    }
    // Any unsaved result is discarded.
    void SelectAndConvert(const char* name)
    {
        boxes.answers = {platform::MessageResult::kYes, platform::MessageResult::kYes};
        QListWidget* list = window->findChild<ui::Explorer*>()->List();
        for (int i = 0; i < list->count(); ++i)
            if (list->item(i)->text() == name)
                list->setCurrentRow(i, QItemSelectionModel::ClearAndSelect);
        Find<QPushButton>("btCalculate")->click();
        boxes.answers.clear();
        ASSERT_TRUE(window->Converter().fResultReady);
    }
    // Clicks the button, and meanwhile does `inside` with the modal dialog it opens.
    template <class Dialog>
    void WithDialog(const char* button, std::function<void(Dialog&)> inside)
    {
        bool seen = false;
        QTimer::singleShot(0, window.get(), [&] {
            auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            seen = true;
            inside(*dialog);
            if (dialog->isVisible())
                dialog->reject();
        });
        Find<QAbstractButton>(button)->click();
        EXPECT_TRUE(seen) << button;
    }
    template <class W = QWidget> W* Find(const char* name) { return window->findChild<W*>(name); }

    fs::path dir;
    enginetest::FakeMessageBoxes boxes;
    NoOpener opener;
    std::unique_ptr<ui::TFMain> window;
};

TEST_F(MainTools, TheConversionReadsTheGradientDialog)
{
    Open();
    EXPECT_EQ(window->GradientDirection(), 0);
    EXPECT_EQ(window->GradientPercent(), 100);
    Find<QComboBox>("cbFilter")->setCurrentIndex(3);
    Find<QCheckBox>("cbUseGradient")->setChecked(true);
    WithDialog<ui::TFGradient>("sbGradient", [](ui::TFGradient& g) {
        EXPECT_EQ(g.windowTitle(), "Gradient properties");
        g.findChild<QComboBox*>("cbGradientDirection")->setCurrentIndex(1);
        g.findChild<QSlider*>("tbGradientVert")->setValue(60);
        g.findChild<QCheckBox*>("cbBoostStrength")->setChecked(true);
        g.findChild<QPushButton*>("btClose")->click();
    });
    EXPECT_EQ(window->GradientDirection(), 1);
    EXPECT_EQ(window->GradientPercent(), 70);
    EXPECT_TRUE(window->BoostStrength());
}

TEST_F(MainTools, TheUpdateButtonIsOffWhileTheCheckRuns)
{
    QTcpServer silent; // accepts and never answers
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    qputenv("VELLORAY_UPDATE_HOST", QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()).toLatin1());
    Open();
    qunsetenv("VELLORAY_UPDATE_HOST");
    auto* check = window->findChild<ui::UpdateCheck*>();
    check->SetTimeout(300);
    QSignalSpy done(check, &ui::UpdateCheck::finished);
    auto* update = Find<QPushButton>("btUpdate");
    ASSERT_TRUE(update->isEnabled());
    update->click();
    EXPECT_FALSE(update->isEnabled());
    ASSERT_TRUE(done.wait(5000));
    EXPECT_TRUE(update->isEnabled());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, "Update check");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainTools, FinderAndListKeepFixDeadPixelsInStepWithTheBodysList)
{
    const QPoint a{41, 60}, b{101, 90};
    Photo("hot.dng", {{a.x(), a.y()}, {b.x(), b.y()}}, "BSN-7");
    Photo("anonymous.dng", {}, "");
    Open();
    SelectAndConvert("anonymous.dng");
    EXPECT_FALSE(Find("btDeadPixels")->isEnabled()); // no serial number: nothing to register for

    SelectAndConvert("hot.dng");
    auto* fix = Find<QCheckBox>("cbFixDeadPixels");
    auto* listButton = Find<QToolButton>("sbDeadPixelList");
    EXPECT_FALSE(fix->isEnabled());
    EXPECT_FALSE(listButton->isVisibleTo(window.get()));
    ASSERT_TRUE(Find("btDeadPixels")->isEnabled());
    WithDialog<ui::TFDeadPixels>("btDeadPixels", [](ui::TFDeadPixels& finder) {
        ASSERT_EQ(finder.Markers().size(), 2u);
        for (ui::DeadPixelMarker* m : finder.Markers())
            QTest::mouseClick(m, Qt::LeftButton);
        finder.findChild<QPushButton*>("btOk")->click();
    });
    EXPECT_EQ(boxes.shown.back().caption, "Pixels added");
    EXPECT_TRUE(fix->isEnabled());
    EXPECT_TRUE(fix->isChecked());
    EXPECT_TRUE(listButton->isVisibleTo(window.get()));
    // The kept result is back in the negative.
    const engine::DNGConvert& convert = window->Converter();
    ASSERT_NE(convert.fNegative->Stage2Image(), nullptr);
    EXPECT_EQ(convert.fNegative->Stage2Image()->Row16(a.y())[a.x()], convert.fResultCopy->Row16(a.y())[a.x()]);
    EXPECT_GT(convert.fNegative->Stage2Image()->Row16(a.y())[a.x()], 4000);

    // Converted again with "Fix dead pixels": both are repaired.
    SelectAndConvert("hot.dng");
    EXPECT_LT(window->Converter().fNegative->Stage2Image()->Row16(a.y())[a.x()], 1100);
    EXPECT_LT(window->Converter().fNegative->Stage2Image()->Row16(b.y())[b.x()], 1100);

    // Removing both from the list turns the option off again.
    boxes.answers = {platform::MessageResult::kYes, platform::MessageResult::kYes};
    WithDialog<ui::TFDeadPixelList>("sbDeadPixelList", [](ui::TFDeadPixelList& list) {
        EXPECT_EQ(list.ListedSerial(), "BSN-7");
        auto* pixels = list.findChild<QTreeWidget*>("lvPixels");
        for (int i = 0; i < 2; ++i) {
            pixels->setCurrentItem(pixels->topLevelItem(0));
            list.findChild<QPushButton*>("btRemove")->click();
        }
        EXPECT_EQ(pixels->topLevelItemCount(), 0);
    });
    EXPECT_FALSE(fix->isEnabled());
    EXPECT_FALSE(fix->isChecked());
    EXPECT_FALSE(listButton->isVisibleTo(window.get()));
}

} // namespace
