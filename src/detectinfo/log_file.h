// What the merged detection log (detection_log.cpp) needs of the operating
// system, one call each: POSIX calls in posix/log_file.cpp, Windows' own in
// windows/log_file.cpp, the one of the two chosen in CMakeLists.txt. Every
// file is reached through the folder the run holds open (`LogFolder`), by
// its name in that folder. Every call that can fail says why in `reason`,
// in the system's words.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

// The folder of the merged file, held open by the run.
struct LogFolder {
    std::intptr_t handle = -1;  // a descriptor of the folder, or its handle
    std::string path;           // its path, ending in a separator
};

// The merged file as it stands before the run replaces it, looked at
// without following a link and without opening it.
struct EarlierFile {
    bool exists = false;
    bool regular = false;      // a regular file (not a link, folder, FIFO, device)
    bool isFolder = false;
    bool blocked = false;      // the running user may not replace it; `why` says so
    std::string why;
    long otherNames = 0;       // hard links beyond the merged file's name
    std::uint32_t mode = 0;    // permission bits, where the platform has them
    std::int64_t owner = -1;   // user and group, where the platform has them
    std::int64_t group = -1;
};

EarlierFile lookAtEarlierFile(const LogFolder& folder, const std::string& name);

// The name of this computer, as the system gives it.
std::string computerName();

// This process's number: with the computer's name it tells this run's
// files from any other's.
long processNumber();

// The longest name a file in the folder may have (on Windows, also what
// the path limit leaves).
std::size_t roomForName(const LogFolder& folder);

// True when no process `number` runs on this computer: a file that such a
// process left can no longer be its run's.
bool processGone(long number);

// True when the folder is on a disk of this computer, not on a share that
// another computer may reach.
bool folderIsLocal(const LogFolder& folder);

// The names of the regular files in the folder (no folder, link or other
// kind) that begin with `prefix` and end with `suffix`.
std::vector<std::string> namesInFolder(const LogFolder& folder, const std::string& prefix,
                                       const std::string& suffix);

// Creates `name` in the folder, exclusively, never through a link, open for
// reading and writing; it can be removed while it is open. Its permission
// bits are those a new file gets under the umask, less any the earlier
// file lacks; its owner and group stay the running user's until it is
// complete (handOver). Null when it cannot be made: `taken` tells whether
// something already held the name, `reason` says why in the system's words.
std::FILE* createExclusiveFile(const LogFolder& folder, const std::string& name,
                               const EarlierFile& earlier, bool& taken, std::string& reason);

// A second handle on the file, kept past its close, so that the file can
// be handed over once it has its final name; -1 where the platform needs
// none (on Windows the rename keeps the replaced file's owner).
std::intptr_t keepForHandOver(std::FILE* file);

// Gives the file of `kept`, complete under its final name, the earlier
// file's owner and group wherever the system lets the run set them (root
// sets both, a member of the group the group), then lets `kept` go. With
// no earlier file, only lets it go.
void handOver(std::intptr_t kept, const EarlierFile* earlier);

// Writes what the file holds through to stable storage.
bool flushToStorage(std::FILE* file, std::string& reason);

// Gives the folder's file `from` the name `to`, replacing the file that had
// it (keeping, where the platform can, the replaced file's security).
bool replaceFile(const LogFolder& folder, const std::string& from, const std::string& to,
                 std::string& reason);

// Writes the record of the names in the folder through to stable storage,
// where the platform does not do so with the rename.
bool flushFolder(const LogFolder& folder, std::string& reason);

// Removes the folder's file `name`, using only what is safe in a signal
// handler or a console control handler; 0, or the system's error code.
int removeFileNow(std::intptr_t folder, const char* folderPath, const char* name);

// The system's words for an error code: an errno value on POSIX hosts, a
// GetLastError code on Windows (removeFileNow gives one or the other).
std::string systemReason(long error);

// The longest path by which the system opens a file in `folder` (a path
// ending in a separator): what the file system says on POSIX hosts;
// MAX_PATH less its terminator, 259, on Windows, whose programs without a
// long-path manifest open no longer path.
std::size_t longestPath(const std::string& folder);

// Has every interruption that ends the process (Ctrl-C, a hang-up, a
// termination request, a closed console window, Windows shutting down)
// call `cleanUp` first, then end the process as it would have; a signal
// that was ignored when the process started stays ignored. `cleanUp` may
// do only what is safe in a signal handler or on the thread of a console
// control handler. Call once.
void cleanUpOnInterruption(void (*cleanUp)());

// 64-bit positioning in a FILE, so merged files beyond 2 GiB work on every
// host (long is 32 bits on Windows).
bool seekFile(std::FILE* file, std::int64_t offset, int origin);
std::int64_t tellFile(std::FILE* file);

// The local time of `when`.
std::tm localTime(std::time_t when);
