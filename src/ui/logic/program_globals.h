// Process-wide values set once from the command line, before any window exists.
#pragma once

#include <string>

namespace ui {

struct ProgramGlobals {
    bool pluginMode = false;     // started with "-lrpluginmode#<photo>"
    std::string pluginPhotoPath; // the photo given in plug-in mode
};

// The one instance of the process; written by program start only.
ProgramGlobals& Globals();

} // namespace ui
