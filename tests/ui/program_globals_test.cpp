#include "ui/logic/program_globals.h"
#include "ui/program_version.h"

#include <gtest/gtest.h>

TEST(ProgramGlobals, StartInRegularModeWithTheProjectVersion)
{
    EXPECT_FALSE(ui::Globals().pluginMode);
    EXPECT_EQ(ui::ProgramVersion().toStdString(), "0.9.83");
}
