// What the host asks of a run: its path rules (the separator that the
// folder rules of a run use, how a typed folder path is brought to the
// host's own form, which paths the host can work with at all) and the set-up
// of the process. posix/host.cpp and windows/host.cpp implement it.
#pragma once

#include <string>
#include <vector>

extern const char kPathSeparator;

// The form of a folder path, as given on the command line, that the path
// rules work on.
std::string nativeFolderPath(const std::string& typed);

// A folder path made whole, as the user's shell sees it: a relative path
// is taken against the process's current folder, and "." and ".." are
// resolved by name, links kept as typed (POSIX), or as GetFullPathName
// makes it, drive-relative paths ("D:night1") included (Windows). A whole
// path, and an empty one, is returned as typed.
std::string wholeFolderPath(const std::string& typed);

// True when the last component of a command-line argument holds a
// wildcard that this program, not the shell, expands: '*' or '?' on
// Windows, whose command interpreter passes them on unexpanded; never on
// POSIX hosts, whose shells expand them, so that any name stays a folder.
bool holdsWildcard(const std::string& argument);

// The folders a wildcard argument stands for, in the order the folder
// listing gives them (as dir lists them), hidden and system folders and
// files left out. Empty when none matches.
std::vector<std::string> foldersMatching(const std::string& pattern);

// The command that merges the folders below `ffFolder` (ending in a
// separator) in one run, quoted for this host's shell.
std::string commandForFoldersBelow(const std::string& ffFolder);

// True when `path` begins with a drive letter and its colon ("D:\\",
// "D:", "D:night1"), which is no part of a folder's name; never on hosts
// without drive letters.
bool startsWithDriveLetter(const std::string& path);

// What keeps the host from working with the paths of a run, which then
// ends before it writes anything; `detail` says why, in words that follow
// the path in a message.
struct PathRefusal {
    enum class Kind {
        None,
        ListingPath,  // the listing file's path cannot be written
        MergedPath,   // the merged file's path or name cannot be created
        Listing,      // the folder cannot be listed by the host's listing command
        Characters,   // the folder path holds characters the host cannot use
    };
    Kind kind = Kind::None;
    std::string detail;
};
PathRefusal hostRefusesRunPaths(const std::string& ffFolder, const std::string& listingPath,
                                const std::string& mergedPath);

// Why the host cannot open or create a file by a path as long as `path`,
// worded to follow the path in a message; empty when it can.
std::string pathLengthProblem(const std::string& path);

// Gives the standard streams a place when the process was started with one
// of them closed, so that no file of the run can take its descriptor, and
// lets a failed write to standard output (a closed pipe) or past a
// file-size limit come back as an error instead of ending the process.
// False when the standard streams cannot be given a place.
bool prepareProcess();
