// One run of the program on one FF folder: the folder from the command
// line or the folder source, the listing, the merged file, every record of
// every listed per-camera file, the count, the messages and the exit
// status. The steps share their state and their ends in run_steps.h.
#pragma once

#include <string>

#include "run_steps.h"

// The run of the one folder given (`folders` is 1), or, with none, of the
// folder the folder source gives. Returns the run's exit status.
int runOneFolder(int folders, char** arguments);

// The steps of a run once its folder is known (as typed, or from the
// folder source), each of which may end it. Returns the run's exit status.
int mergeFolder(Run& run, const std::string& folder);

// The program's banner, printed once a run begins.
void printBanner();
