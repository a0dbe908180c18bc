// The console window the program runs in. Started from Explorer, a console
// program gets a console window of its own, which closes the moment the
// program ends: its last messages could not be read.
#pragma once

// True when the console window belongs to this program alone, as when
// Explorer started it, so that it closes as soon as the program ends.
// False in a console that another program (a command prompt, a script)
// shares, and where there is no console window at all.
bool consoleClosesWithProgram();
