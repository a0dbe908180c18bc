// The FF folder and its files as this host reaches them: the listing of
// its per-camera files, the lock that lets one run at a time work on it,
// the open of a listed file, and which file on disk a name stands for.
// posix/folder_files.cpp and windows/folder_files.cpp implement it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// The listing: the names of the per-camera files, one a line.

enum class ListingResult {
    Written,     // the listing file names the folder's per-camera files
    NotWritten,  // no listing came of it; the run reports the listing file
                 // as not found once it has created the merged file
    Refused,     // the folder could not be listed; a message has said why,
                 // and the run ends before the merged file is created
    Unwritable,  // the listing file could not be written; a message has said
                 // why, and the run ends, after a wait, before the merged
                 // file is touched
};

// Writes the listing of `ffFolder` (ending in a separator) to `listingPath`.
// Names that the listing cannot hold are left out, each with a message,
// and counted in `namesLeftOut`.
ListingResult writeFolderListing(const std::string& ffFolder, const std::string& listingPath,
                                 long& namesLeftOut);

// Brings a name read from the listing, line end removed, to the form the
// host opens files by. False, after a message naming the file, when the
// host cannot open the file by that name; it is then not merged.
bool listedNameForHost(const std::string& ffFolder, std::string& name);

// One run at a time per FF folder. A run holds the lock on its folder from
// before the listing is written until the merged file has its name, so
// that the listing and the merged file are always those of one run. A
// second run waits for the first to end, saying so once. The lock is the
// platform's own and leaves no file behind; it goes with the process, so a
// run that is killed does not keep others waiting.

struct FolderLock {
    std::intptr_t handle = -1;  // the descriptor or handle the lock is held by
    bool held = false;
};

// Takes the lock on `ffFolder`, waiting while another run holds it. Where
// the folder cannot be locked (a file system without locks), the run goes
// on without the lock, and nothing is said.
void lockFolder(const std::string& ffFolder, FolderLock& lock);

// Lets the next run have the folder.
void unlockFolder(FolderLock& lock);

// Opens the per-camera file of a listed name for reading. Between the
// listing and the open, the name may have come to stand for something else
// (a FIFO, a folder, a device): such an entry is told apart without the
// open waiting on it.

enum class ListedFileOpen {
    Opened,    // `file` is open on a regular file
    NotAFile,  // the name now stands for something that is not a regular file
    Failed,    // `error` holds the errno of the failed open
};

ListedFileOpen openListedFile(const std::string& path, std::FILE*& file, int& error);

// Which file on disk a path or an open file is, whatever name it was
// reached by: a symbolic link and a hard link name the same file.

struct FileIdentity {
    std::uint64_t volume = 0;  // the device, or the volume's serial number
    std::uint64_t index = 0;   // the inode, or the volume's file index
    bool known = false;
};

FileIdentity identityOfPath(const std::string& path);
FileIdentity identityOfOpenFile(std::FILE* file);

// True only when both are known and name the same file.
inline bool sameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.known && b.known && a.volume == b.volume && a.index == b.index;
}
