// The program's icon, drawn rather than shipped as a file: a grey ramp in a rounded square, the
// colour photograph turned monochrome.
#pragma once

#include <QIcon>

namespace ui {

QIcon ProgramIcon();

} // namespace ui
