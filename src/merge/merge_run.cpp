#include "merge_run.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "console.h"
#include "detection_file_names.h"
#include "detection_log.h"
#include "folder_listing.h"
#include "folder_picker.h"
#include "host.h"
#include "merge_file.h"
#include "read_problem.h"

namespace {

// The name of a file of the FF folder, its folder left off.
std::string nameIn(const std::string& path) {
    return splitAtLastSeparator(path).second;
}

enum class FolderSource { Argument, Chosen };

// The FF folder from the one folder given, or else from the folder source.
// False, after a message, when there is none.
bool obtainFfFolder(int folders, char** arguments, std::string& folder, FolderSource& source) {
    source = folders == 1 ? FolderSource::Argument : FolderSource::Chosen;
    if (folders == 1) {
        folder = arguments[0];
    } else if (!browseForFfFolder(folder)) {
        return false;
    }
    if (folder.empty()) {
        std::printf(" No FF folder given \n");
        return false;
    }
    return true;
}

// The run's paths, from the folder made whole, and the checks they must
// pass before anything is written.
StepResult derivePaths(Run& run, const std::string& folder) {
    const std::string whole = wholeFolderPath(nativeFolderPath(folder));
    run.paths = deriveMergePaths(whole);
    if (!fitsTheHeader(run.paths) || !hostCanUse(run.paths)) {
        run.failure = "path cannot be used";
        return runEndsWith(kExitFileError);
    }
    if (!namesAFolder(whole, run.paths.ffFolder, run.failure)) {
        return runEndsWith(kExitFileError);
    }
    if (run.paths.calFolder.empty()) {
        std::printf(" FF folder %s has no HALD folder in its path; its merged file names no CAL "
                    "folder \n",
                    shownText(run.paths.ffFolder).c_str());
    }
    return kGoOn;
}

// Opens the FF folder and holds it for the rest of the run: every file of
// the run is reached through it. A link of another user anywhere on its
// path is named with its owner, and nothing is written.
StepResult holdFfFolder(Run& run) {
    const FolderHold hold = holdFolder(run.paths.ffFolder, run.folder);
    const std::string shownFolder = shownText(run.paths.ffFolder);
    if (hold.outcome == FolderHold::Outcome::Held) {
        run.heldIdentity = run.folder.identity;
        return kGoOn;
    }
    if (hold.outcome == FolderHold::Outcome::Failed) {
        std::printf(" Cannot open FF folder %s (%s) \n", shownFolder.c_str(), hold.reason.c_str());
        return runEndsWith(kExitFileError);
    }
    const std::string owner = shownText(hold.owner);
    if (ensureTrailingSeparator(hold.link) == run.paths.ffFolder) {
        std::printf(" FF folder %s is a link of another user, %s; not followed \n",
                    shownFolder.c_str(), owner.c_str());
        run.failure = "another user's link";
    } else {
        std::printf(" FF folder %s lies behind %s, a link of another user, %s; not followed \n",
                    shownFolder.c_str(), shownText(hold.link).c_str(), owner.c_str());
        run.failure = "behind another user's link";
    }
    return runEndsWith(kExitFileError);
}

// In a run of several folders, a folder merged before under another name
// (a link, another spelling) is merged once: the folder held is compared,
// so that a name that could not be held decides nothing for another.
StepResult mergeOnce(Run& run) {
    if (run.mergedFolders == nullptr) {
        return kGoOn;
    }
    for (const FileIdentity& merged : *run.mergedFolders) {
        if (sameFile(merged, run.heldIdentity)) {
            std::printf(" FF folder %s is %s again; merged once \n", shownText(run.typed).c_str(),
                        shownText(run.paths.ffFolder).c_str());
            run.namedAgain = true;
            leaveFolder(run);
            return runEndsWith(kExitMerged);
        }
    }
    return kGoOn;
}

// Says which files of other runs were left alone, and why: the first few,
// then how many more.
void sayWhatWasLeftAlone(const Run& run, const LeftAlone& notes) {
    for (const LeftFile& file : notes.shown) {
        std::printf(" Temporary file %s left alone: %s \n", shownText(file.path).c_str(),
                    shownText(file.why).c_str());
    }
    if (notes.more > 0) {
        std::printf(" %ld more temporary files of other runs left alone in folder %s \n",
                    notes.more, shownText(run.paths.ffFolder).c_str());
    }
}

// Says, as the run begins to wait for the folder, what it waits for.
void sayWaiting(const HeldFolder& folder) {
    std::printf(" Waiting for another run on folder %s to end \n", shownText(folder.path).c_str());
    std::fflush(stdout);
}

// Takes the folder for this run, waiting a while for another run on it to
// end, and writes the listing of its per-camera files.
StepResult listFolder(Run& run) {
    // Made without clearing the record, whose room for written lines (over
    // a megabyte) each read fills as far as the record needs, so that
    // memory is taken only where records reach.
    run.state = std::make_unique_for_overwrite<MergeState>();
    if (lockFolder(run.folder, run.lock, sayWaiting) == LockOutcome::TimedOut) {
        std::printf(" Another run has held folder %s for %d s; this run leaves it (run again "
                    "later) \n",
                    shownText(run.paths.ffFolder).c_str(), kLockWaitSeconds);
        run.failure = "another run held it for 30 s";
        leaveFolder(run);
        return runEndsWith(kExitFileError);
    }
    LeftAlone leftAlone;
    run.listed = writeFolderListing(run.folder, nameIn(run.paths.listingPath), run.listedNames,
                                    run.state->filesLeftOut, leftAlone);
    sayWhatWasLeftAlone(run, leftAlone);
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

// Creates the new merged file under its staging name, with its header, in
// the held folder. The merged file is named only where it is in the way;
// otherwise the temporary file that could not be made.
StepResult createMergedFile(Run& run) {
    const MergePaths& paths = run.paths;
    const std::string mergedName = nameIn(paths.mergedPath);
    run.ownFiles.earlierMerged = identityInFolder(run.folder, mergedName);
    const LogPlace place{run.folder.handle, paths.ffFolder, mergedName, run.lock.held};
    const bool opened = openDetectionLog(place, paths.calFolder, run.logNotes, run.logFailure);
    sayWhatWasLeftAlone(run, run.logNotes.leftAlone);
    if (!opened) {
        const LogFailure& failure = run.logFailure;
        if (failure.atMergedFile) {
            std::printf(" Cannot open KEL detection log file %s for writing \n",
                        shownText(paths.mergedPath).c_str());
            std::printf(" (%s) \n", failure.reason.c_str());
        } else {
            std::printf(" Cannot create temporary file %s (%s) \n",
                        shownText(failure.path).c_str(), failure.reason.c_str());
        }
        return endAfterFailure(run, Wait::ForNumber);
    }
    run.ownFiles.staging = identityInFolder(run.folder, run.logNotes.stagingName);
    return kGoOn;
}

// Merges the file of every name of the listing, in its order.
StepResult mergeListedFiles(Run& run) {
    for (const std::string& name : run.listedNames) {
        const NameResult merged = mergeListedName(run, name);
        if (merged.kind == NameResult::Kind::RunEnds) {
            return runEndsWith(merged.status);
        }
    }
    return kGoOn;
}

// Writes the count and gives the new merged file its name. A folder
// without per-camera files may be the one above the nights that have
// them: those are counted, through the folder held, before it goes.
StepResult finishMergedFile(Run& run) {
    const FinishResult finished = finishDetectionLog(run.state->count, run.logFailure);
    if (finished == FinishResult::Failed) {
        return endAfterWriteFailure(run);
    }
    if (finished == FinishResult::FolderNotFlushed) {
        return endAfterFolderNotFlushed(run);
    }
    if (run.logNotes.otherNames > 0) {
        std::printf(" KEL detection log file %s had %ld other name(s) (hard links); they keep "
                    "the earlier merged file \n",
                    shownText(run.paths.mergedPath).c_str(), run.logNotes.otherNames);
    }
    if (run.state->filesRead == 0 && run.state->filesLeftOut == 0) {
        run.foldersBelow = foldersBelowHolding(run.folder, isPerCameraName, run.foldersBelowAll);
    }
    leaveFolder(run);
    return kGoOn;
}

// A folder without per-camera files may be the one above the nights that
// have them: the user is shown the command that merges those.
void reportFoldersBelow(const Run& run) {
    if (run.foldersBelow == 0) {
        return;
    }
    const bool one = run.foldersBelow == 1 && run.foldersBelowAll;
    std::printf(" %ld%s folder%s below it hold%s per-camera files; to merge %s: %s \n",
                run.foldersBelow, run.foldersBelowAll ? "" : " or more", one ? "" : "s",
                one ? "s" : "", one ? "it" : "them",
                shownText(commandForFoldersBelow(run.paths.ffFolder)).c_str());
}

// What a complete run did: the records merged, from how many files, into
// which file, and how much was left out. Status 2 when anything was.
int reportMerged(Run& run) {
    const MergeState& state = *run.state;
    if (!run.oneOfSeveral) {
        std::printf("\n Done with processing \n");
    }
    if (state.filesRead == 0 && state.filesLeftOut == 0) {
        std::printf(" No per-camera files (KELdetectinfo_<camera>_<text>.txt) in folder %s \n",
                    shownText(run.paths.ffFolder).c_str());
        reportFoldersBelow(run);
    }
    std::printf(" Merged %ld record%s from %ld file%s into %s \n", static_cast<long>(state.count),
                state.count == 1 ? "" : "s", state.filesRead, state.filesRead == 1 ? "" : "s",
                shownText(run.paths.mergedPath).c_str());
    if (state.damagedRecords > 0 || state.filesLeftOut > 0) {
        std::printf(" Not merged in folder %s: %ld damaged record(s); %ld listed file(s) refused "
                    "or not read to their end \n",
                    shownText(run.paths.ffFolder).c_str(), state.damagedRecords, state.filesLeftOut);
        return kExitIncomplete;
    }
    return kExitMerged;
}

// Why a step that ended the run failed, where the step did not say so
// itself.
const char* holdFailure(const Run&) {
    return "cannot be opened";
}
const char* namedAgain(const Run&) {
    return "";  // a folder merged before ends its run with status 0
}
const char* listingFailure(const Run& run) {
    return run.listed == ListingResult::Refused ? "cannot be listed" : "listing cannot be written";
}
const char* creationFailure(const Run&) {
    return "merged file cannot be created";
}
const char* mergeFailure(const Run&) {
    return "a per-camera file cannot be read";
}
const char* writeFailure(const Run&) {
    return "merged file cannot be written";
}

struct Step {
    StepResult (*action)(Run&);
    const char* (*failure)(const Run&);
};

constexpr Step kStepsInFolder[] = {
    {holdFfFolder, holdFailure},
    {mergeOnce, namedAgain},
    {listFolder, listingFailure},
    {createMergedFile, creationFailure},
    {mergeListedFiles, mergeFailure},
    {finishMergedFile, writeFailure},
};

}  // namespace

void printBanner() {
    static constexpr char kBannerRule[] = "=========================================================\n";
    std::printf("\n\n%s", kBannerRule);
    std::printf("  KEL Combine Detectinfo  %4.2f \n", kProgramVersion);
    std::printf("%s\n", kBannerRule);
}

int mergeFolder(Run& run, const std::string& folder) {
    run.typed = folder;
    StepResult step = derivePaths(run, folder);
    for (const Step& next : kStepsInFolder) {
        if (!step.goesOn) {
            break;
        }
        step = next.action(run);
        if (!step.goesOn && step.status == kExitFileError && run.failure == nullptr) {
            run.failure = next.failure(run);
        }
    }
    return step.goesOn ? reportMerged(run) : step.status;
}

int runOneFolder(int folders, char** arguments) {
    printBanner();
    std::string folder;
    FolderSource source = FolderSource::Argument;
    if (!obtainFfFolder(folders, arguments, folder, source)) {
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
