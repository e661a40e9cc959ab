// The version text shown in the windows and compared by the update check.
#include "ui/program_version.h"

namespace ui {

QString ProgramVersion() { return QStringLiteral(VELLORAY_VERSION); }

} // namespace ui
