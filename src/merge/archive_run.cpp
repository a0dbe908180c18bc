#include "archive_run.h"

#include <cstdio>
#include <string>
#include <vector>

#include "console.h"
#include "host.h"
#include "merge_run.h"
#include "read_problem.h"
#include "run_steps.h"

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

// The folders merged so far, by the identity of the folder each run held,
// so that a folder named again by another spelling or through a link is
// merged once; a folder that failed is no merged one.
using MergedFolders = std::vector<FileIdentity>;

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

void countEmpty(Tally& tally, const std::string& shownFolder, const Run& run) {
    ++tally.empty;
    std::string line = " No per-camera files: " + shownFolder + " ";
    if (run.foldersBelow > 0) {
        const bool one = run.foldersBelow == 1 && run.foldersBelowAll;
        line.append("(").append(std::to_string(run.foldersBelow));
        line.append(run.foldersBelowAll ? "" : " or more").append(one ? " folder" : " folders");
        line.append(one ? " below it has some) " : " below it have some) ");
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
        countEmpty(tally, shown, run);
    } else {
        ++tally.whole;
    }
}

// Merges one folder, unless it was merged before in this run.
void mergeOneFolder(const std::string& typed, Tally& tally, MergedFolders& merged) {
    if (typed.empty()) {
        std::printf(" No FF folder given \n");
        countFailed(tally, "\"\"", "no FF folder given");
        return;
    }
    // Each folder's record, buffers, listing and lock go with its Run
    // before the next folder begins, so memory stays flat.
    Run run;
    run.oneOfSeveral = true;
    run.mergedFolders = &merged;
    const int status = mergeFolder(run, typed);
    if (run.namedAgain) {
        return;
    }
    if (status != kExitFileError && run.heldIdentity.known) {
        merged.push_back(run.heldIdentity);
    }
    countRun(tally, run, status);
}

// Merges the folders one argument stands for.
void mergeArgument(const std::string& argument, Tally& tally, MergedFolders& merged) {
    if (!holdsWildcard(argument)) {
        mergeOneFolder(argument, tally, merged);
        return;
    }
    const std::vector<std::string> folders = foldersMatching(nativeFolderPath(argument));
    if (folders.empty()) {
        const std::string shown = shownText(nativeFolderPath(argument));
        std::printf(" No folder matches %s \n", shown.c_str());
        countFailed(tally, shown, "no folder matches");
    }
    for (const std::string& folder : folders) {
        mergeOneFolder(folder, tally, merged);
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

bool isSeveralFolderRun(int folders, char** arguments) {
    return folders > 1 || (folders == 1 && holdsWildcard(arguments[0]));
}

int mergeSeveralFolders(int folders, char** arguments) {
    printBanner();
    Tally tally;
    MergedFolders merged;
    for (int i = 0; i < folders; ++i) {
        mergeArgument(arguments[i], tally, merged);
        std::fflush(stdout);
    }
    const int status = printTally(tally);
    if (consoleOpenedByExplorer()) {
        std::printf(" Press Enter to close this window \n");
        waitForCharacter();
    }
    return status;
}
