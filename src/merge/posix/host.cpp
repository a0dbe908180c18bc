// The host on POSIX systems. Paths: '/' separates and a typed path is
// used unchanged. The system opens no path of PATH_MAX characters or more (its terminator
// takes the last place), nor a name longer than the file system's NAME_MAX:
// the paths of a run are checked against both before anything is written,
// as a path that fails later would fail part way.
#include "host.h"

#include <fcntl.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <unistd.h>

#include "log_file.h"

namespace {

std::string lengthProblem(const std::string& path, std::size_t longest) {
    if (path.size() <= longest) {
        return std::string();
    }
    return "its path has " + std::to_string(path.size()) +
           " characters, and this system opens paths of at most " + std::to_string(longest);
}

}  // namespace

const char kPathSeparator = '/';

std::string nativeFolderPath(const std::string& typed) {
    return typed;
}

std::string wholeFolderPath(const std::string& typed) {
    if (typed.empty() || typed.front() == '/') {
        return typed;
    }
    std::error_code error;
    const std::filesystem::path current = std::filesystem::current_path(error);
    if (error) {
        return typed;  // no current folder to take it against
    }
    // By name only: "a/../b" is "b" even when "a" is a link, as the shell
    // that typed it sees it, and no link in the path is replaced by its target.
    return (current / typed).lexically_normal().string();
}

bool holdsWildcard(const std::string& /*argument*/) {
    return false;  // the shell has expanded them: '*' and '?' are a name's own
}

std::vector<std::string> foldersMatching(const std::string& pattern) {
    return {pattern};
}

std::string commandForFoldersBelow(const std::string& ffFolder) {
    // Quoted for a POSIX shell only when it holds a character the shell
    // would take; the wildcard stays outside the quotes.
    const bool plain = ffFolder.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                  "0123456789_./+,:@%=-") == std::string::npos;
    std::string command = "kel_combine_detectinfo ";
    if (plain) {
        command.append(ffFolder);
    } else {
        command.push_back('\'');
        for (char c : ffFolder) {
            command.append(c == '\'' ? "'\\''" : std::string(1, c));
        }
        command.push_back('\'');
    }
    return command.append("*/");
}

bool startsWithDriveLetter(const std::string& /*path*/) {
    return false;  // "D:" is a name like any other here
}

PathRefusal hostRefusesRunPaths(const std::string& ffFolder, const std::string& listingPath,
                                const std::string& mergedPath) {
    const std::size_t longest = longestPath(ffFolder);
    PathRefusal refusal;
    refusal.detail = lengthProblem(listingPath, longest);
    if (!refusal.detail.empty()) {
        refusal.kind = PathRefusal::Kind::ListingPath;
        return refusal;
    }
    refusal.detail = lengthProblem(mergedPath, longest);
    if (!refusal.detail.empty()) {
        refusal.kind = PathRefusal::Kind::MergedPath;
        return refusal;
    }
    // The merged file's name is the longest the run writes: the folder's
    // own name and 23 characters more.
    const long limit = pathconf(ffFolder.c_str(), _PC_NAME_MAX);
    const std::size_t longestName = static_cast<std::size_t>(limit > 0 ? limit : NAME_MAX);
    const std::size_t nameLength = mergedPath.size() - ffFolder.size();
    if (nameLength > longestName) {
        refusal.kind = PathRefusal::Kind::MergedPath;
        refusal.detail = "its name has " + std::to_string(nameLength) +
                         " characters, and this file system takes names of at most " +
                         std::to_string(longestName);
    }
    return refusal;
}

std::string pathLengthProblem(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return lengthProblem(path, longestPath(slash == std::string::npos ? "./" : path.substr(0, slash + 1)));
}

// The process.

namespace {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed: the
// lowest free descriptor is the one opened.
bool fillStandardDescriptors() {
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) >= 0 || errno != EBADF) {
            continue;
        }
        if (open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY) != descriptor) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool prepareProcess() {
    if (!fillStandardDescriptors()) {
        return false;  // no standard stream can be trusted to say so
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    return true;
}
