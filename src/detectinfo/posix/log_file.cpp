// The merged detection log's operating-system calls on POSIX hosts: the
// staging file is made anew with O_EXCL, flushed with fsync and renamed
// over the final name; the folder is then flushed too, so that the new
// name survives a power loss. Interruptions are signals, whose handler
// cleans up and raises the signal again at its default action.
#include "log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
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

namespace {

// What an interruption calls before it ends the process.
void (*gCleanUp)() = nullptr;

// Cleans up, then ends the process by the same signal, now at its default
// action, so that the status reads as killed by it.
void onInterrupt(int signalNumber) {
    gCleanUp();
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

// A signal that was ignored when the process started (nohup ignores
// SIGHUP) stays ignored.
void cleanUpOn(int signalNumber) {
    struct sigaction current {};
    if (sigaction(signalNumber, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(signalNumber, &action, nullptr);
}

}  // namespace

void cleanUpOnInterruption(void (*cleanUp)()) {
    gCleanUp = cleanUp;
    for (int signalNumber : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) {
        cleanUpOn(signalNumber);
    }
}

bool seekFile(std::FILE* file, std::int64_t offset, int origin) {
    return fseeko(file, static_cast<off_t>(offset), origin) == 0;
}

std::int64_t tellFile(std::FILE* file) {
    return static_cast<std::int64_t>(ftello(file));
}

std::tm localTime(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    return local;
}
