#include "ui/logic/program_start.h"

#include "ui/logic/program_globals.h"

#include <filesystem>
#include <system_error>

namespace ui {

bool PrepareStart(const StartRequest& request, platform::MessageBoxService& boxes)
{
    Globals().pluginMode = request.pluginMode;
    Globals().pluginPhotoPath = request.photoPath;
    if (!request.pluginMode) return true;

    if (request.askWrongFormat) {
        const platform::MessageBoxRequest question{
            "This photo doesn't appear to be a DNG... Velloray can only process color DNGs...\n\n"
            "Continuing might lead to preview errors.\n\nContinue?",
            "Wrong format", platform::MessageIcon::kWarning, platform::MessageButtons::kYesNo, false};
        if (boxes.Show(question) != platform::MessageResult::kYes) return false;
    }
    // A photo that is not there would otherwise surface as a failed preview ("that's a bug").
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::path(request.photoPath), error)) {
        boxes.Show({"Velloray for Lightroom can't find this photo...\n\n" + request.photoPath, "Photo not found",
                    platform::MessageIcon::kWarning, platform::MessageButtons::kOk, false});
        return false;
    }
    return true;
}

void ReportVersionRunning(platform::MessageBoxService& boxes)
{
    boxes.Show({"Velloray for Lightroom can't start...\n\nIs there a regular version of Velloray running?\n\n"
                "If so, please close that one first, then retry...",
                "Version running?", platform::MessageIcon::kQuestion, platform::MessageButtons::kOk, false});
}

} // namespace ui
