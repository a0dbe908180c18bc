// The merged detection log's operating-system calls on POSIX hosts. Every
// file is reached through the descriptor of the folder the run holds
// (openat, renameat, unlinkat), so that a folder renamed or swapped during
// the run redirects nothing. The staging file is made with O_EXCL and
// O_NOFOLLOW, flushed with fsync and renamed over the final name; the
// folder is then flushed too, so that the new name survives a power loss.
// Interruptions are signals, whose handler cleans up and raises the signal
// again at its default action.
#include "log_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/statfs.h>
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

int folderOf(const LogFolder& folder) {
    return static_cast<int>(folder.handle);
}

// True when only a file's owner (or the folder's, or root) may remove or
// replace the files of the folder, and the running user is none of them.
bool stickyFolderKeeps(int folder, const struct stat& file) {
    struct stat status {};
    const uid_t me = geteuid();
    return fstat(folder, &status) == 0 && (status.st_mode & S_ISVTX) != 0 && me != 0 &&
           status.st_uid != me && file.st_uid != me;
}

}  // namespace

// Looked at, never opened: a link, FIFO or device there is replaced by the
// rename and is not touched. Refused are only what the rename cannot
// replace or the user has marked as not to be written: a folder, a file
// that no one may write (root aside, as for writing in place), and another
// user's file in a sticky folder.
EarlierFile lookAtEarlierFile(const LogFolder& folder, const std::string& name) {
    EarlierFile earlier;
    struct stat status {};
    if (fstatat(folderOf(folder), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return earlier;  // nothing there, or the create says why
    }
    earlier.exists = true;
    earlier.regular = S_ISREG(status.st_mode);
    earlier.isFolder = S_ISDIR(status.st_mode);
    earlier.mode = static_cast<std::uint32_t>(status.st_mode & 0777);
    earlier.owner = status.st_uid;
    earlier.group = status.st_gid;
    earlier.otherNames = earlier.regular ? static_cast<long>(status.st_nlink) - 1 : 0;
    if (earlier.isFolder) {
        earlier.blocked = true;
        earlier.why = std::strerror(EISDIR);
    } else if (earlier.regular && (status.st_mode & 0222) == 0 && geteuid() != 0) {
        earlier.blocked = true;
        earlier.why = std::strerror(EACCES);
    } else if (stickyFolderKeeps(folderOf(folder), status)) {
        earlier.blocked = true;
        earlier.why = "another user's, in a folder where only a file's owner may replace it: "
                      "its owner, the folder's owner or root can remove it";
    }
    return earlier;
}

std::string computerName() {
    char name[HOST_NAME_MAX + 1] = {};
    return gethostname(name, sizeof name - 1) == 0 ? name : "";
}

long processNumber() {
    return static_cast<long>(getpid());
}

bool processGone(long number) {
    return kill(static_cast<pid_t>(number), 0) != 0 && errno == ESRCH;
}

std::size_t roomForName(const LogFolder& folder) {
    const long room = fpathconf(folderOf(folder), _PC_NAME_MAX);
    return room > 0 ? static_cast<std::size_t>(room) : NAME_MAX;
}

// Shares and FUSE file systems (sshfs among them) may be reached by other
// computers: none of those counts as local.
bool folderIsLocal(const LogFolder& folder) {
    struct statfs system {};
    if (fstatfs(folderOf(folder), &system) != 0) {
        return false;
    }
    switch (static_cast<unsigned long>(system.f_type)) {
    case 0x6969UL:      // NFS
    case 0x517BUL:      // SMB
    case 0xFF534D42UL:  // CIFS
    case 0xFE534D42UL:  // SMB2
    case 0x65735546UL:  // FUSE
    case 0x01021997UL:  // 9P
    case 0x00C36400UL:  // Ceph
    case 0x5346414FUL:  // AFS
        return false;
    default:
        return true;
    }
}

std::vector<std::string> namesInFolder(const LogFolder& folder, const std::string& prefix,
                                       const std::string& suffix) {
    std::vector<std::string> names;
    const int again = openat(folderOf(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = again < 0 ? nullptr : fdopendir(again);
    if (listing == nullptr) {
        if (again >= 0) {
            close(again);
        }
        return names;
    }
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.size() < prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
            continue;
        }
        struct stat status {};
        if (entry->d_type == DT_REG ||
            (entry->d_type == DT_UNKNOWN &&
             fstatat(folderOf(folder), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
             S_ISREG(status.st_mode))) {
            names.push_back(name);
        }
    }
    closedir(listing);
    return names;
}

// The new file is the running user's, in its group, while it is written:
// no one else can write into it or make it grow before it is complete.
// Its bits are narrowed to the earlier file's: a file that its owner kept
// private stays private.
std::FILE* createExclusiveFile(const LogFolder& folder, const std::string& name,
                               const EarlierFile& earlier, bool& taken, std::string& reason) {
    const int descriptor =
        openat(folderOf(folder), name.c_str(),
               O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
    taken = descriptor < 0 && errno == EEXIST;
    if (descriptor < 0) {
        fail(errno, reason);
        return nullptr;
    }
    struct stat created {};
    if (earlier.regular && fstat(descriptor, &created) == 0) {
        fchmod(descriptor, created.st_mode & static_cast<mode_t>(earlier.mode) & 0777);
    }
    // Open for reading too, so that what was written can be moved within it.
    std::FILE* file = fdopen(descriptor, "w+b");
    if (file == nullptr) {
        fail(errno, reason);
        close(descriptor);
        unlinkat(folderOf(folder), name.c_str(), 0);
    }
    return file;
}

std::intptr_t keepForHandOver(std::FILE* file) {
    return fcntl(fileno(file), F_DUPFD_CLOEXEC, 3);
}

// Through the file's own descriptor, never its name, which another may
// have taken for something else by now.
void handOver(std::intptr_t kept, const EarlierFile* earlier) {
    if (kept < 0) {
        return;
    }
    const int descriptor = static_cast<int>(kept);
    if (earlier != nullptr && earlier->regular) {
        const auto group = static_cast<gid_t>(earlier->group);
        if (fchown(descriptor, static_cast<uid_t>(earlier->owner), group) != 0 &&
            fchown(descriptor, static_cast<uid_t>(-1), group) != 0) {
            // the file system or the user's rights keep what the file was given
        }
    }
    close(descriptor);
}

bool flushToStorage(std::FILE* file, std::string& reason) {
    return fsync(fileno(file)) == 0 || fail(errno, reason);
}

bool replaceFile(const LogFolder& folder, const std::string& from, const std::string& to,
                 std::string& reason) {
    return renameat(folderOf(folder), from.c_str(), folderOf(folder), to.c_str()) == 0 ||
           fail(errno, reason);
}

// Some file systems cannot flush a folder and say so (EINVAL): the name is
// then as safe as they make it.
bool flushFolder(const LogFolder& folder, std::string& reason) {
    return fsync(folderOf(folder)) == 0 || errno == EINVAL || fail(errno, reason);
}

int removeFileNow(std::intptr_t folder, const char* /*folderPath*/, const char* name) {
    return unlinkat(static_cast<int>(folder), name, 0) == 0 || errno == ENOENT ? 0 : errno;
}

std::string systemReason(long error) {
    return std::strerror(static_cast<int>(error));
}

std::size_t longestPath(const std::string& folder) {
    const long limit = pathconf(folder.c_str(), _PC_PATH_MAX);
    return static_cast<std::size_t>(limit > 0 ? limit : PATH_MAX) - 1;
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
