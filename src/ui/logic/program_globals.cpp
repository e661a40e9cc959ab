#include "ui/logic/program_globals.h"

namespace ui {

ProgramGlobals& Globals()
{
    static ProgramGlobals globals;
    return globals;
}

} // namespace ui
