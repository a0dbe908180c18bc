#include "merge_run.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "console.h"
#include "detection_log.h"
#include "folder_picker.h"
#include "host.h"

namespace {

// Lets the next run have the folder: the listing is closed, then the lock
// let go.
void leaveFolder(Run& run) {
    // Windows removes no file that is open, and the next run replaces the
    // listing first.
    run.listing.close();
    unlockFolder(run.lock);
}

}  // namespace

StepResult endAfterFailure(Run& run, Wait wait) {
    abandonDetectionLog();
    leaveFolder(run);
    run.waited = true;
    if (wait == Wait::ForCharacter) {
        std::printf(" Enter CR to exit program \n");
        waitForCharacter();
    } else {
        std::printf(" Type a number and Enter to exit program \n");
        waitForInteger();
    }
    return runEndsWith(kExitFileError);
}

StepResult endAfterWriteFailure(Run& run) {
    std::printf(" Cannot write KEL detection log file %s (%s) \n", run.paths.mergedPath.c_str(),
                detectionLogError().c_str());
    return endAfterFailure(run, Wait::ForNumber);
}

StepResult endAfterOpenFailure(Run& run, const std::string& path, int error) {
    std::printf(" Cannot open file %s for reading \n", path.c_str());
    std::printf(" (%s) \n\n", std::strerror(error));
    return endAfterFailure(run, Wait::ForCharacter);
}

namespace {

// The new merged file has its name, but its folder could not be flushed.
StepResult endAfterFolderNotFlushed(Run& run) {
    std::printf(" KEL detection log file %s was written, but its folder could not be flushed to "
                "disk (%s) \n",
                run.paths.mergedPath.c_str(), detectionLogError().c_str());
    return endAfterFailure(run, Wait::ForNumber);
}

constexpr char kBannerRule[] = "=========================================================\n";

void printBanner() {
    std::printf("\n\n%s", kBannerRule);
    std::printf("  KEL Combine Detectinfo  %4.2f \n", kProgramVersion);
    std::printf("%s\n", kBannerRule);
}

enum class FolderSource { Argument, Chosen };

// The FF folder from the one argument, or else from the folder source.
// False, after a message, when there is none.
bool obtainFfFolder(int argc, char** argv, std::string& folder, FolderSource& source) {
    source = argc == 2 ? FolderSource::Argument : FolderSource::Chosen;
    if (argc == 2) {
        folder = argv[1];
    } else if (!browseForFfFolder(folder)) {
        return false;
    }
    if (folder.empty()) {
        std::printf(" No FF folder given \n");
        return false;
    }
    return true;
}

// The run's paths, and the checks they must pass before anything is
// written.
StepResult derivePaths(Run& run, const std::string& folder) {
    run.paths = deriveMergePaths(folder);
    if (!fitsTheHeader(run.paths) || !hostAcceptsRunPaths(run.paths) ||
        !namesAFolder(folder, run.paths.ffFolder)) {
        return runEndsWith(kExitFileError);
    }
    return kGoOn;
}

// Takes the folder for this run, waiting for another run on it to end,
// and writes the listing of its per-camera files.
StepResult listFolder(Run& run) {
    // Made without clearing the record, whose room for written lines (over
    // a megabyte) each read fills as far as the record needs, so that
    // memory is taken only where records reach.
    run.state = std::make_unique_for_overwrite<MergeState>();
    lockFolder(run.paths.ffFolder, run.lock);
    run.listed = writeFolderListing(run.paths.ffFolder, run.paths.listingPath,
                                    run.state->filesLeftOut);
    if (run.listed == ListingResult::Refused) {
        leaveFolder(run);
        return runEndsWith(kExitFileError);
    }
    if (run.listed == ListingResult::Unwritable) {
        std::printf("\n");
        return endAfterFailure(run, Wait::ForCharacter);
    }
    return kGoOn;
}

// Creates the new merged file under its staging name, with its header.
StepResult createMergedFile(Run& run) {
    const MergePaths& paths = run.paths;
    run.ownFiles.earlierMerged = identityOfPath(paths.mergedPath);
    if (!openDetectionLog(paths.mergedPath, paths.stagingPath, paths.ffFolder, paths.calFolder)) {
        std::printf(" Cannot open KEL detection log file %s for writing \n",
                    paths.mergedPath.c_str());
        std::printf(" (%s) \n", detectionLogError().c_str());
        return endAfterFailure(run, Wait::ForNumber);
    }
    run.ownFiles.staging = identityOfPath(paths.stagingPath);
    return kGoOn;
}

// Merges the file of every name of the listing, in its order.
StepResult mergeListedFiles(Run& run) {
    std::ifstream& listing = run.listing;
    if (run.listed == ListingResult::Written) {
        listing.open(run.paths.listingPath, std::ios::binary);
    }
    if (!listing.is_open()) {
        std::printf(" KELdetectinfo directory listing file %s not found (or not generated)\n\n",
                    run.paths.listingPath.c_str());
        return endAfterFailure(run, Wait::ForCharacter);
    }
    std::string name;
    while (std::getline(listing, name)) {
        if (!name.empty() && name.back() == '\r') {
            name.pop_back();
        }
        const NameResult merged = name.empty() ? NameResult{NameResult::Kind::Skipped}
                                               : mergeListedName(run, name);
        if (merged.kind == NameResult::Kind::RunEnds) {
            return runEndsWith(merged.status);
        }
    }
    if (listing.bad()) {
        // A listing that could not be read to its end would pass for a
        // shorter one: the files it did not give were never looked at.
        std::printf(" KELdetectinfo directory listing file %s could not be read to its end\n\n",
                    run.paths.listingPath.c_str());
        return endAfterFailure(run, Wait::ForCharacter);
    }
    return kGoOn;
}

// Writes the count and gives the new merged file its name.
StepResult finishMergedFile(Run& run) {
    const FinishResult finished = finishDetectionLog(run.state->count);
    if (finished == FinishResult::Failed) {
        return endAfterWriteFailure(run);
    }
    if (finished == FinishResult::FolderNotFlushed) {
        return endAfterFolderNotFlushed(run);
    }
    leaveFolder(run);
    return kGoOn;
}

// What a complete run did: the records merged, from how many files, into
// which file, and how much was left out. Status 2 when anything was.
int reportMerged(const Run& run) {
    const MergeState& state = *run.state;
    std::printf("\n Done with processing \n");
    if (state.filesRead == 0 && state.filesLeftOut == 0) {
        std::printf(" No per-camera files (KELdetectinfo_<camera>_<text>.txt) in folder %s \n",
                    run.paths.ffFolder.c_str());
    }
    std::printf(" Merged %ld record%s from %ld file%s into %s \n", static_cast<long>(state.count),
                state.count == 1 ? "" : "s", state.filesRead, state.filesRead == 1 ? "" : "s",
                run.paths.mergedPath.c_str());
    if (state.damagedRecords > 0 || state.filesLeftOut > 0) {
        std::printf(" Not merged: %ld damaged record(s); %ld listed file(s) refused or not read "
                    "to their end \n",
                    state.damagedRecords, state.filesLeftOut);
        return kExitIncomplete;
    }
    return kExitMerged;
}

// The steps of a run once its folder is known, each of which may end it.
int mergeFolder(Run& run, const std::string& folder) {
    StepResult step = derivePaths(run, folder);
    step = step.goesOn ? listFolder(run) : step;
    step = step.goesOn ? createMergedFile(run) : step;
    step = step.goesOn ? mergeListedFiles(run) : step;
    step = step.goesOn ? finishMergedFile(run) : step;
    return step.goesOn ? reportMerged(run) : step.status;
}

}  // namespace

int runMerge(int argc, char** argv) {
    const InfoAnswer answer = answerInfoOption(argc, argv);
    if (answer != InfoAnswer::None) {
        return answer == InfoAnswer::Answered ? kExitMerged : kExitFileError;
    }
    printBanner();

    std::string folder;
    FolderSource source = FolderSource::Argument;
    if (!obtainFfFolder(argc, argv, folder, source)) {
        return kExitFileError;
    }
    Run run;
    const int status = mergeFolder(run, folder);
    // A window that Explorer opened for the run would close with it, its
    // messages unread. A run given its folder (by a script, a scheduled
    // task) never waits.
    if (source == FolderSource::Chosen && !run.waited && consoleClosesWithProgram()) {
        std::printf(" Press Enter to close this window \n");
        waitForCharacter();
    }
    return status;
}
