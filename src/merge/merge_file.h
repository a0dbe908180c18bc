// One name of the listing: its per-camera file opened and its records
// copied into the merged file, or the name skipped as a merged file, or
// left out with a message that says why.
#pragma once

#include <string>

#include "run_steps.h"

inline constexpr int kMaxRecordsPerFile = 99999;

// The damaged records of one file that are reported one by one; the rest
// are counted in one closing line, so that a file of damage gives a few
// lines, not one a record.
inline constexpr long kDamagedReportedOneByOne = 5;

// The most bytes read of one per-camera file: far above any real night (a
// few tens of MB), and a bound to a sparse file that claims terabytes
// without using a disk block.
inline constexpr long long kReadBound = 1LL << 30;

struct NameResult {
    enum class Kind {
        Merged,   // the file's records were read into the merged file
        Skipped,  // a merged file (camera 0000), never merged again
        LeftOut,  // named in a message and counted as not merged
        RunEnds,  // the run ends with `status`
    };
    Kind kind;
    int status = 0;
};

// Merges the per-camera file of one listed name (line end removed) into
// the merged file, or skips or leaves out the name, saying why.
NameResult mergeListedName(Run& run, std::string name);
