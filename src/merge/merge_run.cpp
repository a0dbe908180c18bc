#include "merge_run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "camera_number.h"
#include "detection_log.h"
#include "file_identity.h"
#include "folder_listing.h"
#include "folder_picker.h"
#include "info_options.h"
#include "keyboard_wait.h"
#include "merge_file.h"
#include "merge_paths.h"
#include "path_rules.h"

namespace {

constexpr char kBannerRule[] = "=========================================================\n";

void printBanner() {
    std::printf("\n\n%s", kBannerRule);
    std::printf("  KEL Combine Detectinfo  %4.2f \n", kProgramVersion);
    std::printf("%s\n", kBannerRule);
}

int endAfterWriteFailure(const MergePaths& paths) {
    abandonDetectionLog();
    std::printf(" Cannot write KEL detection log file %s (%s) \n", paths.mergedPath.c_str(),
                detectionLogError().c_str());
    waitForInteger();
    return kExitFileError;
}

int endAfterFolderNotFlushed(const MergePaths& paths) {
    std::printf(" KEL detection log file %s was written, but its folder could not be flushed to "
                "disk (%s) \n",
                paths.mergedPath.c_str(), detectionLogError().c_str());
    waitForInteger();
    return kExitFileError;
}

int endAfterListingNotWritten() {
    std::printf("\n Enter CR to exit program \n");
    waitForCharacter();
    return kExitFileError;
}

int endAfterOpenFailure(const std::string& path, int error) {
    abandonDetectionLog();
    std::printf(" Cannot open file %s for reading \n", path.c_str());
    std::printf(" (%s) \n", std::strerror(error));
    std::printf("\n Enter CR to exit program \n");
    waitForCharacter();
    return kExitFileError;
}

// The files a listed name must not be: the merged file of an earlier run,
// which this run replaces, and the new one being written.
struct OwnFiles {
    FileIdentity earlierMerged;
    FileIdentity staging;
};

// Merges the file of one listed name, or says why it is left out.
// Returns kExitFileError after a failure that ends the run.
int mergeListedName(const MergePaths& paths, std::string name, const OwnFiles& ownFiles,
                    MergeState& state) {
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
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return endAfterOpenFailure(path, errno != 0 ? errno : EIO);
    }
    // A listed name may be a link to the merged file: reading it would feed
    // the run its own output, or the earlier run's.
    const FileIdentity opened = identityOfOpenFile(file);
    if (sameFile(opened, ownFiles.earlierMerged) || sameFile(opened, ownFiles.staging)) {
        std::printf(" File %s is this run's merged file under another name; not read \n",
                    path.c_str());
        std::fclose(file);
        ++state.filesLeftOut;
        return kExitMerged;
    }
    const bool written = mergeFile(path, file, state);
    std::fclose(file);
    return written ? kExitMerged : endAfterWriteFailure(paths);
}

// The FF folder from the one argument, or else from the folder source.
// False, after a message, when there is none.
bool obtainFfFolder(int argc, char** argv, std::string& folder) {
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

}  // namespace

int runMerge(int argc, char** argv) {
    int answered = 0;
    if (answerInfoOption(argc, argv, answered)) {
        return answered;
    }
    printBanner();

    std::string folder;
    if (!obtainFfFolder(argc, argv, folder)) {
        return kExitFileError;
    }
    const MergePaths paths = deriveMergePaths(folder);
    if (!hostAcceptsRunPaths(paths)) {
        return kExitFileError;
    }
    // Made without clearing the record, whose room for written lines (over
    // a megabyte) each read fills as far as the record needs, so that
    // memory is taken only where records reach.
    auto state = std::make_unique_for_overwrite<MergeState>();
    const ListingResult listed =
        writeFolderListing(paths.ffFolder, paths.listingPath, state->filesLeftOut);
    if (listed == ListingResult::Refused) {
        return kExitFileError;
    }
    if (listed == ListingResult::Unwritable) {
        return endAfterListingNotWritten();
    }

    OwnFiles ownFiles;
    ownFiles.earlierMerged = identityOfPath(paths.mergedPath);
    if (!openDetectionLog(paths.mergedPath, paths.ffFolder, paths.calFolder)) {
        std::printf(" Cannot open KEL detection log file %s for writing \n",
                    paths.mergedPath.c_str());
        std::printf(" (%s) \n", detectionLogError().c_str());
        waitForInteger();
        return kExitFileError;
    }
    ownFiles.staging = identityOfPath(detectionLogStagingPath(paths.mergedPath));

    std::ifstream listing;
    if (listed == ListingResult::Written) {
        listing.open(paths.listingPath, std::ios::binary);
    }
    if (!listing.is_open()) {
        std::printf(" KELdetectinfo directory listing file %s not found (or not generated)\n\n",
                    paths.listingPath.c_str());
        abandonDetectionLog();
        waitForCharacter();
        return kExitFileError;
    }
    std::string name;
    while (std::getline(listing, name)) {
        if (!name.empty() && name.back() == '\r') {
            name.pop_back();
        }
        if (!name.empty() && mergeListedName(paths, name, ownFiles, *state) != kExitMerged) {
            return kExitFileError;
        }
    }
    if (listing.bad()) {
        // A listing that could not be read to its end would pass for a
        // shorter one: the files it did not give were never looked at.
        std::printf(" KELdetectinfo directory listing file %s could not be read to its end\n\n",
                    paths.listingPath.c_str());
        abandonDetectionLog();
        waitForCharacter();
        return kExitFileError;
    }

    const FinishResult finished = finishDetectionLog(state->count);
    if (finished == FinishResult::Failed) {
        return endAfterWriteFailure(paths);
    }
    if (finished == FinishResult::FolderNotFlushed) {
        return endAfterFolderNotFlushed(paths);
    }
    std::printf("\n Done with processing \n");
    if (state->damagedRecords > 0 || state->filesLeftOut > 0) {
        std::printf(" Not merged: %ld damaged record(s); %ld listed file(s) refused or not read "
                    "to their end \n",
                    state->damagedRecords, state->filesLeftOut);
        return kExitIncomplete;
    }
    return kExitMerged;
}
