// POSIX hosts: the program runs in a terminal or without one, which it
// never closes.
#include "console_window.h"

bool consoleClosesWithProgram() {
    return false;
}
