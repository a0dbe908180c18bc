// The FF folder and its files on POSIX hosts.
#include "folder_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>
#include <vector>

#include "detection_file_names.h"
#include "host.h"

// The held folder: its path taken one name at a time, each folder opened
// through the one before it and never by a path handed to the system
// whole, so that each link on the way is looked at before it is followed.
// A link is followed only where it is the running user's own or root's, as
// the kernel's protected_symlinks has it in sticky folders, here applied
// everywhere and on every step: a link that another user planted anywhere
// on the path could otherwise lead the run into a folder only its user
// may write, or let that user read what the run writes there.

namespace {

constexpr int kMostLinkHops = 40;  // as many as the kernel follows in one path

bool trustedOwner(uid_t owner) {
    return owner == geteuid() || owner == 0;
}

// The user file's entry of `user`, its texts in `text`; null where there
// is none.
const passwd* userEntry(uid_t user, passwd& entry, std::vector<char>& text) {
    text.resize(16384);
    passwd* found = nullptr;
    return getpwuid_r(user, &entry, text.data(), text.size(), &found) == 0 ? found : nullptr;
}

// The user's name, or its number where it has none.
std::string userName(uid_t user) {
    passwd entry {};
    std::vector<char> text;
    const passwd* found = userEntry(user, entry, text);
    return found != nullptr ? found->pw_name : "user number " + std::to_string(user);
}

// Puts the names of `path` before those still to walk, "" and "." left out.
// A walk that would end on a folder already reached (a path that is "/"
// or ".", a link to one) ends with "." instead, so that its last step, too,
// opens the folder for reading.
void walkFirst(const std::string& path, std::vector<std::string>& toWalk) {
    std::vector<std::string> names;
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t slash = path.find('/', start);
        slash = slash == std::string::npos ? path.size() : slash;
        const std::string name = path.substr(start, slash - start);
        if (!name.empty() && name != ".") {
            names.push_back(name);
        }
        start = slash + 1;
    }
    toWalk.insert(toWalk.end(), names.rbegin(), names.rend());  // taken from the back
    if (toWalk.empty()) {
        toWalk.emplace_back(".");
    }
}

// The path a walk has reached, for messages: `walked` and one name more.
std::string stepInto(const std::string& walked, const std::string& name) {
    if (name == "..") {
        const std::size_t slash = walked.find_last_of('/', walked.size() > 1 ? walked.size() - 2 : 0);
        return slash == std::string::npos ? walked : walked.substr(0, slash + 1);
    }
    return walked + name + "/";
}

// Opens the folder of `descriptor`'s entry `name`, not following a link:
// the last folder of the path for reading (or, where its names may be used
// but not read, for its names only, so that the listing says what it
// cannot do), the others for their names only.
int openStep(int descriptor, const std::string& name, bool last) {
    if (!last) {
        return openat(descriptor, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    const int opened =
        openat(descriptor, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (opened >= 0 || errno != EACCES) {
        return opened;
    }
    return openat(descriptor, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// The folder to start from: the working folder for a path below it, the
// root for any other.
int startOfWalk(const std::string& path, std::string& rest, std::string& walked) {
    char working[PATH_MAX];
    if (getcwd(working, sizeof working) != nullptr && working[1] != '\0') {
        const std::string below = std::string(working) + "/";
        if (path.compare(0, below.size(), below) == 0) {
            rest = path.substr(below.size());
            walked = below;
            return open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
        }
    }
    rest = path;
    walked.assign(1, '/');
    return open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
}

}  // namespace

FolderHold holdFolder(const std::string& ffFolder, HeldFolder& folder) {
    folder = HeldFolder{};
    FolderHold hold;
    std::string rest;
    std::string walked;
    int descriptor = startOfWalk(ffFolder, rest, walked);
    std::vector<std::string> toWalk;
    walkFirst(rest, toWalk);
    int hops = 0;
    int error = descriptor < 0 ? errno : 0;
    while (descriptor >= 0 && !toWalk.empty()) {
        const std::string name = toWalk.back();
        toWalk.pop_back();
        struct stat status {};
        if (fstatat(descriptor, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            error = errno;
            break;
        }
        if (S_ISLNK(status.st_mode)) {
            if (!trustedOwner(status.st_uid)) {
                hold.outcome = FolderHold::Outcome::OthersLink;
                hold.link = walked + name;
                hold.owner = userName(status.st_uid);
                close(descriptor);
                return hold;
            }
            char target[PATH_MAX];
            const ssize_t size = readlinkat(descriptor, name.c_str(), target, sizeof target);
            if (++hops > kMostLinkHops || size <= 0 || static_cast<std::size_t>(size) >= sizeof target) {
                error = size < 0 ? errno : hops > kMostLinkHops ? ELOOP : ENAMETOOLONG;
                break;
            }
            const std::string followed(target, static_cast<std::size_t>(size));
            if (followed.front() == '/') {
                close(descriptor);
                descriptor = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
                walked.assign(1, '/');
            }
            walkFirst(followed, toWalk);
            continue;
        }
        const int next = openStep(descriptor, name, toWalk.empty());
        if (next < 0 && errno == ELOOP) {
            toWalk.push_back(name);  // a link put in its place since: looked at anew
            if (++hops <= kMostLinkHops) {
                continue;
            }
        }
        error = next < 0 ? errno : 0;
        close(descriptor);
        descriptor = next;
        walked = stepInto(walked, name);
    }
    if (descriptor >= 0 && toWalk.empty() && error == 0) {
        struct stat status {};
        fstat(descriptor, &status);
        folder.handle = descriptor;
        folder.held = true;
        folder.path = ffFolder;
        folder.identity = {static_cast<std::uint64_t>(status.st_dev),
                           static_cast<std::uint64_t>(status.st_ino), true};
        hold.outcome = FolderHold::Outcome::Held;
        return hold;
    }
    if (descriptor >= 0) {
        close(descriptor);
    }
    hold.reason = std::strerror(error != 0 ? error : ENOENT);
    return hold;
}

void releaseFolder(HeldFolder& folder) {
    if (folder.held) {
        close(static_cast<int>(folder.handle));
    }
    folder = HeldFolder{};
}

// The names of the listing, read by the program itself and put in the
// order a Windows folder lists its files: the regular files (links
// followed) whose names begin with "KELdetectinfo_" and end with ".txt",
// letter case aside, sorted by name with a-z taken as A-Z, ties by plain
// byte order. A name with a line end in it cannot stand on one line of the
// listing, a path too long to open cannot be merged, and an entry whose
// type cannot be told may be a per-camera file that is out of reach: each
// is left out and said. The names are the system's own, and the host
// opens files by them as they are.

namespace {

// Whether the entry `name` of the held folder, named like a per-camera
// file, can be listed; if not, why, in `unlisted`. `isFile` tells whether
// it is a regular file: what is plainly no file (a folder, a FIFO, a
// device) is left out without a word.
bool canBeListed(int folder, const std::string& ffFolder, const std::string& name, bool& isFile,
                 UnlistedName& unlisted) {
    isFile = false;
    unlisted = UnlistedName{name, NotListed::CannotLookAt, std::string()};
    if (name.find_first_of("\r\n") != std::string::npos) {
        unlisted.why = NotListed::LineEnd;
        return false;
    }
    unlisted.detail = pathLengthProblem(ffFolder + name);
    if (!unlisted.detail.empty()) {
        unlisted.why = NotListed::PathTooLong;
        return false;
    }
    struct stat status {};
    if (fstatat(folder, name.c_str(), &status, 0) != 0) {
        // A link to a share that is not mounted, or into a folder this
        // user may not search: what it stands for is unknown, and it may
        // well be a per-camera file.
        unlisted.detail = std::strerror(errno);
        return false;
    }
    isFile = S_ISREG(status.st_mode);
    return true;
}

// The entries of the folder open as `folder`, to be read and closed by the
// caller; null, with errno set, when they cannot be read.
DIR* entriesOf(int folder) {
    const int readable = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* entries = readable < 0 ? nullptr : fdopendir(readable);
    if (entries == nullptr && readable >= 0) {
        const int error = errno;
        close(readable);
        errno = error;
    }
    return entries;
}

// Reads the matching names of the folder; false, with errno set, when the
// folder could not be read to its end.
bool readMatchingNames(DIR* listed, int folder, const std::string& ffFolder, FolderNames& found) {
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(listed);
        if (entry == nullptr) {
            return errno == 0;
        }
        const std::string_view name = entry->d_name;
        if (!isDetectionInfoName(name)) {
            continue;
        }
        bool isFile = false;
        UnlistedName unlisted;
        if (!canBeListed(folder, ffFolder, std::string(name), isFile, unlisted)) {
            found.unlisted.push_back(std::move(unlisted));
        } else if (isFile) {
            found.names.emplace_back(name);
        }
    }
}

}  // namespace

FolderNames listPerCameraFiles(const HeldFolder& held) {
    FolderNames found;
    const int folder = static_cast<int>(held.handle);
    DIR* listed = entriesOf(folder);
    if (listed == nullptr) {
        found.reason = std::strerror(errno);
        return found;
    }
    found.listed = true;
    found.toItsEnd = readMatchingNames(listed, folder, held.path, found);
    found.reason = found.toItsEnd ? std::string() : std::strerror(errno);
    closedir(listed);
    std::sort(found.names.begin(), found.names.end(), listedBefore);
    std::sort(found.unlisted.begin(), found.unlisted.end(),
              [](const UnlistedName& a, const UnlistedName& b) { return listedBefore(a.name, b.name); });
    return found;
}

NameProblem listedNameForHost(const std::string& /*ffFolder*/, std::string& /*name*/,
                              std::string& /*detail*/) {
    return NameProblem::None;  // the names are the system's own, and open as they are
}

// The folder lock: flock on the held folder's descriptor. Every name the
// folder is reached by locks the same folder, and the lock goes when the
// descriptor is closed, at the latest when the process ends. Anyone who
// may read the folder may take it: the wait is bounded, so that such a
// hold keeps no run, and no loop over folders, waiting for ever. NFS and
// SMB clients keep a lock on a folder on their own computer, but pass an
// OFD lock on a file to the server: there the run also locks the lock file.
namespace {

bool serverHoldsLocks(int folder) {
    struct statfs system {};
    if (fstatfs(folder, &system) != 0) {
        return false;
    }
    const auto type = static_cast<unsigned long>(system.f_type);
    return type == 0x6969UL || type == 0x517BUL || type == 0xFF534D42UL || type == 0xFE534D42UL;
}

// What a lock wait shares: when it ends, whether the run was told it
// waits, and whether it ran out.
struct LockWait {
    const HeldFolder& folder;
    void (*waiting)(const HeldFolder&);
    std::chrono::steady_clock::time_point end;
    bool said = false;
    bool timedOut = false;
};

// Tries `take` (which sets errno) until it succeeds, fails for another
// reason than `busy`, or the wait's end has passed; has the run say once
// that it waits. True when taken.
template <typename Take>
bool takeWithin(Take take, int busy, LockWait& wait) {
    for (;;) {
        if (take() == 0) {
            return true;
        }
        const int error = errno;
        if (error != busy && error != EINTR && !(busy == EAGAIN && error == EACCES)) {
            return false;
        }
        if (std::chrono::steady_clock::now() >= wait.end) {
            wait.timedOut = true;
            return false;
        }
        if (!wait.said) {
            wait.waiting(wait.folder);
            wait.said = true;
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

}  // namespace

LockOutcome lockFolder(const HeldFolder& folder, FolderLock& lock,
                       void (*waiting)(const HeldFolder& folder)) {
    lock = FolderLock{};
    if (!folder.held) {
        return LockOutcome::Locked;
    }
    const int descriptor = static_cast<int>(folder.handle);
    LockWait wait{folder, waiting,
                  std::chrono::steady_clock::now() + std::chrono::seconds(kLockWaitSeconds)};
    const bool locked =
        takeWithin([&] { return flock(descriptor, LOCK_EX | LOCK_NB); }, EWOULDBLOCK, wait);
    if (wait.timedOut) {
        return LockOutcome::TimedOut;
    }
    int onServer = serverHoldsLocks(descriptor) ? openServerLock(descriptor) : -1;
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    if (onServer >= 0 &&
        !takeWithin([&] { return fcntl(onServer, F_OFD_SETLK, &range); }, EAGAIN, wait)) {
        close(onServer);
        onServer = -1;
        if (wait.timedOut) {
            if (locked) {
                flock(descriptor, LOCK_UN);
            }
            return LockOutcome::TimedOut;
        }
    }
    lock.handle = locked ? descriptor : -1;
    lock.onServer = onServer;
    lock.held = locked || onServer >= 0;
    return LockOutcome::Locked;  // where there are no locks, the run goes on as it would have
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
// read instead of holding it. Another user's link is opened by root as
// that user: the system then weighs the user's rights on the file and on
// every folder on the way to it, mode bits, access control lists and
// security modules alike. A run that is not root cannot open as another
// user, and weighs the mode bits instead; an access control list there it
// cannot weigh, and such a link is refused.

namespace {

constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// The primary group and the other groups of the user `owner`, as the
// user and group files give them; a user they do not know is given the
// group of no one and no others, so that only what every user may read
// is read through that user's link.
struct UserGroups {
    gid_t primary = 65534;
    std::vector<gid_t> all;
};

UserGroups groupsOf(uid_t owner) {
    UserGroups groups;
    passwd entry {};
    std::vector<char> text;
    const passwd* found = userEntry(owner, entry, text);
    if (found == nullptr) {
        return groups;
    }
    groups.primary = found->pw_gid;
    groups.all.resize(64);
    int count = static_cast<int>(groups.all.size());
    if (getgrouplist(found->pw_name, found->pw_gid, groups.all.data(), &count) < 0) {
        groups.all.resize(static_cast<std::size_t>(count));
        getgrouplist(found->pw_name, found->pw_gid, groups.all.data(), &count);
    }
    groups.all.resize(static_cast<std::size_t>(std::max(count, 0)));
    return groups;
}

// Sets the identity by which the system judges file access; true when it
// holds. The groups go first, while root may still set them.
bool actOnFilesAs(uid_t user, gid_t group, const std::vector<gid_t>& groups) {
    if (setgroups(groups.size(), groups.data()) != 0) {
        return false;
    }
    setfsgid(group);
    setfsuid(user);
    return static_cast<uid_t>(setfsuid(static_cast<uid_t>(-1))) == user &&
           static_cast<gid_t>(setfsgid(static_cast<gid_t>(-1))) == group;
}

// What openAsOwner gives where root cannot take the user's identity (in a
// user namespace without the right to set groups, say): the link is then
// weighed by hand, as a run that is not root weighs it.
constexpr int kCannotActAsOwner = -2;

// Opens the link `name` of `folder` as its owner `owner` would: root takes
// that user's identity for file access for the open alone, and then its
// own again at once. -1, with `error`, when it cannot be opened so.
int openAsOwner(int folder, const std::string& name, uid_t owner, int& error) {
    std::vector<gid_t> ownGroups(static_cast<std::size_t>(std::max(getgroups(0, nullptr), 0)));
    if (getgroups(static_cast<int>(ownGroups.size()), ownGroups.data()) < 0) {
        return kCannotActAsOwner;
    }
    const UserGroups theirs = groupsOf(owner);
    const bool became = actOnFilesAs(owner, theirs.primary, theirs.all);
    const int descriptor = became ? openat(folder, name.c_str(), kOpenFlags) : -1;
    error = errno;
    if (!actOnFilesAs(geteuid(), getegid(), ownGroups)) {
        // A run that cannot take its own identity back must not go on with
        // another's: it ends at once, loudly, and touches no file further
        // (what it leaves, the next run removes).
        std::abort();
    }
    return became ? descriptor : kCannotActAsOwner;
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

// Whether `path` (or, with a descriptor, that open file) carries an access
// control list beyond its mode bits; one that cannot be looked at counts.
bool carriesAcl(const std::string& path, int descriptor = -1) {
    const ssize_t size = descriptor >= 0
                             ? fgetxattr(descriptor, "system.posix_acl_access", nullptr, 0)
                             : getxattr(path.c_str(), "system.posix_acl_access", nullptr, 0);
    return size >= 0 || (errno != ENODATA && errno != ENOTSUP && errno != EOPNOTSUPP);
}

enum class Judged { MayRead, MayNot, Unjudged };

// Whether the user `owner` may read the open file `descriptor`, weighed by
// hand as a run that is not root must: its mode bits, and the search bits
// of every folder on its path. Where the file or a folder on its path
// carries an access control list, `aclAt` names it: such rights are the
// system's to weigh.
Judged ownerMayRead(uid_t owner, int descriptor, const struct stat& opened, std::string& aclAt) {
    const std::vector<gid_t> groups = groupsOf(owner).all;
    char path[4096];
    const std::string name = "/proc/self/fd/" + std::to_string(descriptor);
    const ssize_t size = readlink(name.c_str(), path, sizeof path);
    if (size <= 0 || static_cast<std::size_t>(size) >= sizeof path || path[0] != '/') {
        return Judged::MayNot;  // where it is cannot be told: refused
    }
    const std::string target(path, static_cast<std::size_t>(size));
    if (carriesAcl(target, descriptor)) {
        aclAt = target;
        return Judged::Unjudged;
    }
    if (!grants(opened, owner, groups, S_IRUSR)) {
        return Judged::MayNot;
    }
    for (std::size_t slash = 0; slash != std::string::npos; slash = target.find('/', slash + 1)) {
        const std::string folder = slash == 0 ? std::string("/") : target.substr(0, slash);
        struct stat status {};
        if (stat(folder.c_str(), &status) != 0 || !grants(status, owner, groups, S_IXUSR)) {
            return Judged::MayNot;
        }
        if (carriesAcl(folder)) {
            aclAt = folder;
            return Judged::Unjudged;
        }
    }
    return Judged::MayRead;
}

// What the entry `name`, looked at as `entry` before the open, turned out
// to be on `opened.file`'s descriptor.
ListedFileOpen checkOpened(int folder, const std::string& name, const struct stat& entry,
                           int descriptor, bool weighByHand, ListedFile& opened) {
    struct stat status {};
    if (fstat(descriptor, &status) != 0) {
        return ListedFileOpen::NotAFile;
    }
    // A file opened without following a link is the one looked at when it
    // has its identity, whatever became of its name since; where a link
    // was followed, the link itself is looked at again.
    struct stat again {};
    const bool sameLink = fstatat(folder, name.c_str(), &again, AT_SYMLINK_NOFOLLOW) == 0 &&
                          again.st_dev == entry.st_dev && again.st_ino == entry.st_ino &&
                          again.st_uid == entry.st_uid;
    const bool sameFile = !S_ISLNK(entry.st_mode) && status.st_dev == entry.st_dev &&
                          status.st_ino == entry.st_ino;
    if (S_ISLNK(entry.st_mode) ? !sameLink : !sameFile) {
        return ListedFileOpen::Changed;
    }
    opened.identity = identityOf(status);
    if (weighByHand) {
        const Judged judged = ownerMayRead(entry.st_uid, descriptor, status, opened.detail);
        if (judged != Judged::MayRead) {
            return judged == Judged::MayNot ? ListedFileOpen::Refused : ListedFileOpen::Unjudged;
        }
    }
    return S_ISREG(status.st_mode) ? ListedFileOpen::Opened : ListedFileOpen::NotAFile;
}

}  // namespace

ListedFile openListedFile(const HeldFolder& held, const std::string& name) {
    ListedFile opened;
    const int folder = static_cast<int>(held.handle);
    // A name changed between the look and the open is looked at once more.
    for (int look = 0; look < 2; ++look) {
        struct stat entry {};
        if (fstatat(folder, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
            opened.error = errno;
            opened.outcome = ListedFileOpen::Failed;
            return opened;
        }
        const bool isLink = S_ISLNK(entry.st_mode);
        const bool othersLink = isLink && !trustedOwner(entry.st_uid);
        bool weighByHand = othersLink && geteuid() != 0;
        int descriptor = kCannotActAsOwner;
        if (othersLink && geteuid() == 0) {
            descriptor = openAsOwner(folder, name, entry.st_uid, opened.error);
            if (descriptor == -1) {
                opened.outcome = opened.error == EACCES || opened.error == EPERM
                                     ? ListedFileOpen::Refused
                                     : ListedFileOpen::Failed;
                return opened;
            }
            weighByHand = descriptor == kCannotActAsOwner;
        }
        if (descriptor == kCannotActAsOwner) {
            descriptor = openat(folder, name.c_str(), kOpenFlags | (isLink ? 0 : O_NOFOLLOW));
            if (descriptor < 0 && errno == ELOOP && !isLink) {
                continue;
            }
            if (descriptor < 0) {
                opened.error = errno;
                opened.outcome = ListedFileOpen::Failed;
                return opened;
            }
        }
        const ListedFileOpen checked =
            checkOpened(folder, name, entry, descriptor, weighByHand, opened);
        if (checked == ListedFileOpen::Opened && (opened.file = fdopen(descriptor, "rb")) != nullptr) {
            opened.outcome = checked;
            return opened;
        }
        opened.error = errno != 0 ? errno : EIO;
        close(descriptor);
        if (checked != ListedFileOpen::Changed) {
            opened.outcome = checked == ListedFileOpen::Opened ? ListedFileOpen::Failed : checked;
            return opened;
        }
    }
    opened.outcome = ListedFileOpen::Changed;
    return opened;
}

FileIdentity identityInFolder(const HeldFolder& folder, const std::string& name) {
    struct stat status {};
    return folder.held && fstatat(static_cast<int>(folder.handle), name.c_str(), &status, 0) == 0
               ? identityOf(status)
               : FileIdentity{};
}

// The folders below: each entry that is a folder itself, not a link, is
// opened through the held folder, and its names read. Every entry read
// counts against the bound, so that a folder of millions of entries, or
// many such folders, cost no more than a glance.
namespace {

// Reads the names of the open folder `descriptor` (which it closes) until
// one `counts`, `budget` runs out, or the folder ends.
bool holdsName(int descriptor, bool (*counts)(std::string_view), long& budget) {
    DIR* entries = fdopendir(descriptor);
    if (entries == nullptr) {
        close(descriptor);
        return false;
    }
    bool found = false;
    while (!found && budget > 0) {
        const dirent* entry = readdir(entries);
        if (entry == nullptr) {
            break;
        }
        --budget;
        found = counts(entry->d_name);
    }
    closedir(entries);
    return found;
}

}  // namespace

long foldersBelowHolding(const HeldFolder& held, bool (*counts)(std::string_view name),
                         bool& complete) {
    long budget = kMostEntriesBelow;
    long holding = 0;
    const int folder = static_cast<int>(held.handle);
    DIR* entries = held.held ? entriesOf(folder) : nullptr;
    complete = true;
    if (entries == nullptr) {
        return 0;
    }
    while (budget > 0) {
        const dirent* entry = readdir(entries);
        if (entry == nullptr) {
            break;
        }
        --budget;
        const std::string_view name = entry->d_name;
        if (name == "." || name == ".." || (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN)) {
            continue;
        }
        const int below =
            openat(folder, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (below >= 0 && holdsName(below, counts, budget)) {
            ++holding;
        }
    }
    complete = budget > 0;
    closedir(entries);
    return holding;
}
