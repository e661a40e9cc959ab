// Window tests run offscreen with one application object for the whole program: the program's own,
// so that its last-resort exception handler is under test too.
#include "ui/velloray_application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ui::VellorayApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
