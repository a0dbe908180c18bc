// The host on Windows. Paths: '\' separates, and a path typed with '/' works as if
// typed with '\'. Without a long-path manifest, fopen refuses paths longer
// than 259 characters (MAX_PATH with its terminator), and the command
// interpreter's dir neither lists such folders nor the \\?\ and \\.\ forms:
// given one, it prints "File not found" and the listing comes out empty.
#include "host.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "log_file.h"

namespace {

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

std::string wholeFolderPath(const std::string& typed) {
    // "D:\..." and "\\server\..." (and "\\?\...") are whole already; "D:night1",
    // "\night1" and "night1" are taken against a current folder.
    const bool whole = (startsWithDriveLetter(typed) && typed.size() > 2 && typed[2] == '\\') ||
                       startsWith(typed, "\\\\");
    if (typed.empty() || whole) {
        return typed;
    }
    char buffer[MAX_PATH * 4];
    const DWORD length = GetFullPathNameA(typed.c_str(), sizeof buffer, buffer, nullptr);
    if (length == 0 || length >= sizeof buffer) {
        return typed;  // the path checks then say what is wrong with it
    }
    return std::string(buffer, length);
}

namespace {

// The argument without the separators it ends in.
std::string withoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && (path.back() == '\\' || path.back() == '/')) {
        path.pop_back();
    }
    return path;
}

// Where the last component of `path` begins: after its last separator, or
// after a drive letter and colon.
std::size_t lastComponentStart(const std::string& path) {
    const std::size_t separator = path.find_last_of("\\/");
    if (separator != std::string::npos) {
        return separator + 1;
    }
    return startsWithDriveLetter(path) ? 2 : 0;
}

}  // namespace

namespace {

// Whether the '?' in the last component of `argument` was typed: the ANSI
// code page also shows a character it has no place for as '?', and such
// an argument names one folder, not a pattern. The command line as typed
// (UTF-16) tells: the argument whose ANSI form is `argument` holds a '?'
// in its last component there too.
bool questionMarkTyped(const std::string& argument) {
    int count = 0;
    LPWSTR* typed = CommandLineToArgvW(GetCommandLineW(), &count);
    if (typed == nullptr) {
        return true;  // no way to tell: taken as typed
    }
    bool found = false;
    for (int i = 1; i < count && !found; ++i) {
        char ansi[MAX_PATH * 4];
        const int length = WideCharToMultiByte(CP_ACP, 0, typed[i], -1, ansi, sizeof ansi, nullptr, nullptr);
        if (length > 0 && argument == ansi) {
            std::wstring wide = typed[i];
            while (wide.size() > 1 && (wide.back() == L'\\' || wide.back() == L'/')) {
                wide.pop_back();
            }
            const std::size_t start = wide.find_last_of(L"\\/:");
            found = wide.find(L'?', start == std::wstring::npos ? 0 : start + 1) != std::wstring::npos;
        }
    }
    LocalFree(typed);
    return found;
}

}  // namespace

bool holdsWildcard(const std::string& argument) {
    const std::string path = withoutTrailingSeparators(argument);
    const std::size_t start = lastComponentStart(path);
    if (path.find('*', start) != std::string::npos) {
        return true;
    }
    return path.find('?', start) != std::string::npos && questionMarkTyped(argument);
}

std::vector<std::string> foldersMatching(const std::string& pattern) {
    const std::string path = withoutTrailingSeparators(pattern);
    const std::string parent = path.substr(0, lastComponentStart(path));
    std::vector<std::string> folders;
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return folders;
    }
    do {
        const std::string name = found.cFileName;
        const DWORD attributes = found.dwFileAttributes;
        // As dir lists them: folders only, hidden and system ones left out.
        if (name != "." && name != ".." && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
            (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0) {
            folders.push_back(parent + name);
        }
    } while (FindNextFileA(search, &found) != 0);
    FindClose(search);
    return folders;
}

std::string commandForFoldersBelow(const std::string& ffFolder) {
    // Quoted as the command interpreter needs it when the path holds a
    // blank or a character it would take; the wildcard inside the quotes.
    const bool plain = ffFolder.find_first_of(" &()[]{}^=;!'+,`~%") == std::string::npos;
    const std::string pattern = ffFolder + "*";
    return "kel_combine_detectinfo.exe " + (plain ? pattern : "\"" + pattern + "\"");
}

// A colon cannot stand in a file name here: one after a letter at the
// start names a drive.
bool startsWithDriveLetter(const std::string& path) {
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

PathRefusal hostRefusesRunPaths(const std::string& ffFolder, const std::string& listingPath,
                                const std::string& mergedPath) {
    PathRefusal refusal;
    if (startsWith(ffFolder, "\\\\?\\") || startsWith(ffFolder, "\\\\.\\")) {
        refusal.kind = PathRefusal::Kind::Listing;
        refusal.detail = "the command interpreter cannot list paths that begin with \\\\?\\ or \\\\.\\";
        return refusal;
    }
    // No Windows file or folder name holds a '?': here it stands for a
    // character of the path that the ANSI code page has no place for, so
    // the path names some other folder, or none.
    if (ffFolder.find('?') != std::string::npos) {
        refusal.kind = PathRefusal::Kind::Characters;
        return refusal;
    }
    const std::size_t longest = longestPath(ffFolder);
    if (listingPath.size() > longest) {
        refusal.kind = PathRefusal::Kind::Listing;
        refusal.detail = "the command interpreter takes paths of at most " + std::to_string(longest) +
                         " characters";
        return refusal;
    }
    refusal.detail = pathLengthProblem(mergedPath);
    if (!refusal.detail.empty()) {
        refusal.kind = PathRefusal::Kind::MergedPath;
    }
    return refusal;
}

std::string pathLengthProblem(const std::string& path) {
    const std::size_t longest = longestPath(path);
    if (path.size() <= longest) {
        return std::string();
    }
    return "its path has " + std::to_string(path.size()) +
           " characters, and Windows opens paths of at most " + std::to_string(longest);
}

// The process. The C runtime keeps descriptors 0, 1 and 2 for the
// standard streams even when the process was started without their
// handles (writes to them then fail), and files get handles of their own,
// so no file of the run can take a standard stream's place. A write to a
// closed pipe fails with an error; no signal ends the process for it.

bool prepareProcess() {
    return true;
}
