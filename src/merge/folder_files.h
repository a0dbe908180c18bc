// The FF folder and its files as this host reaches them: the folder held
// for the run, the names of its per-camera files, the lock that lets one
// run at a time work on it, the open of a listed file, which file on disk a
// name stands for, and the folders below it. Each call returns what
// happened, with the system's reason; the run words the messages.
// posix/folder_files.cpp and windows/folder_files.cpp implement it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// Which file on disk a path or an open file is, whatever name it was
// reached by: a symbolic link and a hard link name the same file.
struct FileIdentity {
    std::uint64_t volume = 0;  // the device, or the volume's serial number
    std::uint64_t index = 0;   // the inode, or the volume's file index
    bool known = false;
};

// True only when both are known and name the same file.
inline bool sameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.known && b.known && a.volume == b.volume && a.index == b.index;
}

// The FF folder, held by a descriptor or handle for the whole run: every
// listing, open, create, rename and removal of the run's files goes
// through it, so that a folder renamed, swapped or replaced by a link
// while the run works redirects nothing.
struct HeldFolder {
    std::intptr_t handle = -1;  // the descriptor or handle of the folder
    bool held = false;
    std::string path;       // the folder as the run names it, ending in a separator
    FileIdentity identity;  // the folder held
};

// How holding the folder ended.
struct FolderHold {
    enum class Outcome {
        Held,
        OthersLink,  // a link on the path is another user's: not followed
        Failed,      // the folder could not be opened
    };
    Outcome outcome = Outcome::Failed;
    std::string link;    // OthersLink: the link, as the path reached it
    std::string owner;   // OthersLink: its owner's name, or number
    std::string reason;  // Failed: the system's words
};

// Opens `ffFolder` (a whole path, ending in a separator) and holds it. The
// path is taken one folder at a time, each opened through the one before,
// so that every link on it, not only its last, is looked at before it is
// followed: a link is followed only where it is the running user's own or
// an administrator's. A path below the working folder is taken from there.
FolderHold holdFolder(const std::string& ffFolder, HeldFolder& folder);

// Lets the folder go; the lock on it goes with it.
void releaseFolder(HeldFolder& folder);

// The names of the per-camera files of the held folder, in the order of a
// Windows folder listing: on Windows the command interpreter's dir, on
// other hosts the folder's own entries, those that cannot be listed named
// with the reason.

// Why an entry named like a per-camera file is left out of the listing.
enum class NotListed {
    LineEnd,       // its name holds a line end, which a listing line cannot
    PathTooLong,   // the host opens no path so long; `detail` says so
    CannotLookAt,  // what it stands for cannot be told; `detail` is the reason
};

struct UnlistedName {
    std::string name;
    NotListed why = NotListed::CannotLookAt;
    std::string detail;
};

struct FolderNames {
    bool listed = false;    // false: the folder could not be listed; `reason` says why
    bool toItsEnd = false;  // false, with `listed`: a failure part way, `reason` says why
    std::string reason;
    std::vector<std::string> names;      // the listing's names, in its order
    std::vector<UnlistedName> unlisted;  // in the order the listing would have them
};

FolderNames listPerCameraFiles(const HeldFolder& folder);

// Brings a listed name to the form the host opens files by. Where the host
// cannot open the file by that name, why (the name then as near as it
// comes); the file is then not merged.
enum class NameProblem {
    None,
    Characters,   // characters the host cannot use in a name (on Windows, ones the
                  // ANSI code page lacks)
    PathTooLong,  // the host opens no path so long; `detail` says so
};
NameProblem listedNameForHost(const std::string& ffFolder, std::string& name, std::string& detail);

// One run at a time per FF folder. A run holds the lock on its folder from
// before the listing is written until the merged file has its name, so
// that the listing and the merged file are always those of one run. A
// second run waits for the first to end, saying so once, for at most
// kLockWaitSeconds. The lock is the platform's own and goes with the
// process, so a run that is killed does not keep others waiting. On a
// share whose server holds locks for its clients (NFS, SMB), the lock is
// also taken on a lock file in the folder, MergeLock_KELdetectinfo.lock,
// which the server holds, so that runs on other computers wait too; that
// file stays.

inline constexpr int kLockWaitSeconds = 30;

struct FolderLock {
    std::intptr_t handle = -1;    // the descriptor or handle the lock is held by
    std::intptr_t onServer = -1;  // the lock file's, where the share's server holds it
    bool held = false;
};

// The lock file of a share whose server holds locks for its clients.
inline constexpr char kServerLockName[] = "MergeLock_KELdetectinfo.lock";

enum class LockOutcome {
    Locked,    // the folder is this run's, or cannot be locked at all (a file
               // system without locks), and the run goes on
    TimedOut,  // another run still held it after kLockWaitSeconds: the run
               // leaves the folder
};

// Takes the lock on the held folder, waiting while another run holds it;
// `waiting` is called once, as the wait begins, so that the run can say so.
LockOutcome lockFolder(const HeldFolder& folder, FolderLock& lock,
                       void (*waiting)(const HeldFolder& folder));

// Lets the next run have the folder.
void unlockFolder(FolderLock& lock);

// Opens the per-camera file of a listed name of the held folder for
// reading. Between the listing and the open, the name may have come to
// stand for something else (a FIFO, a folder, a device, a link): such an
// entry is told apart without the open waiting on it, and no read of the
// file waits either. A link is followed where it is the running user's
// own or an administrator's; another user's link leads only where its
// owner may read: root opens it as that user, so that the system itself
// judges by every right there is; another run weighs the mode bits, and
// refuses where an access control list would have to be weighed too.

enum class ListedFileOpen {
    Opened,    // `file` is open on a regular file, which `identity` names
    NotAFile,  // the name now stands for something that is not a regular file
    Refused,   // a link of another user to a file that user may not read
    Unjudged,  // a link of another user whose target, or a folder on its way
               // (`detail`), carries an access control list this run cannot weigh
    Changed,   // the name was replaced while it was opened
    Failed,    // `error` holds the errno of the failed open
};

struct ListedFile {
    ListedFileOpen outcome = ListedFileOpen::Failed;
    std::FILE* file = nullptr;
    FileIdentity identity;
    int error = 0;
    std::string detail;
};

ListedFile openListedFile(const HeldFolder& folder, const std::string& name);

// Which file an entry of the held folder names, links followed.
FileIdentity identityInFolder(const HeldFolder& folder, const std::string& name);

// How many folders directly below the held folder hold a name that
// `counts`. No link is followed, and at most kMostEntriesBelow entries are
// read in all; `complete` tells whether every entry was. A folder that
// cannot be read counts as holding none.
inline constexpr long kMostEntriesBelow = 100000;
long foldersBelowHolding(const HeldFolder& folder, bool (*counts)(std::string_view name),
                         bool& complete);
