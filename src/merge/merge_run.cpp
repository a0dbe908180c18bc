#include "merge_run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "detection_log.h"
#include "detection_record.h"
#include "file_identity.h"
#include "folder_listing.h"
#include "folder_picker.h"
#include "info_options.h"
#include "keyboard_wait.h"
#include "merge_paths.h"
#include "path_rules.h"

namespace {

constexpr char kBannerRule[] = "=========================================================\n";

// The run's working state: one input buffer and one record serve every
// file, and the tallies of what was written and what was left out. It is
// made without clearing the record, whose room for written lines (over a
// megabyte) each read fills as far as the record needs, so that memory is
// taken only where records reach.
struct MergeState {
    DetectionInput input;
    DetectionRecord record;
    std::int32_t count = 0;     // records written to the merged file
    long damagedRecords = 0;    // records refused as damaged
    long filesLeftOut = 0;      // listed files refused, or not read to their end
};

void printBanner() {
    std::printf("\n\n%s", kBannerRule);
    std::printf("  KEL Combine Detectinfo  %4.2f \n", kProgramVersion);
    std::printf("%s\n", kBannerRule);
}

// Takes the camera number from a listed name as "KELdetectinfo_%4d" reads
// it: the exact prefix, blanks allowed, then at most four characters of
// sign and digits. False when the name gives no number.
bool cameraNumberOf(const std::string& name, int& camera) {
    constexpr char kPrefix[] = "KELdetectinfo_";
    constexpr std::size_t kPrefixLength = sizeof kPrefix - 1;
    if (name.compare(0, kPrefixLength, kPrefix) != 0) {
        return false;
    }
    std::size_t at = kPrefixLength;
    while (at < name.size() && (name[at] == ' ' || (name[at] >= '\t' && name[at] <= '\r'))) {
        ++at;
    }
    std::size_t end = at;
    bool negative = false;
    if (end < name.size() && (name[end] == '+' || name[end] == '-')) {
        negative = name[end] == '-';
        ++end;
    }
    int value = 0;
    std::size_t digits = 0;
    while (end < name.size() && end - at < 4 && name[end] >= '0' && name[end] <= '9') {
        value = value * 10 + (name[end] - '0');
        ++end;
        ++digits;
    }
    if (digits == 0) {
        return false;
    }
    camera = negative ? -value : value;
    return true;
}

int endAfterWriteFailure(const MergePaths& paths) {
    std::printf(" Cannot write KEL detection log file %s (%s) \n", paths.mergedPath.c_str(),
                detectionLogError().c_str());
    abandonDetectionLog();
    waitForInteger();
    return kExitFileError;
}

int endAfterOpenFailure(const std::string& path, int error) {
    std::printf(" Cannot open file %s for reading \n", path.c_str());
    std::printf(" (%s) \n", std::strerror(error));
    std::printf("\n Enter CR to exit program \n");
    abandonDetectionLog();
    waitForCharacter();
    return kExitFileError;
}

// Copies every record of one per-camera file into the merged file. False
// when the merged file could not be written.
bool mergeFile(const std::string& path, std::FILE* file, MergeState& state) {
    startDetectionInput(state.input, file);
    ReadProblem problem;
    auto reportReadFailure = [&] {
        std::printf(" Cannot read file %s at line %ld (%s); the rest of it was not merged \n",
                    path.c_str(), problem.line, problem.what.c_str());
        ++state.filesLeftOut;
    };
    const HeaderStatus header = readDetectionHeader(state.input, problem);
    if (header == HeaderStatus::Cut) {
        std::printf(" File %s ends inside its header at line %ld; no records merged from it \n",
                    path.c_str(), problem.line);
        ++state.filesLeftOut;
        return true;
    }
    if (header == HeaderStatus::Damaged) {
        std::printf(" Damaged header in file %s at line %ld: %s; no records merged from it \n",
                    path.c_str(), problem.line, problem.what.c_str());
        ++state.filesLeftOut;
        return true;
    }
    if (header == HeaderStatus::Failed) {
        reportReadFailure();
        return true;
    }
    int records = 0;
    while (records < kMaxRecordsPerFile) {
        ReadStatus status = readDetectionRecord(state.input, state.record, problem);
        if (status == ReadStatus::End) {
            return true;
        }
        if (status == ReadStatus::Failed) {
            reportReadFailure();
            return true;
        }
        if (status == ReadStatus::Damaged) {
            std::printf(" Damaged record in file %s at line %ld: %s; record not merged \n",
                        path.c_str(), problem.line, problem.what.c_str());
            ++state.damagedRecords;
            continue;
        }
        if (!writeDetectionRecord(state.record)) {
            return false;
        }
        ++state.count;
        ++records;
    }
    // The cap is passed only when a further record begins; a separator
    // alone after the last record holds none.
    const ReadStatus rest = checkForFurtherRecord(state.input, problem);
    if (rest == ReadStatus::Record) {
        std::printf(" File %s holds more than %d records; the rest of it was not merged \n",
                    path.c_str(), kMaxRecordsPerFile);
        ++state.filesLeftOut;
    } else if (rest == ReadStatus::Failed) {
        reportReadFailure();
    }
    return true;
}

// Merges the file of one listed name, or says why it is left out.
// Returns kExitFileError after a failure that ends the run.
int mergeListedName(const MergePaths& paths, std::string name, const FileIdentity& mergedFile,
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
    // A listed name may be a link to the file this run writes: reading it
    // would feed the run its own output.
    if (sameFile(identityOfOpenFile(file), mergedFile)) {
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
    auto state = std::make_unique_for_overwrite<MergeState>();
    const ListingResult listed =
        writeFolderListing(paths.ffFolder, paths.listingPath, state->filesLeftOut);
    if (listed == ListingResult::Refused) {
        return kExitFileError;
    }

    if (!openDetectionLog(paths.mergedPath, paths.ffFolder, paths.calFolder)) {
        std::printf(" Cannot open KEL detection log file %s for writing \n",
                    paths.mergedPath.c_str());
        std::printf(" (%s) \n", detectionLogError().c_str());
        waitForInteger();
        return kExitFileError;
    }
    const FileIdentity mergedFile = identityOfPath(paths.mergedPath);

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
        if (!name.empty() && mergeListedName(paths, name, mergedFile, *state) != kExitMerged) {
            return kExitFileError;
        }
    }

    if (!finishDetectionLog(state->count)) {
        return endAfterWriteFailure(paths);
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
