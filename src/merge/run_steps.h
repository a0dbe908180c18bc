// What the steps of a run share: the statuses a run ends with, the run's
// state once it has its FF folder (Run, and MergeState, its working state
// for the records), how a step ends (StepResult), and the ends after a
// failure, which every step may come to. The run (merge_run), its steps
// (merge_file) and the run of several folders (archive_run) include this;
// it includes none of them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "detection_log.h"
#include "detection_reader.h"
#include "folder_files.h"
#include "folder_listing.h"
#include "merge_paths.h"

// Exit statuses of a run.
inline constexpr int kExitMerged = 0;      // every listed file merged whole
inline constexpr int kExitFileError = 1;   // a file could not be opened, created or written
inline constexpr int kExitIncomplete = 2;  // the run completed, but input was left out

// The run's working state: one input buffer and one record serve every
// file, and the tallies of what was written and what was left out.
struct MergeState {
    DetectionInput input;
    DetectionRecord record;
    std::int32_t count = 0;     // records written to the merged file
    long filesRead = 0;         // per-camera files whose records were read
    long damagedRecords = 0;    // records refused as damaged
    long filesLeftOut = 0;      // listed files refused, or not read to their end
};

// The files a listed name must not be: the merged file of an earlier run,
// which this run replaces, and the new one being written; and the files
// merged so far, each merged once whatever names lead to it.
struct OwnFiles {
    FileIdentity earlierMerged;
    FileIdentity staging;
    std::vector<FileIdentity> merged;
    std::vector<std::string> mergedNames;  // the name each was merged by
};

// What one run works with once it has its FF folder.
struct Run {
    MergePaths paths;
    HeldFolder folder;
    FolderLock lock;
    ListingResult listed = ListingResult::Written;
    std::vector<std::string> listedNames;  // the names of the listing, in its order
    OwnFiles ownFiles;
    std::unique_ptr<MergeState> state;
    LogNotes logNotes;      // of the new merged file, from its creation
    LogFailure logFailure;  // what stopped the new merged file, if anything
    bool waited = false;  // the user was waited for after a failure
    // One folder of a several-folder run: it never waits for the keyboard,
    // and leaves the closing lines to the tally.
    bool oneOfSeveral = false;
    const char* failure = nullptr;  // why the run failed (status 1), in a few words
    long foldersBelow = 0;  // folders below an FF folder without per-camera files that have some
    bool foldersBelowAll = true;  // every entry below was looked at for foldersBelow
    std::string typed;            // the folder as given
    FileIdentity heldIdentity;    // the folder the run held, once it was held
    // Of a several-folder run: the folders merged before, each merged once
    // whatever names lead to it, and whether this one was among them.
    const std::vector<FileIdentity>* mergedFolders = nullptr;
    bool namedAgain = false;
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

// Lets the next run have the folder: the lock is let go, then the folder.
void leaveFolder(Run& run);

// How a run ends after a failure, once its files are in use: the failure
// has been reported; the new merged file goes, the folder is left to the
// next run, and the user is told what ends the wait and waited for.
// Status 1.
enum class Wait { ForCharacter, ForNumber };
StepResult endAfterFailure(Run& run, Wait wait);

// The merged file could not be written, flushed, closed or renamed.
StepResult endAfterWriteFailure(Run& run);

// A listed per-camera file could not be opened; `error` is its errno.
StepResult endAfterOpenFailure(Run& run, const std::string& path, int error);

// The new merged file has its name, but its folder could not be flushed.
StepResult endAfterFolderNotFlushed(Run& run);
