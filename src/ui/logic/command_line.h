// The program's command line: regular mode, or plug-in mode on one photo ("-lrpluginmode#<photo>").
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ui {

struct StartRequest {
    bool pluginMode = false;
    std::string photoPath;       // plug-in mode: the text after the first "#", kept as it is
    bool askWrongFormat = false; // plug-in mode: the photo's name does not end in "dng"
};

// The arguments after the program's own name, joined with single blanks into one command line.
std::string JoinArguments(const std::vector<std::string>& arguments);

// Reads a command line: at most one double quote is dropped at each end (the end first), the switch
// is the text before the first "#" and compared exactly, case-sensitively, with "-lrpluginmode".
StartRequest ParseCommandLine(std::string_view line);

} // namespace ui
