// Whether the program can create files in a folder: it creates a file of its own, uniquely named
// (never a name a user's file could have), and removes it again.
#pragma once

#include <string>

namespace ui {

// True when a new file could be created (and was removed again) in folder. False for a missing
// folder, a path that is no folder, or one without write permission.
bool CanCreateFilesIn(const std::string& folder);

} // namespace ui
