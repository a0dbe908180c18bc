// What one run works with once it has its FF folder, and how each of its
// steps ends.
#pragma once

#include <fstream>
#include <memory>

#include "file_identity.h"
#include "folder_listing.h"
#include "folder_lock.h"
#include "merge_file.h"
#include "merge_paths.h"
#include "merge_run.h"

// The files a listed name must not be: the merged file of an earlier run,
// which this run replaces, and the new one being written.
struct OwnFiles {
    FileIdentity earlierMerged;
    FileIdentity staging;
};

struct Run {
    MergePaths paths;
    FolderLock lock;
    ListingResult listed = ListingResult::NotWritten;
    std::ifstream listing;
    OwnFiles ownFiles;
    std::unique_ptr<MergeState> state;
    bool waited = false;  // the user was waited for after a failure
};

// How a step of a run ends: the run goes on to its next step, or it ends
// with `status`, its exit status.
struct StepResult {
    bool goesOn = true;
    int status = kExitMerged;
};

inline constexpr StepResult kGoOn{};

inline StepResult runEndsWith(int status) {
    return {false, status};
}
