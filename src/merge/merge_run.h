// One whole run of the program: the FF folder from the command line or the
// folder source, the listing, the merged file, every record of every
// listed per-camera file, the count, the messages and the exit status.
#pragma once

inline constexpr int kMaxRecordsPerFile = 99999;

// Exit statuses of a run.
inline constexpr int kExitMerged = 0;      // every listed file merged whole
inline constexpr int kExitFileError = 1;   // a file could not be opened, created or written
inline constexpr int kExitIncomplete = 2;  // the run completed, but input was left out

int runMerge(int argc, char** argv);
