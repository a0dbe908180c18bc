// What the merged detection log (detection_log.cpp) needs of the operating
// system, one call each: POSIX calls in posix/log_file.cpp, Windows' own in
// windows/log_file.cpp, the one of the two chosen in CMakeLists.txt. Every
// call that can fail says why in `reason`, in the system's words.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

// False when an existing file at `path` could not be written in place by
// this process (read-only, a folder, held open by another program that
// shares no writing); true also when nothing is there.
bool mayReplaceFile(const std::string& path, std::string& reason);

// Creates `stagingPath` anew, open for reading and writing, in place of
// any file left there; it gets the permissions of the file at `finalPath`
// where the platform keeps such, and can be removed while it is open.
std::FILE* createStagingFile(const std::string& stagingPath, const std::string& finalPath,
                             std::string& reason);

// Writes what the file holds through to stable storage.
bool flushToStorage(std::FILE* file, std::string& reason);

// Gives the file at `from` the name `to`, replacing the file that had it.
bool replaceFile(const std::string& from, const std::string& to, std::string& reason);

// Writes the record of the names in the folder that holds `path` through
// to stable storage, where the platform does not do so with the rename.
bool flushFolderOf(const std::string& path, std::string& reason);

// Removes the file at `path`, using only what is safe in a signal handler
// or a console control handler.
void removeFileNow(const char* path);

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
