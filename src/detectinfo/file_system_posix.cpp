// The staged file's file-system calls on POSIX hosts: the staging file is
// made anew with O_EXCL, flushed with fsync and renamed over the final
// name; the folder is then flushed too, so that the new name survives a
// power loss.
#include "file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

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

}  // namespace

// Opens the file for writing, as writing it in place would, but without
// truncating it and without waiting on a FIFO.
bool mayReplaceFile(const std::string& path, std::string& reason) {
    const int probe = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (probe < 0) {
        return errno == ENOENT || fail(errno, reason);
    }
    close(probe);
    return true;
}

std::FILE* createStagingFile(const std::string& stagingPath, const std::string& finalPath,
                             std::string& reason) {
    // A leftover of a process that was killed goes first, whatever it is,
    // so that the file is this process's own.
    if (unlink(stagingPath.c_str()) != 0 && errno != ENOENT) {
        fail(errno, reason);
        return nullptr;
    }
    const int descriptor =
        open(stagingPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        fail(errno, reason);
        return nullptr;
    }
    // The new file keeps the permissions the earlier one was given. Where
    // the file system has none to set, it gets what it gives every file.
    struct stat earlier {};
    if (stat(finalPath.c_str(), &earlier) == 0) {
        fchmod(descriptor, earlier.st_mode & 0777);
    }
    // Open for reading too, so that what was written can be moved within it.
    std::FILE* file = fdopen(descriptor, "w+b");
    if (file == nullptr) {
        fail(errno, reason);
        close(descriptor);
        unlink(stagingPath.c_str());
    }
    return file;
}

bool flushToStorage(std::FILE* file, std::string& reason) {
    return fsync(fileno(file)) == 0 || fail(errno, reason);
}

bool replaceFile(const std::string& from, const std::string& to, std::string& reason) {
    return std::rename(from.c_str(), to.c_str()) == 0 || fail(errno, reason);
}

// Some file systems cannot flush a folder and say so (EINVAL): the name is
// then as safe as they make it.
bool flushFolderOf(const std::string& path, std::string& reason) {
    const int folder = open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return fail(errno, reason);
    }
    const bool flushed = fsync(folder) == 0 || errno == EINVAL || fail(errno, reason);
    close(folder);
    return flushed;
}

void removeFileNow(const char* path) {
    unlink(path);
}
