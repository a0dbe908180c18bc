// Process set-up on Windows. The C runtime keeps descriptors 0, 1 and 2 for
// the standard streams even when the process was started without their
// handles (writes to them then fail), and files get handles of their own,
// so no file of the run can take a standard stream's place. A write to a
// closed pipe fails with an error; no signal ends the process for it.
#include "process_setup.h"

#include <windows.h>

#include "staged_file.h"

namespace {

// Runs on a thread of its own when the user presses Ctrl-C or Ctrl-Break,
// closes the console window, or Windows shuts down: removes the merged
// file being written, then lets the default handler end the process as it
// would have.
BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT ||
        event == CTRL_SHUTDOWN_EVENT) {
        removeStagingFileNow();
    }
    return FALSE;
}

}  // namespace

bool prepareProcess() {
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    return true;
}
