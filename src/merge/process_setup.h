// What the process sets up before a run, so that no way the run can end
// leaves a broken merged file behind and no failed write to the console
// stops it.
#pragma once

// Gives the standard streams a place when the process was started with one
// of them closed, so that no file of the run can take its descriptor; lets
// a failed write to standard output (a closed pipe) or past a file-size
// limit come back as an error instead of ending the process. (The clean-up
// of the merged file after an interruption is the detection log's own.)
// False, after a message where one can be given, when the standard streams
// cannot be given a place.
bool prepareProcess();
