// A file written under a temporary name beside its real one, which it
// takes only once it is complete and on stable storage: until then the
// real name keeps the file it had (or none), whatever ends the process.
#pragma once

#include <cstdio>
#include <string>

struct StagedFile {
    std::FILE* file = nullptr;  // open for reading and writing while staged
    std::string finalPath;      // the name the file takes when complete
    std::string stagingPath;    // the name it is written under
};

enum class CommitResult {
    Committed,         // the file is on stable storage under its final name
    Failed,            // the staging file is removed; the final name is untouched
    FolderNotFlushed,  // the file has its final name, but the folder's record
                       // of the new name could not be flushed to stable storage
};

// Creates the staging file, in place of any file left there by an earlier
// process that could not remove it. Fails, creating nothing, when a file at
// `finalPath` may not be written by this process (read-only, a folder, or
// held open by another program that does not share writing), since a file
// that could not be written in place is not replaced either. `reason` gets
// the system's words for a failure.
bool createStagedFile(StagedFile& staged, const std::string& finalPath,
                      const std::string& stagingPath, std::string& reason);

// Flushes the file to stable storage, closes it and gives it its final
// name, replacing the file that had it. After Failed the staging file is
// gone; `reason` says why.
CommitResult commitStagedFile(StagedFile& staged, std::string& reason);

// Closes the staging file, if open, and removes it.
void discardStagedFile(StagedFile& staged);

// Removes the staging file of the process, if any, using only what is safe
// in a signal handler or a console control handler: for interruptions that
// end the process while a file is staged.
void removeStagingFileNow();
