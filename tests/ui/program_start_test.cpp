#include "engine/fake_engine_ui.h"
#include "ui/logic/command_line.h"
#include "ui/logic/program_globals.h"
#include "ui/logic/program_start.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

TEST(CommandLine, ModesPathsAndTheWrongFormatQuestion)
{
    struct Case { const char* line; bool plugin; const char* path; bool ask; };
    for (const Case& c : {
             Case{"", false, "", false},
             {"-lrpluginmode#/p/x.dng", true, "/p/x.dng", false},
             {"-lrpluginmode#/p/X.DNG", true, "/p/X.DNG", false},
             {"-LRPLUGINMODE#/p/x.dng", false, "", false},
             {"\"-lrpluginmode#/p q/x y.dng\"", true, "/p q/x y.dng", false},
             {"-lrpluginmode#/p/x.dng ", true, "/p/x.dng ", true}, // not trimmed: the name ends in a blank
             {"-lrpluginmode#/p/x.tif", true, "/p/x.tif", true},
             {"-lrpluginmode#", true, "", true},
             {"-lrpluginmode#ng", true, "ng", true},
             {"-lrpluginmode#/a#b.dng", true, "/a#b.dng", false},
             {"/p/x.dng", false, "", false},
             {"other#/p/x.dng", false, "", false},
             {"-lrpluginmode /p/x.dng", false, "", false},
             {"\"", false, "", false},
             {"\"-lrpluginmode#/p/x.dng", true, "/p/x.dng", false},
         }) {
        const ui::StartRequest request = ui::ParseCommandLine(c.line);
        EXPECT_EQ(request.pluginMode, c.plugin) << c.line;
        EXPECT_EQ(request.photoPath, c.path) << c.line;
        EXPECT_EQ(request.askWrongFormat, c.ask) << c.line;
    }
    EXPECT_EQ(ui::JoinArguments({"-lrpluginmode#/p", "q/x.dng"}), "-lrpluginmode#/p q/x.dng");
    EXPECT_EQ(ui::JoinArguments({}), "");
}

TEST(ProgramStart, AsksAndReportsBeforeAnyWindow)
{
    const QTemporaryDir temporary;
    const std::filesystem::path folder = temporary.path().toStdString();
    const std::string photo = (folder / "x.tif").string();
    std::ofstream(photo) << "x";

    struct Case { std::string line; std::vector<platform::MessageResult> answers; bool goesOn;
                  std::vector<std::string> captions; };
    using R = platform::MessageResult;
    for (const Case& c : {
             Case{"", {}, true, {}},
             {"-lrpluginmode#" + photo, {R::kYes}, true, {"Wrong format"}},
             {"-lrpluginmode#" + photo, {R::kNo}, false, {"Wrong format"}},
             {"-lrpluginmode#" + (folder / "gone.dng").string(), {}, false, {"Photo not found"}},
             {"-lrpluginmode#" + folder.string() + "/gone.tif", {R::kYes}, false, {"Wrong format", "Photo not found"}},
         }) {
        enginetest::FakeMessageBoxes boxes;
        boxes.answers.assign(c.answers.begin(), c.answers.end());
        const ui::StartRequest request = ui::ParseCommandLine(c.line);
        EXPECT_EQ(ui::PrepareStart(request, boxes), c.goesOn) << c.line;
        std::vector<std::string> captions;
        for (const platform::MessageBoxRequest& shown : boxes.shown) {
            captions.push_back(shown.caption);
            EXPECT_FALSE(shown.ownedByMainWindow);
        }
        EXPECT_EQ(captions, c.captions) << c.line;
        EXPECT_EQ(ui::Globals().pluginMode, request.pluginMode);
        EXPECT_EQ(ui::Globals().pluginPhotoPath, request.photoPath);
    }
    ui::Globals() = ui::ProgramGlobals{};
}

} // namespace
