// Staged files on POSIX hosts: the staging file is made anew beside the
// final one, flushed with fsync, renamed over the final name, and the
// folder is flushed too, so that the new name survives a power loss.
#include "staged_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

// The staging path as removeStagingFileNow finds it: a fixed buffer, and a
// flag that is set only while the buffer holds the whole path of a staging
// file that may exist.
char gInterruptPath[4096];
volatile std::sig_atomic_t gInterruptPathSet = 0;

bool fail(int error, std::string& reason) {
    reason = std::strerror(error != 0 ? error : EIO);
    return false;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Opens an existing file at `path` for writing, as writing it in place
// would, but without truncating it and without waiting on a FIFO, to learn
// whether this process may write it; `mode` gets its permission bits. True
// also when nothing is there.
bool mayReplace(const std::string& path, bool& exists, mode_t& mode, std::string& reason) {
    exists = false;
    const int probe = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (probe < 0) {
        return errno == ENOENT || fail(errno, reason);
    }
    struct stat status {};
    if (fstat(probe, &status) == 0) {
        exists = true;
        mode = status.st_mode & 0777;
    }
    close(probe);
    return true;
}

// The staging file, made anew: a leftover of a process that was killed
// goes first, whatever it is, so the file is this process's own.
int createStagingFile(const std::string& stagingPath, std::string& reason) {
    if (unlink(stagingPath.c_str()) != 0 && errno != ENOENT) {
        fail(errno, reason);
        return -1;
    }
    const int descriptor =
        open(stagingPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        fail(errno, reason);
    }
    return descriptor;
}

// Flushes the folder that holds `path`, so that a rename in it is on
// stable storage. Some file systems cannot flush a folder and say so
// (EINVAL): the name is then as safe as they make it.
bool flushFolderOf(const std::string& path, std::string& reason) {
    const int folder = open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return fail(errno, reason);
    }
    const bool flushed = fsync(folder) == 0 || errno == EINVAL || fail(errno, reason);
    close(folder);
    return flushed;
}

}  // namespace

bool createStagedFile(StagedFile& staged, const std::string& finalPath,
                      const std::string& stagingPath, std::string& reason) {
    staged = StagedFile{};
    staged.finalPath = finalPath;
    staged.stagingPath = stagingPath;
    bool exists = false;
    mode_t mode = 0;
    if (!mayReplace(finalPath, exists, mode, reason)) {
        return false;
    }
    if (stagingPath.size() >= sizeof gInterruptPath) {
        return fail(ENAMETOOLONG, reason);
    }
    // Set before the file can exist, so that no interruption leaves it.
    std::memcpy(gInterruptPath, stagingPath.c_str(), stagingPath.size() + 1);
    gInterruptPathSet = 1;
    const int descriptor = createStagingFile(stagingPath, reason);
    if (descriptor < 0) {
        gInterruptPathSet = 0;
        return false;
    }
    // The new file keeps the permissions the earlier one was given. Where
    // the file system has none to set, it gets what it gives every file.
    if (exists) {
        fchmod(descriptor, mode);
    }
    // Open for reading too, so that what was written can be moved within it.
    staged.file = fdopen(descriptor, "w+b");
    if (staged.file == nullptr) {
        fail(errno, reason);
        close(descriptor);
        unlink(stagingPath.c_str());
        gInterruptPathSet = 0;
        return false;
    }
    return true;
}

CommitResult commitStagedFile(StagedFile& staged, std::string& reason) {
    std::FILE* file = staged.file;
    staged.file = nullptr;
    errno = 0;
    bool done = std::fflush(file) == 0 || fail(errno, reason);
    done = done && (fsync(fileno(file)) == 0 || fail(errno, reason));
    errno = 0;
    if (std::fclose(file) != 0 && done) {
        done = fail(errno, reason);
    }
    done = done && (std::rename(staged.stagingPath.c_str(), staged.finalPath.c_str()) == 0 ||
                    fail(errno, reason));
    if (!done) {
        unlink(staged.stagingPath.c_str());
    }
    gInterruptPathSet = 0;
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
    unlink(staged.stagingPath.c_str());
    gInterruptPathSet = 0;
}

void removeStagingFileNow() {
    if (gInterruptPathSet != 0) {
        unlink(gInterruptPath);
    }
}
