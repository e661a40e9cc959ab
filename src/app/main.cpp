// Entry point. The windows are being built; until the main window exists, the program says so.
#include "ui/logic/program_globals.h"

#include <cstdio>

int main()
{
    (void)ui::Globals();
    std::puts("Velloray 0.9.83: the windows of the program are not built yet.");
    return 0;
}
