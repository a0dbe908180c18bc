// The FF folder and its files on POSIX hosts.
#include "folder_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <thread>
#include <vector>

#include "detection_file_names.h"
#include "detection_log.h"
#include "host.h"
#include "read_problem.h"

// The held folder: opened once, each link on the way to it looked at
// before it is followed. A link is followed only where it is the running
// user's own or root's, as the kernel's protected_symlinks has it in
// sticky folders, here applied everywhere: a link that another user
// planted could otherwise lead the run into a folder only its user may
// write.

namespace {

constexpr int kMostLinkHops = 8;

bool trustedOwner(uid_t owner) {
    return owner == geteuid() || owner == 0;
}

// The folder that holds `path` and the last name in it, trailing
// separators aside (they must not make a link be followed unlooked at).
void splitFolderPath(std::string path, std::string& parent, std::string& last) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    const std::size_t slash = path.rfind('/');
    parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    last = slash == std::string::npos ? path : path.substr(slash + 1);
    if (last.empty()) {
        last.push_back('.');  // the root folder itself
    }
}

enum class Hop { Opened, Followed, Refused, Failed };

// Opens the folder at `path` without following a link at its end. A link
// that may be followed leaves its target in `path`, to be opened next.
Hop openFolderHop(std::string& path, int& descriptor, int& error) {
    std::string parent;
    std::string last;
    splitFolderPath(path, parent, last);
    const int parentFolder = open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (parentFolder < 0) {
        error = errno;
        return Hop::Failed;
    }
    Hop hop = Hop::Failed;
    struct stat status {};
    char target[4096];
    if (fstatat(parentFolder, last.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        error = errno;
    } else if (S_ISLNK(status.st_mode) && !trustedOwner(status.st_uid)) {
        hop = Hop::Refused;
    } else if (S_ISLNK(status.st_mode)) {
        const ssize_t size = readlinkat(parentFolder, last.c_str(), target, sizeof target);
        if (size > 0 && static_cast<std::size_t>(size) < sizeof target) {
            const std::string followed(target, static_cast<std::size_t>(size));
            path = followed.front() == '/' ? followed : parent + "/" + followed;
            hop = Hop::Followed;
        } else {
            error = size < 0 ? errno : ENAMETOOLONG;
        }
    } else {
        descriptor = openat(parentFolder, last.c_str(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (descriptor < 0 && errno == EACCES) {
            // A folder whose names may be used but not read: held all the
            // same, so that the listing says what it cannot do.
            descriptor = openat(parentFolder, last.c_str(),
                                O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        // A link put in its place since it was looked at is looked at anew.
        hop = descriptor >= 0 ? Hop::Opened : errno == ELOOP ? Hop::Followed : Hop::Failed;
        error = errno;
    }
    close(parentFolder);
    return hop;
}

}  // namespace

bool holdFolder(const std::string& ffFolder, HeldFolder& folder) {
    folder = HeldFolder{};
    std::string path = ffFolder;
    int error = ELOOP;
    for (int hop = 0; hop <= kMostLinkHops; ++hop) {
        int descriptor = -1;
        const Hop result = openFolderHop(path, descriptor, error);
        if (result == Hop::Opened) {
            folder.handle = descriptor;
            folder.held = true;
            folder.path = ffFolder;
            return true;
        }
        if (result == Hop::Refused) {
            std::printf(" FF folder %s is another user's link; not followed \n",
                        shownText(ffFolder).c_str());
            return false;
        }
        if (result == Hop::Failed) {
            break;
        }
        error = ELOOP;
    }
    std::printf(" Cannot open FF folder %s (%s) \n", shownText(ffFolder).c_str(),
                std::strerror(error));
    return false;
}

void releaseFolder(HeldFolder& folder) {
    if (folder.held) {
        close(static_cast<int>(folder.handle));
    }
    folder = HeldFolder{};
}

// The listing, written by the program itself in the order a
// Windows folder lists its files: the regular files (links followed) whose
// names begin with "KELdetectinfo_" and end with ".txt", letter case aside,
// sorted by name with a-z taken as A-Z, ties by plain byte order. A name
// with a line end in it cannot stand on one line of the listing, a path
// too long to open cannot be merged, and an entry whose type cannot be
// told may be a per-camera file that is out of reach: each is left out
// with a message. The names are the system's own, and the host opens
// files by them as they are.

namespace {

// An entry named like a per-camera file that the listing leaves out, and
// the message that says why.
struct LeftOut {
    std::string name;
    std::string message;
};

// Why the entry `name` of the held folder `ffFolder`, named like a
// per-camera file, cannot be listed, in a message; empty when it can.
// `isFile` tells whether it is a regular file: what is plainly no file (a
// folder, a FIFO, a device) is left out without a word.
std::string whyNotListed(int folder, const std::string& ffFolder, std::string_view name,
                         bool& isFile) {
    isFile = false;
    const std::string path = ffFolder + std::string(name);
    if (name.find_first_of("\r\n") != std::string_view::npos) {
        return " File " + shownText(path) +
               " has a line end in its name, which the listing cannot hold; not merged \n";
    }
    const std::string lengthProblem = pathLengthProblem(path);
    if (!lengthProblem.empty()) {
        return " File " + shownText(path) + " cannot be opened: " + lengthProblem +
               "; not merged \n";
    }
    struct stat status {};
    if (fstatat(folder, std::string(name).c_str(), &status, 0) != 0) {
        // A link to a share that is not mounted, or into a folder this
        // user may not search: what it stands for is unknown, and it may
        // well be a per-camera file.
        return " File " + shownText(path) + " cannot be looked at (" + std::strerror(errno) +
               "); not merged \n";
    }
    isFile = S_ISREG(status.st_mode);
    return std::string();
}

// Reads the matching names of the folder; false, with errno set, when the
// folder could not be read to its end.
bool readMatchingNames(DIR* listed, int folder, const std::string& ffFolder,
                       std::vector<std::string>& names, std::vector<LeftOut>& leftOut) {
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(listed);
        if (entry == nullptr) {
            return errno == 0;
        }
        std::string_view name = entry->d_name;
        if (!isDetectionInfoName(name)) {
            continue;
        }
        bool isFile = false;
        std::string message = whyNotListed(folder, ffFolder, name, isFile);
        if (!message.empty()) {
            leftOut.push_back({std::string(name), std::move(message)});
        } else if (isFile) {
            names.emplace_back(name);
        }
    }
}

// Says what was left out, in the order the listing would have had it.
void reportLeftOut(std::vector<LeftOut>& leftOut, long& namesLeftOut) {
    std::sort(leftOut.begin(), leftOut.end(),
              [](const LeftOut& a, const LeftOut& b) { return listedBefore(a.name, b.name); });
    for (const LeftOut& entry : leftOut) {
        std::fputs(entry.message.c_str(), stdout);
        ++namesLeftOut;
    }
}

// The name the listing is written under before it takes its own: no other
// run, on this host or another sharing the folder, uses it, and it is no
// per-camera file's name.
std::string asideName(const std::string& listingName) {
    const std::size_t dot = listingName.rfind('.');
    return listingName.substr(0, dot) + "." + hostNameForFiles() + "." +
           std::to_string(getpid()) + ".tmp";
}

// Writes `names` to a file of the folder made anew under the aside name,
// `aside`, then renames it to `listingName`; 0, or the errno of the
// failure, after which the aside file is gone. `created` tells whether the
// aside file could be made at all: where the folder takes no new file, it
// is the obstacle, not the listing.
int writeListingFile(int folder, const std::string& listingName, const std::string& aside,
                     const std::vector<std::string>& names, bool& created) {
    unlinkat(folder, aside.c_str(), 0);  // a leftover of a killed run
    const int descriptor = openat(folder, aside.c_str(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                                  0666);
    created = descriptor >= 0;
    if (descriptor < 0) {
        return errno;
    }
    std::FILE* listing = fdopen(descriptor, "wb");
    int error = listing == nullptr ? errno : 0;
    for (std::size_t i = 0; error == 0 && i < names.size(); ++i) {
        const std::string& name = names[i];
        if (std::fwrite(name.data(), 1, name.size(), listing) != name.size() ||
            std::fwrite("\r\n", 1, 2, listing) != 2) {
            error = errno != 0 ? errno : EIO;
        }
    }
    errno = 0;
    if (listing == nullptr) {
        close(descriptor);
    } else {
        const bool flushed = std::fflush(listing) == 0;
        if ((std::fclose(listing) != 0 || !flushed) && error == 0) {
            error = errno != 0 ? errno : EIO;
        }
    }
    if (error == 0 && renameat(folder, aside.c_str(), folder, listingName.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        unlinkat(folder, aside.c_str(), 0);
    }
    return error;
}

}  // namespace

ListingResult writeFolderListing(const HeldFolder& held, const std::string& ffFolder,
                                 const std::string& listingName, std::vector<std::string>& names,
                                 long& namesLeftOut) {
    const int folder = static_cast<int>(held.handle);
    const int readable = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listed = readable < 0 ? nullptr : fdopendir(readable);
    if (listed == nullptr) {
        const int error = errno;
        if (readable >= 0) {
            close(readable);
        }
        std::printf(" Cannot list folder %s (%s) \n", shownText(ffFolder).c_str(),
                    std::strerror(error));
        return ListingResult::Refused;
    }
    std::vector<LeftOut> leftOut;
    const bool complete = readMatchingNames(listed, folder, ffFolder, names, leftOut);
    const int readError = errno;
    closedir(listed);
    if (!complete) {
        std::printf(" Cannot list folder %s to its end (%s) \n", shownText(ffFolder).c_str(),
                    std::strerror(readError));
        return ListingResult::Refused;
    }
    std::sort(names.begin(), names.end(), listedBefore);
    reportLeftOut(leftOut, namesLeftOut);

    const std::string aside = asideName(listingName);
    bool created = false;
    const int error = writeListingFile(folder, listingName, aside, names, created);
    if (error != 0 && !created) {
        std::printf(" Cannot create the KELdetectinfo directory listing in folder %s (%s) \n",
                    shownText(ffFolder).c_str(), std::strerror(error));
        return ListingResult::Unwritable;
    }
    if (error != 0) {
        std::printf(" Cannot write KELdetectinfo directory listing file %s (%s) \n",
                    shownText(ffFolder + listingName).c_str(), std::strerror(error));
        return ListingResult::Unwritable;
    }
    return ListingResult::Written;
}

bool listedNameForHost(const std::string& /*ffFolder*/, std::string& /*name*/) {
    return true;
}

// The folder lock: flock on the held folder's descriptor. Every name the
// folder is reached by locks the same folder, and the lock goes when the
// descriptor is closed, at the latest when the process ends. Anyone who
// may read the folder may take it: the wait is bounded, so that such a
// hold keeps no run, and no loop over folders, waiting for ever. NFS and
// SMB clients keep a lock on a folder on their own computer, but pass an
// OFD lock on a file to the server: there the run also locks the lock file.
namespace {

constexpr char kServerLockName[] = "MergeLock_KELdetectinfo.lock";

bool serverHoldsLocks(int folder) {
    struct statfs system {};
    if (fstatfs(folder, &system) != 0) {
        return false;
    }
    const auto type = static_cast<unsigned long>(system.f_type);
    return type == 0x6969UL || type == 0x517BUL || type == 0xFF534D42UL || type == 0xFE534D42UL;
}

// Tries `take` (which sets errno) until it succeeds, fails for another
// reason than `busy`, or the wait's end has passed; says once that the run
// waits. True when taken.
template <typename Take>
bool takeWithin(Take take, int busy, const std::string& ffFolder, bool& said,
                std::chrono::steady_clock::time_point end, bool& timedOut) {
    for (;;) {
        if (take() == 0) {
            return true;
        }
        const int error = errno;
        if (error != busy && error != EINTR && !(busy == EAGAIN && error == EACCES)) {
            return false;
        }
        if (std::chrono::steady_clock::now() >= end) {
            timedOut = true;
            return false;
        }
        if (!said) {
            std::printf(" Waiting for another run on folder %s to end \n",
                        shownText(ffFolder).c_str());
            std::fflush(stdout);
            said = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// The lock file, made open to the group and others that may write into
// the folder, since every run opens it for writing; never through a link.
// -1 where there is none to be had: the folder lock alone then holds, as
// on a file system without locks.
int openServerLock(int folder) {
    constexpr int kFlags = O_RDWR | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
    int file = openat(folder, kServerLockName, kFlags | O_CREAT | O_EXCL, 0666);
    if (file >= 0) {
        fchmod(file, 0666);
    } else if (errno == EEXIST) {
        file = openat(folder, kServerLockName, kFlags | O_NONBLOCK);
    }
    struct stat status {};
    if (file >= 0 && (fstat(file, &status) != 0 || !S_ISREG(status.st_mode))) {
        close(file);
        file = -1;
    }
    return file;
}

void sayLeft(const std::string& ffFolder) {
    std::printf(" Another run has held folder %s for %d s; this run leaves it (run again later) \n",
                shownText(ffFolder).c_str(), kLockWaitSeconds);
}

}  // namespace

bool lockFolder(const HeldFolder& folder, const std::string& ffFolder, FolderLock& lock) {
    lock = FolderLock{};
    if (!folder.held) {
        return true;
    }
    const int descriptor = static_cast<int>(folder.handle);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(kLockWaitSeconds);
    bool said = false;
    bool timedOut = false;
    const bool locked = takeWithin([&] { return flock(descriptor, LOCK_EX | LOCK_NB); },
                                   EWOULDBLOCK, ffFolder, said, end, timedOut);
    if (timedOut) {
        sayLeft(ffFolder);
        return false;
    }
    int onServer = serverHoldsLocks(descriptor) ? openServerLock(descriptor) : -1;
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    if (onServer >= 0 && !takeWithin([&] { return fcntl(onServer, F_OFD_SETLK, &range); }, EAGAIN,
                                     ffFolder, said, end, timedOut)) {
        close(onServer);
        onServer = -1;
        if (timedOut) {
            if (locked) {
                flock(descriptor, LOCK_UN);
            }
            sayLeft(ffFolder);
            return false;
        }
    }
    lock.handle = locked ? descriptor : -1;
    lock.onServer = onServer;
    lock.held = locked || onServer >= 0;
    return true;  // where there are no locks, the run goes on as it would have
}

void unlockFolder(FolderLock& lock) {
    if (lock.held) {
        if (lock.handle >= 0) {
            flock(static_cast<int>(lock.handle), LOCK_UN);
        }
        if (lock.onServer >= 0) {
            close(static_cast<int>(lock.onServer));
        }
    }
    lock = FolderLock{};
}

// File identity: device and inode.
namespace {

FileIdentity identityOf(const struct stat& status) {
    FileIdentity identity;
    identity.volume = static_cast<std::uint64_t>(status.st_dev);
    identity.index = static_cast<std::uint64_t>(status.st_ino);
    identity.known = true;
    return identity;
}

}  // namespace

// Listed files: opened through the held folder without blocking, so that
// a FIFO with no writer or a device cannot hold the open, checked on the
// open descriptor itself, and read without blocking too, so that a file
// the kernel calls regular but that waits for data (/proc/kmsg) ends the
// read instead of holding it.

namespace {

// The groups of the user `owner`: the primary group and the others the
// group file gives; none where the user is unknown.
std::vector<gid_t> groupsOf(uid_t owner) {
    std::vector<char> text(16384);
    passwd entry {};
    passwd* found = nullptr;
    if (getpwuid_r(owner, &entry, text.data(), text.size(), &found) != 0 || found == nullptr) {
        return {};
    }
    std::vector<gid_t> groups(64);
    int count = static_cast<int>(groups.size());
    if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count);
    }
    groups.resize(static_cast<std::size_t>(std::max(count, 0)));
    return groups;
}

// Whether the mode bits of `status` grant `owner`, of `groups`, the right
// whose user bit is `userBit` (the group and other bits follow it).
bool grants(const struct stat& status, uid_t owner, const std::vector<gid_t>& groups,
            mode_t userBit) {
    if (status.st_uid == owner) {
        return (status.st_mode & userBit) != 0;
    }
    if (std::find(groups.begin(), groups.end(), status.st_gid) != groups.end()) {
        return (status.st_mode & (userBit >> 3)) != 0;
    }
    return (status.st_mode & (userBit >> 6)) != 0;
}

// Whether the user `owner` may read the open file `descriptor`: its mode
// bits, and the search bits of every folder on its path. Access control
// lists are not looked at; they could only let that user read less.
bool ownerMayRead(uid_t owner, int descriptor, const struct stat& opened) {
    const std::vector<gid_t> groups = groupsOf(owner);
    if (!grants(opened, owner, groups, S_IRUSR)) {
        return false;
    }
    char path[4096];
    const std::string name = "/proc/self/fd/" + std::to_string(descriptor);
    const ssize_t size = readlink(name.c_str(), path, sizeof path);
    if (size <= 0 || static_cast<std::size_t>(size) >= sizeof path || path[0] != '/') {
        return false;  // where it is cannot be told: refused
    }
    const std::string target(path, static_cast<std::size_t>(size));
    for (std::size_t slash = 0; slash != std::string::npos; slash = target.find('/', slash + 1)) {
        const std::string folder = slash == 0 ? std::string("/") : target.substr(0, slash);
        struct stat status {};
        if (stat(folder.c_str(), &status) != 0 || !grants(status, owner, groups, S_IXUSR)) {
            return false;
        }
    }
    return true;
}

// What the entry `name`, looked at as `entry` before the open, turned out
// to be on `descriptor`.
ListedFileOpen checkOpened(int folder, const std::string& name, const struct stat& entry,
                           int descriptor, FileIdentity& identity) {
    struct stat again {};
    if (fstatat(folder, name.c_str(), &again, AT_SYMLINK_NOFOLLOW) != 0 ||
        again.st_dev != entry.st_dev || again.st_ino != entry.st_ino ||
        again.st_uid != entry.st_uid) {
        return ListedFileOpen::Changed;
    }
    struct stat opened {};
    if (fstat(descriptor, &opened) != 0) {
        return ListedFileOpen::NotAFile;
    }
    identity = identityOf(opened);
    if (S_ISLNK(entry.st_mode) && !trustedOwner(entry.st_uid) &&
        !ownerMayRead(entry.st_uid, descriptor, opened)) {
        return ListedFileOpen::Refused;
    }
    return S_ISREG(opened.st_mode) ? ListedFileOpen::Opened : ListedFileOpen::NotAFile;
}

}  // namespace

ListedFileOpen openListedFile(const HeldFolder& held, const std::string& name, std::FILE*& file,
                              FileIdentity& identity, int& error) {
    file = nullptr;
    const int folder = static_cast<int>(held.handle);
    // A name changed between the look and the open is looked at once more.
    for (int look = 0; look < 2; ++look) {
        struct stat entry {};
        if (fstatat(folder, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
            error = errno;
            return ListedFileOpen::Failed;
        }
        const bool isLink = S_ISLNK(entry.st_mode);
        const int descriptor = openat(folder, name.c_str(),
                                      O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                                          (isLink ? 0 : O_NOFOLLOW));
        if (descriptor < 0) {
            if (errno == ELOOP && !isLink) {
                continue;
            }
            error = errno;
            return ListedFileOpen::Failed;
        }
        const ListedFileOpen checked = checkOpened(folder, name, entry, descriptor, identity);
        if (checked == ListedFileOpen::Opened && (file = fdopen(descriptor, "rb")) != nullptr) {
            return checked;
        }
        error = errno != 0 ? errno : EIO;
        close(descriptor);
        if (checked != ListedFileOpen::Changed) {
            return checked == ListedFileOpen::Opened ? ListedFileOpen::Failed : checked;
        }
    }
    return ListedFileOpen::Changed;
}

FileIdentity identityOfPath(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? identityOf(status) : FileIdentity{};
}

FileIdentity identityInFolder(const HeldFolder& folder, const std::string& name) {
    struct stat status {};
    return folder.held && fstatat(static_cast<int>(folder.handle), name.c_str(), &status, 0) == 0
               ? identityOf(status)
               : FileIdentity{};
}

