#include "merge_run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "camera_number.h"
#include "console_window.h"
#include "detection_log.h"
#include "file_identity.h"
#include "folder_listing.h"
#include "folder_lock.h"
#include "folder_picker.h"
#include "info_options.h"
#include "keyboard_wait.h"
#include "listed_file.h"
#include "merge_file.h"
#include "merge_paths.h"
#include "path_rules.h"
#include "shown_text.h"

namespace {

constexpr char kBannerRule[] = "=========================================================\n";

void printBanner() {
    std::printf("\n\n%s", kBannerRule);
    std::printf("  KEL Combine Detectinfo  %4.2f \n", kProgramVersion);
    std::printf("%s\n", kBannerRule);
}

// The files a listed name must not be: the merged file of an earlier run,
// which this run replaces, and the new one being written.
struct OwnFiles {
    FileIdentity earlierMerged;
    FileIdentity staging;
};

// What a run works with once it has its folder.
struct Run {
    bool waited = false;  // the user was waited for after a failure
    MergePaths paths;
    FolderLock lock;
    std::ifstream listing;
    OwnFiles ownFiles;
    std::unique_ptr<MergeState> state;
};

// Lets the next run have the folder. The listing is closed first: Windows
// removes no file that is open, and the next run replaces the listing.
void leaveFolder(Run& run) {
    run.listing.close();
    unlockFolder(run.lock);
}

enum class Wait { ForCharacter, ForNumber };

// Ends a run that failed, once its message is out: the new merged file
// goes, the folder is left to the next run, and the user is told what
// ends the wait and waited for.
int endAfterFailure(Run& run, Wait wait) {
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
    return kExitFileError;
}

int endAfterWriteFailure(Run& run) {
    std::printf(" Cannot write KEL detection log file %s (%s) \n", run.paths.mergedPath.c_str(),
                detectionLogError().c_str());
    return endAfterFailure(run, Wait::ForNumber);
}

int endAfterFolderNotFlushed(Run& run) {
    std::printf(" KEL detection log file %s was written, but its folder could not be flushed to "
                "disk (%s) \n",
                run.paths.mergedPath.c_str(), detectionLogError().c_str());
    return endAfterFailure(run, Wait::ForNumber);
}

int endAfterOpenFailure(Run& run, const std::string& path, int error) {
    std::printf(" Cannot open file %s for reading \n", path.c_str());
    std::printf(" (%s) \n\n", std::strerror(error));
    return endAfterFailure(run, Wait::ForCharacter);
}

// Merges the file of one listed name, or says why it is left out.
// Returns kExitFileError after a failure that ends the run.
int mergeListedName(Run& run, std::string name) {
    const MergePaths& paths = run.paths;
    MergeState& state = *run.state;
    int camera = 0;
    if (!cameraNumberOf(name, camera)) {
        std::printf(" File %s has no camera number in its name; not merged \n",
                    (paths.ffFolder + name).c_str());
        ++state.filesLeftOut;
        return kExitMerged;
    }
    if (camera == 0) {
        return kExitMerged;  // a merged file, such as the one of an earlier run
    }
    if (!listedNameForHost(paths.ffFolder, name)) {
        ++state.filesLeftOut;
        return kExitMerged;
    }
    const std::string path = paths.ffFolder + name;
    std::FILE* file = nullptr;
    int error = 0;
    const ListedFileOpen opened = openListedFile(path, file, error);
    if (opened == ListedFileOpen::Failed) {
        return endAfterOpenFailure(run, path, error);
    }
    if (opened == ListedFileOpen::NotAFile) {
        std::printf(" File %s is no longer a regular file; not merged \n", path.c_str());
        ++state.filesLeftOut;
        return kExitMerged;
    }
    // A listed name may be a link to the merged file: reading it would feed
    // the run its own output, or the earlier run's.
    const FileIdentity identity = identityOfOpenFile(file);
    if (sameFile(identity, run.ownFiles.earlierMerged) || sameFile(identity, run.ownFiles.staging)) {
        std::printf(" File %s is this run's merged file under another name; not read \n",
                    path.c_str());
        std::fclose(file);
        ++state.filesLeftOut;
        return kExitMerged;
    }
    const bool written = mergeFile(path, file, state);
    std::fclose(file);
    return written ? kExitMerged : endAfterWriteFailure(run);
}

// A folder path with a line end in it would break header line 5 in two.
bool fitsTheHeader(const MergePaths& paths) {
    if (paths.ffFolder.find_first_of("\r\n") == std::string::npos) {
        return true;
    }
    std::printf(" FF folder %s has a line end in its path, which the merged file's header "
                "cannot hold \n",
                shownText(paths.ffFolder).c_str());
    return false;
}

// What a complete run did: the records merged, from how many files, into
// which file, and how much was left out. Status 2 when anything was.
int reportMerged(const MergePaths& paths, const MergeState& state) {
    std::printf("\n Done with processing \n");
    if (state.filesRead == 0 && state.filesLeftOut == 0) {
        std::printf(" No per-camera files (KELdetectinfo_<camera>_<text>.txt) in folder %s \n",
                    paths.ffFolder.c_str());
    }
    std::printf(" Merged %ld record%s from %ld file%s into %s \n", static_cast<long>(state.count),
                state.count == 1 ? "" : "s", state.filesRead, state.filesRead == 1 ? "" : "s",
                paths.mergedPath.c_str());
    if (state.damagedRecords > 0 || state.filesLeftOut > 0) {
        std::printf(" Not merged: %ld damaged record(s); %ld listed file(s) refused or not read "
                    "to their end \n",
                    state.damagedRecords, state.filesLeftOut);
        return kExitIncomplete;
    }
    return kExitMerged;
}

enum class FolderSource { Argument, Chosen };

// Whether the folder given as `typed` is an existing folder, looked at as
// the run will use it (`ffFolder`, ending in a separator, so that a drive
// letter alone names its drive); false after a message that says what the
// path as typed names instead.
bool namesAFolder(const std::string& typed, const std::string& ffFolder) {
    std::error_code error;
    if (std::filesystem::is_directory(ffFolder, error)) {
        return true;
    }
    std::error_code typedError;
    const std::filesystem::file_status status = std::filesystem::status(typed, typedError);
    if (status.type() == std::filesystem::file_type::not_found) {
        std::printf(" FF folder %s does not exist \n", shownText(typed).c_str());
    } else if (std::filesystem::exists(status)) {
        std::printf(" %s is not a folder \n", shownText(typed).c_str());
    } else {
        std::printf(" FF folder %s cannot be looked at (%s) \n", shownText(typed).c_str(),
                    (error ? error : typedError).message().c_str());
    }
    return false;
}

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

// Merges the FF folder `folder`: every step of a run after the folder is
// known, up to the message that says what was done.
int mergeFolder(Run& run, const std::string& folder) {
    run.paths = deriveMergePaths(folder);
    const MergePaths& paths = run.paths;
    if (!fitsTheHeader(paths) || !hostAcceptsRunPaths(paths) ||
        !namesAFolder(folder, paths.ffFolder)) {
        return kExitFileError;
    }
    // Made without clearing the record, whose room for written lines (over
    // a megabyte) each read fills as far as the record needs, so that
    // memory is taken only where records reach.
    run.state = std::make_unique_for_overwrite<MergeState>();
    lockFolder(paths.ffFolder, run.lock);
    const ListingResult listed =
        writeFolderListing(paths.ffFolder, paths.listingPath, run.state->filesLeftOut);
    if (listed == ListingResult::Refused) {
        leaveFolder(run);
        return kExitFileError;
    }
    if (listed == ListingResult::Unwritable) {
        std::printf("\n");
        return endAfterFailure(run, Wait::ForCharacter);
    }

    run.ownFiles.earlierMerged = identityOfPath(paths.mergedPath);
    if (!openDetectionLog(paths.mergedPath, paths.ffFolder, paths.calFolder)) {
        std::printf(" Cannot open KEL detection log file %s for writing \n",
                    paths.mergedPath.c_str());
        std::printf(" (%s) \n", detectionLogError().c_str());
        return endAfterFailure(run, Wait::ForNumber);
    }
    run.ownFiles.staging = identityOfPath(detectionLogStagingPath(paths.mergedPath));

    std::ifstream& listing = run.listing;
    if (listed == ListingResult::Written) {
        listing.open(paths.listingPath, std::ios::binary);
    }
    if (!listing.is_open()) {
        std::printf(" KELdetectinfo directory listing file %s not found (or not generated)\n\n",
                    paths.listingPath.c_str());
        return endAfterFailure(run, Wait::ForCharacter);
    }
    std::string name;
    while (std::getline(listing, name)) {
        if (!name.empty() && name.back() == '\r') {
            name.pop_back();
        }
        if (!name.empty() && mergeListedName(run, name) != kExitMerged) {
            return kExitFileError;
        }
    }
    if (listing.bad()) {
        // A listing that could not be read to its end would pass for a
        // shorter one: the files it did not give were never looked at.
        std::printf(" KELdetectinfo directory listing file %s could not be read to its end\n\n",
                    paths.listingPath.c_str());
        return endAfterFailure(run, Wait::ForCharacter);
    }

    const FinishResult finished = finishDetectionLog(run.state->count);
    if (finished == FinishResult::Failed) {
        return endAfterWriteFailure(run);
    }
    if (finished == FinishResult::FolderNotFlushed) {
        return endAfterFolderNotFlushed(run);
    }
    leaveFolder(run);
    return reportMerged(paths, *run.state);
}
}  // namespace

int runMerge(int argc, char** argv) {
    int answered = 0;
    if (answerInfoOption(argc, argv, answered)) {
        return answered;
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
