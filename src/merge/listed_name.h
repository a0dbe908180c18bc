// One name of the listing: merged, skipped as a merged file, or left out
// with a message that says why.
#pragma once

#include <string>

#include "run.h"

struct NameResult {
    enum class Kind {
        Merged,   // the file's records were read into the merged file
        Skipped,  // a merged file (camera 0000), never merged again
        LeftOut,  // named in a message and counted as not merged
        RunEnds,  // the run ends with `status`
    };
    Kind kind;
    int status = kExitMerged;
};

NameResult mergeListedName(Run& run, std::string name);
