#include "ui/velloray_application.h"

#include "ui/class_trackbarmouse.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace ui {

VellorayApplication::VellorayApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    TTrackBarMouse::InstallAccessibility();
}

bool VellorayApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ReportEscapedException(error.what());
    } catch (...) {
        ReportEscapedException("");
    }
    return false;
}

void VellorayApplication::ReportEscapedException(const char* what)
{
    std::string text = "Whoa... that's a bug...";
    if (*what != '\0') text += std::string("\n\n") + what;
    if (fBoxes == nullptr) {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::abort();
    }
    if (fReporting) {
        std::fprintf(stderr, "%s\n", text.c_str());
        return;
    }
    fReporting = true;
    fBoxes->Show({text, "Velloray error", platform::MessageIcon::kWarning, platform::MessageButtons::kOk, true});
    fReporting = false;
}

} // namespace ui
