// Process set-up on Windows. The C runtime keeps descriptors 0, 1 and 2 for
// the standard streams even when the process was started without their
// handles (writes to them then fail), and files get handles of their own,
// so no file of the run can take a standard stream's place. A write to a
// closed pipe fails with an error; no signal ends the process for it.
#include "process_setup.h"

bool prepareProcess() {
    return true;
}
