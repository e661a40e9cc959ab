#pragma once

#include <QString>

namespace ui {

// "0.9.83": the project's version.
QString ProgramVersion();

} // namespace ui
