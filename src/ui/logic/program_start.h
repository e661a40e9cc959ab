// The questions and reports of program start, before any window exists. Their message boxes have no
// owner window.
#pragma once

#include "platform/message_box.h"
#include "ui/logic/command_line.h"

namespace ui {

// Sets the process-wide mode from the command line and asks what must be asked before the windows
// open: "Wrong format" for a plug-in photo whose name does not end in "dng" (No ends the program),
// then whether the plug-in photo exists at all. Returns false when the program must end now.
bool PrepareStart(const StartRequest& request, platform::MessageBoxService& boxes);

// A plug-in start that finds a regular instance running (or cannot get through to it).
void ReportVersionRunning(platform::MessageBoxService& boxes);

} // namespace ui
