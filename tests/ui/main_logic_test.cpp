// The main window's widget-free rules: enabling, crop geometry, labels, entries, settings and the
// folder write test.
#include "ui/logic/crop_geometry.h"
#include "ui/logic/folder_write_test.h"
#include "ui/logic/main_enabling.h"
#include "ui/logic/main_labels.h"
#include "ui/logic/main_settings.h"

#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TEST(MainEnabling, RunIdleResultAndMethodRules)
{
    ui::EnablingInputs idle;
    idle.photoChosen = true;
    idle.resultReady = true;

    // During a run everything that reaches the engine is off, whatever the rest says.
    ui::EnablingInputs run = idle;
    run.enable = false;
    run.method = 5;
    run.useGradient = true;
    run.leicaT = true;
    run.correctG1G2 = true;
    const ui::ControlStates r = ui::ComputeEnabling(run);
    for (bool on : {r.explorer, r.qualityAndExport, r.leicaTNoCorrection, r.calculate, r.bilinear, r.bayerStripped,
                    r.brightnessContrast, r.previewKind, r.gamma, r.clipping, r.previewMouse, r.deadPixels,
                    r.noisePreview, r.noiseReset, r.fixDeadPixels, r.deadPixelList, r.saveAs, r.strength, r.kelvin,
                    r.useGradient, r.gradient, r.aboutAndUpdate, r.niPanel, r.g1g2Mode, r.g1g2Entry})
        EXPECT_FALSE(on);

    struct Case {
        const char* what;
        void (*change)(ui::EnablingInputs&);
        bool saveAs, noise, deadPixels, calculate, brightness, bilinear;
    } cases[] = {
        {"result, auto save off", [](ui::EnablingInputs&) {}, true, true, true, true, true, true},
        {"no result", [](ui::EnablingInputs& i) { i.resultReady = false; }, false, false, false, true, true, true},
        {"auto save", [](ui::EnablingInputs& i) { i.autoSave = true; }, false, true, true, true, true, true},
        {"after a batch", [](ui::EnablingInputs& i) { i.batchRunning = true; }, true, false, false, true, true, true},
        {"after a 50% run", [](ui::EnablingInputs& i) { i.halfSizeRun = true; }, true, true, false, true, true, true},
        {"setting changed", [](ui::EnablingInputs& i) { i.settingsChanged = true; }, true, false, false, true, true, true},
        {"no photo", [](ui::EnablingInputs& i) { i.photoChosen = false; }, true, true, true, false, true, true},
        {"cooked", [](ui::EnablingInputs& i) { i.cooked = true; }, true, true, true, true, false, true},
        {"modified camera", [](ui::EnablingInputs& i) { i.bayerStripped = true; }, true, true, true, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ui::EnablingInputs in = idle;
        c.change(in);
        const ui::ControlStates s = ui::ComputeEnabling(in);
        EXPECT_EQ(s.saveAs, c.saveAs);
        EXPECT_EQ(s.noisePreview, c.noise);
        EXPECT_EQ(s.noiseReset, c.noise);
        EXPECT_EQ(s.deadPixels, c.deadPixels);
        EXPECT_EQ(s.calculate, c.calculate);
        EXPECT_EQ(s.brightnessContrast, c.brightness);
        EXPECT_EQ(s.bilinear, c.bilinear);
        EXPECT_TRUE(s.clipping && s.previewMouse && s.aboutAndUpdate && s.explorer);
    }

    // Method, gradient, Leica T and the G1/G2 controls.
    struct MethodCase {
        int method;
        bool useGradient;
        bool strength, kelvin, gradientBox, gradient;
    } methods[] = {{0, true, false, false, false, false}, {2, true, true, false, false, false},
                   {3, false, true, true, true, false},   {5, true, true, true, true, true}};
    for (const MethodCase& m : methods) {
        ui::EnablingInputs in = idle;
        in.method = m.method;
        in.useGradient = m.useGradient;
        const ui::ControlStates s = ui::ComputeEnabling(in);
        EXPECT_EQ(s.strength, m.strength) << m.method;
        EXPECT_EQ(s.kelvin, m.kelvin) << m.method;
        EXPECT_EQ(s.useGradient, m.gradientBox) << m.method;
        EXPECT_EQ(s.gradient, m.gradient) << m.method;
    }
    ui::EnablingInputs in = idle;
    EXPECT_FALSE(ui::ComputeEnabling(in).leicaTNoCorrection);
    EXPECT_FALSE(ui::ComputeEnabling(in).g1g2Mode);
    in.leicaT = in.correctG1G2 = true;
    EXPECT_TRUE(ui::ComputeEnabling(in).leicaTNoCorrection);
    EXPECT_TRUE(ui::ComputeEnabling(in).g1g2Mode);
    EXPECT_FALSE(ui::ComputeEnabling(in).g1g2Entry);
    in.g1g2Manual = true;
    EXPECT_TRUE(ui::ComputeEnabling(in).g1g2Entry);

    EXPECT_EQ(ui::ToolsPreviewMode(1, 19, 19), 6);
    EXPECT_EQ(ui::ToolsPreviewMode(2, 19, 19), 7);
    EXPECT_EQ(ui::ToolsPreviewMode(4, 19, 19), 4);
    EXPECT_EQ(ui::ToolsPreviewMode(1, 18, 19), 1);
}

TEST(CropGeometry, OriginStaysInsideTheBitmap)
{
    struct Case {
        int clickX, clickY, width, height;
        double x, y;
    } cases[] = {
        {184, 122, 3680, 2440, 1656, 1098}, // centre
        {0, 0, 3680, 2440, 0, 0},           // top-left corner
        {368, 244, 3680, 2440, 3312, 2196}, // bottom-right corner
        {300, 10, 368, 244, 0, 0},          // bitmap the crop's size
        {368, 244, 200, 100, 0, 0},         // smaller than the view
        {184, 122, 1000, 100, 316, 0},      // lower than the view
        {0, 0, 0, 0, 0, 0},                 // no bitmap
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.clickX << "," << c.clickY << " on " << c.width << "x" << c.height);
        const ui::CropOrigin o = ui::CropOriginFor(c.clickX, c.clickY, c.width, c.height);
        EXPECT_DOUBLE_EQ(o.x, c.x);
        EXPECT_DOUBLE_EQ(o.y, c.y);
    }
}

TEST(MainLabels, SlidersCountersKindsAndEntries)
{
    const std::pair<int, const char*> kelvins[] = {
        {0, "2000 k"}, {447, "6470 k"}, {800, "10000 k"}, {801, "10162 k"}, {1000, "50000 k"}};
    for (const auto& [position, text] : kelvins)
        EXPECT_EQ(ui::TemperatureLabel(position), text);
    EXPECT_EQ(ui::StrengthLabel(0), "5%");
    EXPECT_EQ(ui::StrengthLabel(19), "100%");
    EXPECT_EQ(ui::PhotoCounterLabel(2, 5), "photo 2 of 5");

    const std::pair<const char*, int> kinds[] = {{"a.JPG", 0}, {"a.tif", 1}, {"a.TIFF", 1}, {"a.Dng", 2},
                                                 {"dng", 2},   {"a.dng ", 3}, {"ng", 3},    {"a.dng.bak", 3}};
    for (const auto& [name, kind] : kinds)
        EXPECT_EQ(ui::FileKind(name), kind) << name;

    const std::pair<const char*, int> entries[] = {{"abc", -1}, {"49", -1},  {"10001", -1}, {"", -1},
                                                   {"50", 50},  {"10000", 10000}, {" 700 ", 700}, {"7e2", -1}};
    for (const auto& [text, expected] : entries) {
        int value = -1;
        const bool ok = ui::ParseG1G2Entry(text, value);
        EXPECT_EQ(ok, expected >= 0) << text;
        if (ok) {
            EXPECT_EQ(value, expected);
        }
    }
}

namespace {

struct TempFolder {
    TempFolder() : path(fs::temp_directory_path() / ("velloray-ui-" + std::to_string(::getpid()) + "-logic"))
    {
        fs::create_directories(path);
    }
    ~TempFolder() { fs::remove_all(path); }
    fs::path path;
};

} // namespace

TEST(MainSettings, JunkFallsBackToDefaults)
{
    TempFolder dir;
    const fs::path file = dir.path / "Velloray.ini";
    std::ofstream(file) << "[Persistent]\nAutoSaveDNG=yes please\nAutoSavePathDNG=\nNICorrectG1G2=1\n"
                           "NICorrectRB=99999999999\nNIOn=1\n";
    ui::PersistentSettings s = ui::ReadPersistentSettings(platform::IniFile(file));
    EXPECT_FALSE(s.autoSave);
    EXPECT_EQ(s.autoSavePath, "[specify folder]");
    EXPECT_TRUE(s.niCorrectG1G2);
    EXPECT_FALSE(s.niCorrectRB);
    EXPECT_TRUE(s.niOn);

    s = ui::ReadPersistentSettings(platform::IniFile(dir.path / "missing.ini"));
    EXPECT_FALSE(s.autoSave || s.niCorrectG1G2 || s.niCorrectRB || s.niOn);
    EXPECT_EQ(s.autoSavePath, "[specify folder]");
}

TEST(FolderWriteTest, LeavesAUsersFilesAloneAndRefusesWhatIsNoWritableFolder)
{
    TempFolder dir;
    std::ofstream(dir.path / "_test.tmp") << "mine";
    EXPECT_TRUE(ui::CanCreateFilesIn(dir.path.string()));
    std::ifstream mine(dir.path / "_test.tmp");
    std::string text;
    mine >> text;
    EXPECT_EQ(text, "mine");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);

    EXPECT_FALSE(ui::CanCreateFilesIn((dir.path / "_test.tmp" / "below").string())); // under a file
    EXPECT_FALSE(ui::CanCreateFilesIn((dir.path / "missing").string()));
    EXPECT_FALSE(ui::CanCreateFilesIn("/proc"));
    EXPECT_FALSE(ui::CanCreateFilesIn(""));
}
