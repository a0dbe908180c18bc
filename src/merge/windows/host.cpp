// The host on Windows. Paths: '\' separates, and a path typed with '/' works as if
// typed with '\'. Without a long-path manifest, fopen refuses paths longer
// than 259 characters (MAX_PATH with its terminator), and the command
// interpreter's dir neither lists such folders nor the \\?\ and \\.\ forms:
// given one, it prints "File not found" and the listing comes out empty.
#include "host.h"

#include <windows.h>

#include "read_problem.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::size_t kLongestPath = 259;

bool startsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

}  // namespace

const char kPathSeparator = '\\';

std::string nativeFolderPath(const std::string& typed) {
    std::string path = typed;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// A colon cannot stand in a file name here: one after a letter at the
// start names a drive.
bool startsWithDriveLetter(const std::string& path) {
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

bool hostAcceptsRunPaths(const MergePaths& paths) {
    if (startsWith(paths.ffFolder, "\\\\?\\") || startsWith(paths.ffFolder, "\\\\.\\")) {
        std::printf(" Cannot list folder %s: the command interpreter cannot list paths that "
                    "begin with \\\\?\\ or \\\\.\\ \n",
                    shownText(paths.ffFolder).c_str());
        return false;
    }
    // No Windows file or folder name holds a '?': here it stands for a
    // character of the path that the ANSI code page has no place for, so
    // the path names some other folder, or none.
    if (paths.ffFolder.find('?') != std::string::npos) {
        std::printf(" FF folder %s holds characters that this program cannot use (shown as ?) \n",
                    shownText(paths.ffFolder).c_str());
        return false;
    }
    if (paths.listingPath.size() > kLongestPath) {
        std::printf(" Cannot list folder %s: the command interpreter takes paths of at most %lu "
                    "characters \n",
                    shownText(paths.ffFolder).c_str(), static_cast<unsigned long>(kLongestPath));
        return false;
    }
    const std::string mergedProblem = pathLengthProblem(paths.mergedPath);
    if (!mergedProblem.empty()) {
        std::printf(" Cannot create KEL detection log file %s: %s \n",
                    shownText(paths.mergedPath).c_str(), mergedProblem.c_str());
        return false;
    }
    return true;
}

std::string pathLengthProblem(const std::string& path) {
    if (path.size() <= kLongestPath) {
        return std::string();
    }
    return "its path has " + std::to_string(path.size()) +
           " characters, and Windows opens paths of at most " + std::to_string(kLongestPath);
}

// The process. The C runtime keeps descriptors 0, 1 and 2 for the
// standard streams even when the process was started without their
// handles (writes to them then fail), and files get handles of their own,
// so no file of the run can take a standard stream's place. A write to a
// closed pipe fails with an error; no signal ends the process for it.

bool prepareProcess() {
    return true;
}
