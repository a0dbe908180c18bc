// What the host asks of a run: its path rules (the separator that the
// folder rules of a run use, how a typed folder path is brought to the
// host's own form, which paths the host can work with at all) and the set-up
// of the process. posix/host.cpp and windows/host.cpp implement it.
#pragma once

#include <string>

#include "merge_paths.h"

extern const char kPathSeparator;

// The form of a folder path, as given on the command line, that the path
// rules work on.
std::string nativeFolderPath(const std::string& typed);

// True when `path` begins with a drive letter and its colon ("D:\\",
// "D:", "D:night1"), which is no part of a folder's name; never on hosts
// without drive letters.
bool startsWithDriveLetter(const std::string& path);

// False, after a message that says why, when the host cannot work with the
// paths of a run; the run then ends before it writes anything.
bool hostAcceptsRunPaths(const MergePaths& paths);

// Why the host cannot open or create a file by a path as long as `path`,
// worded to follow the path in a message; empty when it can.
std::string pathLengthProblem(const std::string& path);

// Gives the standard streams a place when the process was started with one
// of them closed, so that no file of the run can take its descriptor, and
// lets a failed write to standard output (a closed pipe) or past a
// file-size limit come back as an error instead of ending the process.
// False when the standard streams cannot be given a place.
bool prepareProcess();
