#include "merge_run.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "detection_log.h"
#include "detection_record.h"
#include "folder_listing.h"
#include "folder_picker.h"
#include "keyboard_wait.h"
#include "merge_paths.h"

namespace {

constexpr char kBannerRule[] = "=========================================================\n";

// What a completed run left out, for the closing line and the exit status.
struct LeftOut {
    long damagedRecords = 0;
    long files = 0;  // listed files refused, or not read to their end
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

[[noreturn]] void endAfterWriteFailure(const MergePaths& paths) {
    std::printf(" Cannot write KEL detection log file %s (%s) \n", paths.mergedPath.c_str(),
                detectionLogError().c_str());
    waitForInteger();
    std::exit(kExitFileError);
}

[[noreturn]] void endAfterOpenFailure(const std::string& path) {
    std::printf(" Cannot open file %s for reading \n", path.c_str());
    std::printf("\n Enter CR to exit program \n");
    abandonDetectionLog();
    waitForCharacter();
    std::exit(kExitFileError);
}

// Copies every record of one per-camera file into the merged file.
void mergeFile(const MergePaths& paths, const std::string& path, std::FILE* file,
               DetectionInput& input, DetectionRecord& record, std::int32_t& count,
               LeftOut& leftOut) {
    startDetectionInput(input, file);
    readDetectionHeader(input);
    ReadProblem problem;
    int records = 0;
    while (records < kMaxRecordsPerFile) {
        ReadStatus status = readDetectionRecord(input, record, problem);
        if (status == ReadStatus::End) {
            return;
        }
        if (status == ReadStatus::Failed) {
            std::printf(" Cannot read file %s at line %ld (%s); the rest of it was not merged \n",
                        path.c_str(), problem.line, problem.what.c_str());
            ++leftOut.files;
            return;
        }
        if (status == ReadStatus::Damaged) {
            std::printf(" Damaged record in file %s at line %ld: %s; record not merged \n",
                        path.c_str(), problem.line, problem.what.c_str());
            ++leftOut.damagedRecords;
            continue;
        }
        if (!writeDetectionRecord(record)) {
            endAfterWriteFailure(paths);
        }
        ++count;
        ++records;
    }
    if (!detectionInputAtEnd(input)) {
        std::printf(" File %s holds more than %d records; the rest of it was not merged \n",
                    path.c_str(), kMaxRecordsPerFile);
        ++leftOut.files;
    }
}

}  // namespace

int runMerge(int argc, char** argv) {
    printBanner();

    std::string folder;
    if (argc == 2) {
        folder = argv[1];
    } else if (!browseForFfFolder(folder)) {
        return kExitFileError;
    }
    if (folder.empty()) {
        std::printf(" No FF folder given \n");
        return kExitFileError;
    }

    const MergePaths paths = deriveMergePaths(folder);
    bool listed = writeFolderListing(paths.ffFolder, paths.listingPath);

    if (!openDetectionLog(paths.mergedPath, paths.ffFolder, paths.calFolder)) {
        std::printf(" Cannot open KEL detection log file %s for writing \n",
                    paths.mergedPath.c_str());
        waitForInteger();
        return kExitFileError;
    }

    std::ifstream listing;
    if (listed) {
        listing.open(paths.listingPath, std::ios::binary);
    }
    if (!listing.is_open()) {
        std::printf(" KELdetectinfo directory listing file %s not found (or not generated)\n\n",
                    paths.listingPath.c_str());
        abandonDetectionLog();
        waitForCharacter();
        return kExitFileError;
    }

    // One record and one input buffer serve every file of the run.
    DetectionRecord record;
    DetectionInput input;
    std::int32_t count = 0;
    LeftOut leftOut;
    std::string name;
    while (std::getline(listing, name)) {
        if (!name.empty() && name.back() == '\r') {
            name.pop_back();
        }
        if (name.empty()) {
            continue;
        }
        const std::string path = paths.ffFolder + name;
        int camera = 0;
        if (!cameraNumberOf(name, camera)) {
            std::printf(" File %s has no camera number in its name; not merged \n", path.c_str());
            ++leftOut.files;
            continue;
        }
        if (camera == 0) {
            continue;  // a merged file, such as the one of an earlier run
        }
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (file == nullptr) {
            endAfterOpenFailure(path);
        }
        mergeFile(paths, path, file, input, record, count, leftOut);
        std::fclose(file);
    }

    if (!finishDetectionLog(count)) {
        endAfterWriteFailure(paths);
    }
    std::printf("\n Done with processing \n");
    if (leftOut.damagedRecords > 0 || leftOut.files > 0) {
        std::printf(" Not merged: %ld damaged record(s); %ld listed file(s) refused or not read "
                    "to their end \n",
                    leftOut.damagedRecords, leftOut.files);
        return kExitIncomplete;
    }
    return kExitMerged;
}
