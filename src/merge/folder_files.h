// The FF folder and its files as this host reaches them: the listing of
// its per-camera files, the lock that lets one run at a time work on it,
// the open of a listed file, and which file on disk a name stands for.
// posix/folder_files.cpp and windows/folder_files.cpp implement it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The FF folder, held by a descriptor or handle for the whole run: every
// listing, open, create, rename and removal of the run's files goes
// through it, so that a folder renamed, swapped or replaced by a link
// while the run works redirects nothing.
struct HeldFolder {
    std::intptr_t handle = -1;  // the descriptor or handle of the folder
    bool held = false;
    std::string path;  // the folder as the run names it, ending in a separator
};

// Opens `ffFolder` (ending in a separator) and holds it. A folder that is
// itself a link is followed only where the link is the running user's own
// or an administrator's, every link on the way checked; otherwise, or when
// the folder cannot be opened, false after a message that names it.
bool holdFolder(const std::string& ffFolder, HeldFolder& folder);

// Lets the folder go; the lock on it goes with it.
void releaseFolder(HeldFolder& folder);

// Which file on disk a path or an open file is, whatever name it was
// reached by: a symbolic link and a hard link name the same file.

struct FileIdentity {
    std::uint64_t volume = 0;  // the device, or the volume's serial number
    std::uint64_t index = 0;   // the inode, or the volume's file index
    bool known = false;
};

// Of the entry `name` of the held folder, links followed.
// The listing: the names of the per-camera files, one a line, written
// aside under a name of this run's own and then given the listing's name,
// so that a failure leaves the earlier listing or none, never a cut one,
// and nothing planted at the listing's name is opened or written through.

enum class ListingResult {
    Written,     // the listing file names the folder's per-camera files
    Refused,     // the folder could not be listed; a message has said why,
                 // and the run ends before the merged file is created
    Unwritable,  // the listing file could not be written; a message has said
                 // why, and the run ends, after a wait, before the merged
                 // file is touched
};

// Lists the per-camera files of the held folder `ffFolder` into the file
// `listingName` of it, and gives their names, in the listing's order, in
// `names`: the run merges those, and never reads the listing back. Names
// that the listing cannot hold are left out, each with a message, and
// counted in `namesLeftOut`.
ListingResult writeFolderListing(const HeldFolder& folder, const std::string& ffFolder,
                                 const std::string& listingName, std::vector<std::string>& names,
                                 long& namesLeftOut);

// Brings a listed name to the form the host opens files by. False, after a
// message naming the file, when the host cannot open the file by that
// name; it is then not merged.
bool listedNameForHost(const std::string& ffFolder, std::string& name);

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

// Takes the lock on the held folder `ffFolder`, waiting while another run
// holds it. False, after a message that names the folder, when the lock
// was still held by another after kLockWaitSeconds: the run leaves the
// folder. Where the folder cannot be locked (a file system without locks),
// the run goes on without the lock, and nothing is said.
bool lockFolder(const HeldFolder& folder, const std::string& ffFolder, FolderLock& lock);

// Lets the next run have the folder.
void unlockFolder(FolderLock& lock);

// Opens the per-camera file of a listed name of the held folder for
// reading. Between the listing and the open, the name may have come to
// stand for something else (a FIFO, a folder, a device, a link): such an
// entry is told apart without the open waiting on it, and no read of the
// file waits either. A link is followed only where it is the running
// user's own or an administrator's, or where its owner may read what it
// leads to.

enum class ListedFileOpen {
    Opened,    // `file` is open on a regular file, which `identity` names
    NotAFile,  // the name now stands for something that is not a regular file
    Refused,   // a link of another user to a file that user may not read
    Changed,   // the name was replaced while it was opened
    Failed,    // `error` holds the errno of the failed open
};

ListedFileOpen openListedFile(const HeldFolder& folder, const std::string& name,
                              std::FILE*& file, FileIdentity& identity, int& error);

// Which file a path, or an entry of the held folder, names, links followed.
FileIdentity identityOfPath(const std::string& path);
FileIdentity identityInFolder(const HeldFolder& folder, const std::string& name);

// True only when both are known and name the same file.
inline bool sameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.known && b.known && a.volume == b.volume && a.index == b.index;
}
