// The dead-pixel finder on photos with known hot photosites, and the dead-pixel list on a
// settings file with known bodies.
#include "ui/deadpixellist.h"
#include "ui/deadpixels.h"

#include "engine/Class_dngconvert.h"
#include "photo_fixture.h"
#include "platform/dead_pixel_store.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Marker = ui::DeadPixelMarker;

constexpr int kLeft = 16, kTop = 20; // the crop's origin in the photo
constexpr uint16_t kFlat = 1000, kHot = 8000;

struct TempDir {
    TempDir() : path(fs::temp_directory_path() / ("vr-ui-" + std::to_string(::getpid()) + "-" + std::to_string(n++)))
    {
        fs::create_directories(path);
    }
    ~TempDir() { fs::remove_all(path); }
    fs::path path;
    static inline int n = 0;
};

// A 400 x 300 photo, flat but for hot photosites given in crop coordinates, opened in the engine,
// and the finder over its crop. The preview starts at the active area's origin.
struct Finder {
    Finder(const std::vector<QPoint>& hotInCrop, const std::string& serial = "BSN-0042",
           fs::path settings = {}, QPoint active = {})
        : ini(settings.empty() ? dir.path / "Velloray.ini" : settings), convert(ui)
    {
        std::set<std::pair<int, int>> hot;
        for (const QPoint& p : hotInCrop)
            hot.insert({p.x() + kLeft + active.x(), p.y() + kTop + active.y()});
        std::optional<dng::Rect> area;
        if (!active.isNull())
            area = dng::Rect(active.y(), active.x(), 300, 400);
        photo = uitest::MakePhoto(
            400, 300, [&](int x, int y) { return hot.count({x, y}) ? kHot : kFlat; }, serial, area);
        convert.ReadEmbeddedPreview(photo->PathString());
        EXPECT_EQ(convert.OpenAndIdentify(photo->PathString(), photo->FileName()), 1);
        dialog = std::make_unique<ui::TFDeadPixels>(ini, boxes, [this](int32_t c, int32_t r, int32_t h, int32_t w, int32_t t) {
            ++searches;
            return convert.FindDeadPixels(c, r, h, w, t);
        });
        QImage crop(368, 244, QImage::Format_RGB888);
        crop.fill(Qt::gray);
        dialog->SetPicture(crop, kLeft + 0.7, kTop + 0.2,
                           ui::RawMappingFor(convert.fActiveAreaLeft, convert.fActiveAreaTop, false));
        dialog->SetBody(convert.fCameraSerial, convert.fCameraModel);
    }
    QLabel& Status() const { return uitest::Child<QLabel>(*dialog, "lbStatus"); }
    QPushButton& Button(const char* name) const { return uitest::Child<QPushButton>(*dialog, name); }
    std::set<std::pair<int, int>> MarkedPixels() const // centres of the markers, in crop coordinates
    {
        std::set<std::pair<int, int>> at;
        for (const Marker* m : dialog->Markers())
            at.insert({m->geometry().center().x(), m->geometry().center().y()});
        return at;
    }

    TempDir dir;
    platform::IniFile ini;
    enginetest::FakeEngineUi ui;
    engine::DNGConvert convert;
    std::unique_ptr<fixtures::TempFile> photo;
    enginetest::FakeMessageBoxes boxes;
    std::unique_ptr<ui::TFDeadPixels> dialog;
    int searches = 0;
};

// Hot green photosites (x + y odd on RGGB) spread over the crop.
std::vector<QPoint> HotPixels(int k)
{
    std::vector<QPoint> hot;
    for (int i = 0; i < k; ++i)
        hot.push_back({21 + 30 * i, 40 + 16 * (i % 4)});
    return hot;
}

TEST(TFDeadPixels, MarksUpToTenCandidatesOfExactlyTheShownCrop)
{
    struct Case {
        std::vector<QPoint> hot;
        std::set<std::pair<int, int>> marked;
        std::string status;
        QPoint active = {}; // origin of the active area in the file
    };
    std::set<std::pair<int, int>> ten;
    for (const QPoint& p : HotPixels(10))
        ten.insert({p.x(), p.y()});
    const Case cases[] = {
        {HotPixels(10), ten, "Found candidates (10), click on the red square(s) to confirm..."},
        {HotPixels(11), {}, "Found more than 10... raise the threshold and try again..."},
        {{}, {}, "Found none... lower the threshold and try again..."},
        // The crop's last searchable column and row are 363 and 239 (368 x 244); beyond the crop
        // nothing counts.
        {{{6, 6}, {363, 239}, {201, 246}, {-9, 100}}, {{6, 6}, {363, 239}},
         "Found candidates (2), click on the red square(s) to confirm..."},
        // A masked border (odd, so staged from one pixel less): the markers still sit on the pixels.
        {{{41, 60}, {363, 239}}, {{41, 60}, {363, 239}}, "Found candidates (2), click on the red square(s) to confirm...",
         {5, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        Finder f(c.hot, "BSN-0042", {}, c.active);
        f.dialog->show();
        EXPECT_EQ(f.searches, 1);
        EXPECT_EQ(f.Status().text().toStdString(), c.status);
        EXPECT_EQ(f.MarkedPixels(), c.marked);
        for (const Marker* m : f.dialog->Markers())
            EXPECT_EQ(m->PenColour(), QColor(Qt::red));
        EXPECT_FALSE(f.Button("btOk").isEnabled());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        // A higher threshold than the hot pixels stand out by finds none.
        uitest::Child<QSpinBox>(*f.dialog, "udThreshold").setValue(kHot - kFlat);
        f.Button("btFind").click();
        EXPECT_TRUE(f.dialog->Markers().empty());
    }
}

TEST(TFDeadPixels, OkStoresExactlyTheConfirmedPixels)
{
    // a and c confirmed; b registered before; d left unconfirmed.
    const QPoint a{41, 60}, b{101, 60}, c{161, 90}, d{221, 120};
    Finder f({a, b, c, d});
    platform::DeadPixelStore store(f.ini);
    ASSERT_TRUE(store.Add("BSN-0042", "Nikon D800", b.x() + kLeft, b.y() + kTop));
    f.dialog->show();
    ASSERT_EQ(f.dialog->Markers().size(), 4u);
    auto marker = [&](const QPoint& p) {
        for (Marker* m : f.dialog->Markers())
            if (m->geometry().center() == p)
                return m;
        ADD_FAILURE() << "no marker";
        return f.dialog->Markers().front();
    };
    EXPECT_EQ(marker(b)->PenColour(), QColor(255, 128, 64));
    QTest::mouseClick(marker(b), Qt::LeftButton); // registered: not clickable
    EXPECT_EQ(f.dialog->ConfirmedCount(), 0);
    EXPECT_EQ(marker(b)->CurrentState(), Marker::State::kRegistered);

    struct Click {
        QPoint at;
        int confirmed;
        std::string status;
    };
    const Click clicks[] = {
        {a, 1, "Confirmed 1 pixel... click 'OK' to add to list..."},
        {a, 0, "Confirmed 0 pixels..."},
        {a, 1, "Confirmed 1 pixel... click 'OK' to add to list..."},
        {c, 2, "Confirmed 2 pixels... click 'OK' to add to list..."},
    };
    for (const Click& k : clicks) {
        QTest::mouseClick(marker(k.at), Qt::LeftButton);
        EXPECT_EQ(f.dialog->ConfirmedCount(), k.confirmed);
        EXPECT_EQ(f.Button("btOk").isEnabled(), k.confirmed > 0);
        EXPECT_EQ(f.Status().text().toStdString(), k.status);
    }
    EXPECT_EQ(marker(a)->PenColour(), QColor(0, 0x80, 0));
    f.Button("btOk").click();
    EXPECT_EQ(f.dialog->result(), QDialog::Accepted);
    ASSERT_EQ(f.boxes.shown.size(), 1u);
    EXPECT_EQ(f.boxes.shown[0].caption, "Pixels added");
    EXPECT_EQ(f.boxes.shown[0].text.substr(0, 48), "2 confirmed pixels were added to the dead pixel ");
    const auto toPhoto = [](QPoint p) { return platform::DeadPixel{p.x() + kLeft, p.y() + kTop}; };
    EXPECT_EQ(store.Load("BSN-0042"), (std::vector<platform::DeadPixel>{toPhoto(b), toPhoto(a), toPhoto(c)}));
    ASSERT_EQ(store.Bodies().size(), 1u);
    EXPECT_EQ(store.Bodies()[0].model, "Nikon D800");
}

TEST(TFDeadPixels, APhotoWithoutSerialOrAnUnwritableListStoresNothingSilently)
{
    EXPECT_FALSE(ui::TFDeadPixels::CanRegister(""));
    EXPECT_TRUE(ui::TFDeadPixels::CanRegister("BSN-0042"));
    {
        Finder f(HotPixels(2), "");
        ASSERT_EQ(f.convert.fCameraSerial, "");
        f.dialog->show();
        EXPECT_EQ(f.searches, 0);
        EXPECT_FALSE(f.Button("btFind").isEnabled());
        EXPECT_FALSE(f.Button("btOk").isEnabled());
    }
    // A settings file whose folder is a regular file cannot be written.
    TempDir dir;
    std::ofstream(dir.path / "file") << "x";
    Finder f(HotPixels(2), "BSN-0042", dir.path / "file" / "Velloray.ini");
    f.dialog->show();
    ASSERT_EQ(f.dialog->Markers().size(), 2u);
    QTest::mouseClick(f.dialog->Markers()[0], Qt::LeftButton);
    f.Button("btOk").click();
    ASSERT_EQ(f.boxes.shown.size(), 1u);
    EXPECT_EQ(f.boxes.shown[0].caption, "Pixels not added");
    EXPECT_EQ(f.boxes.shown[0].icon, platform::MessageIcon::kWarning);
    EXPECT_NE(f.boxes.shown[0].text.find("0 of the confirmed pixels were added."), std::string::npos);
}

std::string ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(TFDeadPixelList, ListsTheBodyOfThePhotoAndRemovesOnlyOnYes)
{
    TempDir dir;
    const fs::path path = dir.path / "Velloray.ini";
    {
        platform::IniFile ini(path);
        platform::DeadPixelStore store(ini);
        ASSERT_TRUE(store.Add("111", "LEICA M (Typ 240)", 10, 20));
        ASSERT_TRUE(store.Add("222", "LEICA M (Typ 240)", 11, 20));
        ASSERT_TRUE(store.Add("222", "LEICA M (Typ 240)", 11, 21));
        ASSERT_TRUE(store.Add("333", "Nikon D800", 10, 20));
    }
    platform::IniFile ini(path);
    enginetest::FakeMessageBoxes boxes;
    ui::TFDeadPixelList list(ini, boxes);
    auto& cameras = uitest::Child<QComboBox>(list, "cbCameras");
    auto& pixels = uitest::Child<QTreeWidget>(list, "lvPixels");
    auto& remove = uitest::Child<QPushButton>(list, "btRemove");
    auto rows = [&] {
        std::vector<std::string> r;
        for (int i = 0; i < pixels.topLevelItemCount(); ++i) {
            const QTreeWidgetItem* it = pixels.topLevelItem(i);
            r.push_back((it->text(0) + "," + it->text(1) + "," + it->text(2)).toStdString());
        }
        return r;
    };

    struct Case {
        std::string serial, model;
        int selected;
    };
    // By serial first: the earlier of two bodies of one model; else the last body of the model.
    const Case cases[] = {{"111", "LEICA M (Typ 240)", 0}, {"999", "LEICA M (Typ 240)", 1},
                          {"", "Canon EOS 40D", -1},      {"333", "Nikon D800", 2}};
    for (const Case& c : cases) {
        list.SetCurrentBody(c.serial, c.model);
        list.show();
        EXPECT_EQ(cameras.count(), 3);
        EXPECT_EQ(cameras.currentIndex(), c.selected) << c.serial;
        list.hide();
    }
    EXPECT_EQ(cameras.itemText(0).toStdString(), "LEICA M (Typ 240) - sn: 111");
    EXPECT_EQ(rows(), (std::vector<std::string>{"10,20,Red"}));
    cameras.setCurrentIndex(1);
    EXPECT_EQ(rows(), (std::vector<std::string>{"11,20,Green", "11,21,Red"}));
    EXPECT_FALSE(remove.isEnabled());

    // No (the default) leaves the file as it was; Yes removes that key alone.
    pixels.setCurrentItem(pixels.topLevelItem(0));
    ASSERT_TRUE(remove.isEnabled());
    const std::string before = ReadAll(path);
    boxes.answers = {platform::MessageResult::kNo, platform::MessageResult::kYes};
    remove.click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, "Remove pixel?");
    EXPECT_EQ(boxes.shown[0].icon, platform::MessageIcon::kQuestion);
    EXPECT_TRUE(boxes.shown[0].secondButtonDefault);
    EXPECT_EQ(ReadAll(path), before);
    remove.click();
    EXPECT_EQ(rows(), (std::vector<std::string>{"11,21,Red"}));
    platform::IniFile reread(path);
    EXPECT_EQ(reread.ReadSection("222"), (std::vector<std::string>{"2"}));
    EXPECT_EQ(reread.ReadSection("111"), (std::vector<std::string>{"1"}));
    EXPECT_EQ(reread.ReadSection(platform::DeadPixelStore::kBodiesSection).size(), 3u);
}

// The "Bayer" column names the colour of the body's own pattern: its model's, or the open photo's
// for the body that took it (GBRG here, unlike its model's, with an active area that starts on an
// odd row: pixels count from the staged image, whose pattern starts at its corner).
TEST(TFDeadPixelList, BayerColumnFollowsTheBodysPattern)
{
    TempDir dir;
    const fs::path path = dir.path / "Velloray.ini";
    struct Case {
        const char *serial, *model, *colours; // of the pixels (10, 20), (11, 20), (10, 21)
    };
    const Case cases[] = {{"111", "Nikon D800", "Red,Green,Green"},
                          {"222", "Nikon D200", "Green,Red,Blue"},
                          {"333", "LEICA M (Typ 240)", "Blue,Green,Green"},
                          {"BSN-0042", "Nikon D800", "Green,Blue,Red"}};
    {
        platform::IniFile ini(path);
        platform::DeadPixelStore store(ini);
        for (const Case& c : cases)
            for (const auto& [x, y] : {std::pair{10, 20}, {11, 20}, {10, 21}})
                ASSERT_TRUE(store.Add(c.serial, c.model, x, y));
    }
    fixtures::DngSpec spec;
    spec.uniqueCameraModel = "Nikon D800";
    spec.mosaic = fixtures::Mosaic::kGBRG;
    spec.bodySerialNumber = spec.cameraSerialNumber = "BSN-0042";
    spec.activeArea = dng::Rect(1, 0, 48, 64);
    const auto photo = std::make_unique<fixtures::TempFile>(fixtures::MakeDng(spec).bytes);
    enginetest::FakeEngineUi engineUi;
    engine::DNGConvert convert(engineUi);
    convert.ReadEmbeddedPreview(photo->PathString());

    platform::IniFile ini(path);
    enginetest::FakeMessageBoxes boxes;
    ui::TFDeadPixelList list(ini, boxes);
    list.SetCurrentBody(convert.fCameraSerial, convert.fCameraModel, convert.fCameraLayout);
    list.show();
    auto& cameras = uitest::Child<QComboBox>(list, "cbCameras");
    auto& pixels = uitest::Child<QTreeWidget>(list, "lvPixels");
    for (int i = 0; i < 4; ++i) {
        cameras.setCurrentIndex(i);
        QStringList colours;
        for (int row = 0; row < pixels.topLevelItemCount(); ++row)
            colours << pixels.topLevelItem(row)->text(2);
        EXPECT_EQ(colours.join(",").toStdString(), cases[i].colours) << cases[i].model;
    }
}

} // namespace
