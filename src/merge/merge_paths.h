// The paths one run works with, all derived from the FF folder path, and
// the checks the folder must pass before the run writes into it.
#pragma once

#include <string>
#include <utility>

struct MergePaths {
    std::string ffFolder;     // the FF folder, ending in a separator
    std::string calFolder;    // root up to the HALD folder, then "Cal"
    std::string listingPath;  // the listing file in the FF folder
    std::string folderName;   // the FF folder's own name
    std::string mergedPath;   // the merged detection-info file
};

// The folder rules below work with the host's separator (kPathSeparator of
// the path rules): the backslash on Windows, '/' on POSIX hosts.

// Appends one separator unless `path` already ends in one.
std::string ensureTrailingSeparator(const std::string& path);

// (directory part, final component) at the last separator of `path`; with
// no separator the directory part is empty and the final component whole.
std::pair<std::string, std::string> splitAtLastSeparator(const std::string& path);

// Derives every path of a run from the FF folder path, whole and in the
// host's own form (host.h: wholeFolderPath, nativeFolderPath).
MergePaths deriveMergePaths(const std::string& folder);

// The checks the folder must pass before a run writes anything into it.

// False, after a message, when the folder path has a line end, another
// control character or a Unicode line separator in it, which would break
// header lines 5 and 6 for some reader of the merged file.
bool fitsTheHeader(const MergePaths& paths);

// False, after a message, when the host cannot work with the paths (too
// long, or, on Windows, in a form its listing command cannot take).
bool hostCanUse(const MergePaths& paths);

// Whether the folder given as `typed` is an existing folder, looked at as
// the run will use it (`ffFolder`, ending in a separator, so that a drive
// letter alone names its drive); false after a message that says what the
// path as typed names instead, and `reason` says it in a few words.
bool namesAFolder(const std::string& typed, const std::string& ffFolder, const char*& reason);
