// Windows: a console that lists this process alone was made for it. A
// command prompt that started the program shares its console with it, and
// a program without a console gets no list at all.
#include "console_window.h"

#include <windows.h>

bool consoleClosesWithProgram() {
    DWORD processes[2];
    return GetConsoleProcessList(processes, 2) == 1;
}
