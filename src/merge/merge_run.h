// One whole run of the program: the FF folder from the command line or the
// folder source, the listing, the merged file, every record of every
// listed per-camera file, the count, the messages and the exit status.
// Also what the steps of a run share: the run's state and how each step
// ends.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "detection_log.h"
#include "folder_files.h"
#include "folder_listing.h"
#include "merge_file.h"
#include "merge_paths.h"

// Exit statuses of a run.
inline constexpr int kExitMerged = 0;      // every listed file merged whole
inline constexpr int kExitFileError = 1;   // a file could not be opened, created or written
inline constexpr int kExitIncomplete = 2;  // the run completed, but input was left out

int runMerge(int argc, char** argv);

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

// The steps of a run once its folder is known (as typed, or from the
// folder source), each of which may end it. Returns the run's exit status.
int mergeFolder(Run& run, const std::string& folder);

// The program's banner, printed once a run begins.
void printBanner();

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
