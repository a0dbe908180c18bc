#include "staged_file.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#include "file_system.h"

namespace {

// The staging path as removeStagingFileNow finds it, from a signal handler
// or the thread of a console control handler: a fixed buffer, and a flag
// that is set only while the buffer holds the whole path of a staging file
// that may exist.
char gInterruptPath[4096];
std::atomic<bool> gInterruptPathSet{false};
static_assert(std::atomic<bool>::is_always_lock_free, "read in a signal handler");

void forgetStagingFile() {
    gInterruptPathSet = false;
}

}  // namespace

bool createStagedFile(StagedFile& staged, const std::string& finalPath,
                      const std::string& stagingPath, std::string& reason) {
    staged = StagedFile{};
    staged.finalPath = finalPath;
    staged.stagingPath = stagingPath;
    if (!mayReplaceFile(finalPath, reason)) {
        return false;
    }
    if (stagingPath.size() >= sizeof gInterruptPath) {
        reason = std::strerror(ENAMETOOLONG);
        return false;
    }
    // Set before the file can exist, so that no interruption leaves it.
    std::memcpy(gInterruptPath, stagingPath.c_str(), stagingPath.size() + 1);
    gInterruptPathSet = true;
    staged.file = createStagingFile(stagingPath, finalPath, reason);
    if (staged.file == nullptr) {
        forgetStagingFile();
        return false;
    }
    return true;
}

CommitResult commitStagedFile(StagedFile& staged, std::string& reason) {
    std::FILE* file = staged.file;
    staged.file = nullptr;
    errno = 0;
    bool done = std::fflush(file) == 0;
    if (!done) {
        reason = std::strerror(errno != 0 ? errno : EIO);
    }
    done = done && flushToStorage(file, reason);
    errno = 0;
    if (std::fclose(file) != 0 && done) {
        reason = std::strerror(errno != 0 ? errno : EIO);
        done = false;
    }
    done = done && replaceFile(staged.stagingPath, staged.finalPath, reason);
    if (!done) {
        removeFileNow(staged.stagingPath.c_str());
    }
    forgetStagingFile();
    if (!done) {
        return CommitResult::Failed;
    }
    return flushFolderOf(staged.finalPath, reason) ? CommitResult::Committed
                                                   : CommitResult::FolderNotFlushed;
}

void discardStagedFile(StagedFile& staged) {
    if (staged.file == nullptr) {
        return;
    }
    std::fclose(staged.file);
    staged.file = nullptr;
    removeFileNow(staged.stagingPath.c_str());
    forgetStagingFile();
}

void removeStagingFileNow() {
    if (gInterruptPathSet) {
        removeFileNow(gInterruptPath);
    }
}
