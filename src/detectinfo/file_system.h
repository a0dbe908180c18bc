// What the staged file needs of the platform's file system, one call each:
// POSIX calls on POSIX hosts, Windows' own on Windows. Every call that
// can fail says why in `reason`, in the system's words.
#pragma once

#include <cstdio>
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
