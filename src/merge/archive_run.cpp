#include "archive_run.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "console.h"
#include "detection_file_names.h"
#include "host.h"
#include "merge_run.h"
#include "read_problem.h"

namespace {

// How the folders ended, and a line for each one not merged whole, in
// the order merged.
struct Tally {
    long whole = 0;
    long leftOut = 0;
    long empty = 0;
    long failed = 0;
    std::vector<std::string> notWhole;
};

// The folders merged so far, by their identity on disk, so that a folder
// named again by another spelling or through a link is merged once.
using SeenFolders = std::set<std::pair<std::uint64_t, std::uint64_t>>;

std::string counted(long count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

void countFailed(Tally& tally, const std::string& shownFolder, const char* reason) {
    ++tally.failed;
    tally.notWhole.push_back(" Failed: " + shownFolder + " (" + reason + ") ");
}

void countLeftOut(Tally& tally, const std::string& shownFolder, const MergeState& state) {
    ++tally.leftOut;
    std::string parts;
    if (state.damagedRecords > 0) {
        parts = counted(state.damagedRecords, "damaged record", "damaged records");
    }
    if (state.filesLeftOut > 0) {
        parts += (parts.empty() ? "" : ", ") +
                 counted(state.filesLeftOut, "file left out", "files left out");
    }
    tally.notWhole.push_back(" Left out: " + shownFolder + " (" + parts + ") ");
}

void countEmpty(Tally& tally, const std::string& shownFolder, long foldersBelow) {
    ++tally.empty;
    std::string line = " No per-camera files: " + shownFolder + " ";
    if (foldersBelow > 0) {
        line.append("(").append(counted(foldersBelow, "folder", "folders"));
        line.append(foldersBelow == 1 ? " below it has some) " : " below it have some) ");
    }
    tally.notWhole.push_back(line);
}

// Counts how one folder's run ended.
void countRun(Tally& tally, const Run& run, int status) {
    const std::string shown = shownText(run.paths.ffFolder);
    if (status == kExitFileError) {
        countFailed(tally, shown, run.failure != nullptr ? run.failure : "failed");
    } else if (status == kExitIncomplete) {
        countLeftOut(tally, shown, *run.state);
    } else if (run.state->filesRead == 0 && run.state->filesLeftOut == 0) {
        countEmpty(tally, shown, run.foldersBelow);
    } else {
        ++tally.whole;
    }
}

// Merges one folder, unless it was merged before in this run.
void mergeOneFolder(const std::string& typed, Tally& tally, SeenFolders& seen) {
    if (typed.empty()) {
        std::printf(" No FF folder given \n");
        countFailed(tally, "\"\"", "no FF folder given");
        return;
    }
    const std::string whole = ensureTrailingSeparator(wholeFolderPath(nativeFolderPath(typed)));
    const FileIdentity identity = identityOfPath(whole);
    if (identity.known && !seen.insert({identity.volume, identity.index}).second) {
        std::printf(" FF folder %s is %s again; merged once \n", shownText(typed).c_str(),
                    shownText(whole).c_str());
        return;
    }
    // Each folder's record, buffers, listing and lock go with its Run
    // before the next folder begins, so memory stays flat.
    Run run;
    run.oneOfSeveral = true;
    const int status = mergeFolder(run, typed);
    countRun(tally, run, status);
}

// Merges the folders one argument stands for.
void mergeArgument(const std::string& argument, Tally& tally, SeenFolders& seen) {
    if (!holdsWildcard(argument)) {
        mergeOneFolder(argument, tally, seen);
        return;
    }
    const std::vector<std::string> folders = foldersMatching(nativeFolderPath(argument));
    if (folders.empty()) {
        const std::string shown = shownText(nativeFolderPath(argument));
        std::printf(" No folder matches %s \n", shown.c_str());
        countFailed(tally, shown, "no folder matches");
    }
    for (const std::string& folder : folders) {
        mergeOneFolder(folder, tally, seen);
    }
}

int printTally(const Tally& tally) {
    const long folders = tally.whole + tally.leftOut + tally.empty + tally.failed;
    std::printf("\n Tally of %s: %ld merged whole, %ld with something left out, %ld with no "
                "per-camera files, %ld failed \n",
                counted(folders, "folder", "folders").c_str(), tally.whole, tally.leftOut,
                tally.empty, tally.failed);
    for (const std::string& line : tally.notWhole) {
        std::printf("%s\n", line.c_str());
    }
    if (tally.failed > 0) {
        return kExitFileError;
    }
    return tally.leftOut > 0 ? kExitIncomplete : kExitMerged;
}

}  // namespace

bool isSeveralFolderRun(int argc, char** argv) {
    return argc > 2 || (argc == 2 && holdsWildcard(argv[1]));
}

int mergeSeveralFolders(int argc, char** argv) {
    // A mistyped option must not turn into a half-done archive run.
    for (int i = 1; i < argc; ++i) {
        if (refusedAsOption(argv[i])) {
            return kExitFileError;
        }
    }
    printBanner();
    Tally tally;
    SeenFolders seen;
    for (int i = 1; i < argc; ++i) {
        mergeArgument(argv[i], tally, seen);
        std::fflush(stdout);
    }
    const int status = printTally(tally);
    if (consoleOpenedByExplorer()) {
        std::printf(" Press Enter to close this window \n");
        waitForCharacter();
    }
    return status;
}

namespace {

constexpr auto kSkipUnreadable = std::filesystem::directory_options::skip_permission_denied;

bool holdsPerCameraFile(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, kSkipUnreadable, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        int camera = 0;
        if (isDetectionInfoName(name) && cameraNumberOf(name, camera) && camera != 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

long foldersWithPerCameraFiles(const std::string& ffFolder) {
    long count = 0;
    std::error_code error;
    std::filesystem::directory_iterator entries(ffFolder, kSkipUnreadable, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        std::error_code kindError;
        if (entries->is_directory(kindError) && holdsPerCameraFile(entries->path())) {
            ++count;
        }
    }
    return count;
}
