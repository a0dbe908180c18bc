// The merged detection log's operating-system calls on Windows: the
// staging file is made with CREATE_NEW (never through a name that is
// there, a reparse point included) and opened so that it can be removed
// while it is open (by the console control handler), flushed with
// FlushFileBuffers, and put in place by ReplaceFileA, which keeps the
// replaced file's security (its ACL, owner and attributes), or, where that
// cannot be done, by MoveFileExA written through. The folder is held open
// by the run without delete sharing, so its path names the same folder
// throughout. Interruptions come to a console control handler. Also the
// system's words for an error code, which the run's folder code uses too.
#include "log_file.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>


namespace {

// How long a move over the final name is retried while another program
// (a virus scanner, an indexer, a backup) has the file open.
constexpr DWORD kMoveRetryMilliseconds = 2000;
constexpr DWORD kMoveRetryStep = 100;

bool fail(DWORD error, std::string& reason) {
    reason = systemReason(static_cast<long>(error));
    return false;
}

bool sharingMayEnd(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_ACCESS_DENIED;
}

// How many names the file has, looked at without following a reparse point.
long namesOf(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &information);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    return known ? static_cast<long>(information.nNumberOfLinks) : 1;
}

}  // namespace

// Refused is what could not be written in place: opened for writing as
// the C runtime shares a file it opens for writing (read-only, a folder,
// held open by another program that shares no writing), a reparse point
// not followed.
EarlierFile lookAtEarlierFile(const LogFolder& folder, const std::string& name) {
    EarlierFile earlier;
    const std::string path = folder.path + name;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return earlier;
    }
    earlier.exists = true;
    earlier.isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    earlier.regular = (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    earlier.otherNames = earlier.regular ? namesOf(path) - 1 : 0;
    HANDLE probe = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        earlier.blocked = error != ERROR_FILE_NOT_FOUND;
        earlier.why = systemReason(static_cast<long>(error));
    } else {
        CloseHandle(probe);
    }
    return earlier;
}

std::string computerName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = sizeof name;
    return GetComputerNameA(name, &length) ? std::string(name, length) : std::string();
}

long processNumber() {
    return static_cast<long>(GetCurrentProcessId());
}

bool processGone(long number) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(number));
    if (process == nullptr) {
        return GetLastError() == ERROR_INVALID_PARAMETER;
    }
    const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

std::size_t roomForName(const LogFolder& folder) {
    const std::size_t longest = longestPath(folder.path);
    const std::size_t left = folder.path.size() < longest ? longest - folder.path.size() : 0;
    return left < 255 ? left : 255;
}

// A drive of this computer: not a share (\\server\share, a mapped drive),
// nor a drive whose kind is unknown.
bool folderIsLocal(const LogFolder& folder) {
    char volume[MAX_PATH] = {};
    return GetVolumePathNameA(folder.path.c_str(), volume, MAX_PATH) &&
           GetDriveTypeA(volume) == DRIVE_FIXED;
}

std::vector<std::string> namesInFolder(const LogFolder& folder, const std::string& prefix,
                                       const std::string& suffix) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((folder.path + prefix + "*" + suffix).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::string name = found.cFileName;
        const bool regular = (found.dwFileAttributes &
                              (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
        if (regular && name.size() >= prefix.size() + suffix.size() &&
            name.compare(0, prefix.size(), prefix) == 0 &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            names.push_back(name);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

// The new file's security comes from the replaced one when it is put in
// place (ReplaceFileA), so nothing is set here.
std::FILE* createExclusiveFile(const LogFolder& folder, const std::string& name,
                               const EarlierFile& /*earlier*/, bool& taken, std::string& reason) {
    const std::string path = folder.path + name;
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        fail(error, reason);
        return nullptr;
    }
    taken = false;
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    // Open for reading too, so that what was written can be moved within it.
    std::FILE* file = descriptor < 0 ? nullptr : _fdopen(descriptor, "w+b");
    if (file == nullptr) {
        reason = std::strerror(errno != 0 ? errno : EIO);
        if (descriptor < 0) {
            CloseHandle(handle);
        } else {
            _close(descriptor);
        }
        DeleteFileA(path.c_str());
    }
    return file;
}

std::intptr_t keepForHandOver(std::FILE* /*file*/) {
    return -1;  // ReplaceFileA keeps the replaced file's owner
}

void handOver(std::intptr_t /*kept*/, const EarlierFile* /*earlier*/) {}

bool flushToStorage(std::FILE* file, std::string& reason) {
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return FlushFileBuffers(handle) != 0 || fail(GetLastError(), reason);
}

// ReplaceFileA first, which keeps the replaced file's ACL, owner and
// attributes; where it fails (no earlier file, a file system without it,
// another program holding a file), MoveFileExA, retried for a while as
// long as another program holds one of the two files open.
bool replaceFile(const LogFolder& folder, const std::string& from, const std::string& to,
                 std::string& reason) {
    const std::string source = folder.path + from;
    const std::string target = folder.path + to;
    if (ReplaceFileA(target.c_str(), source.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                     nullptr, nullptr)) {
        return true;
    }
    const DWORD start = GetTickCount();
    for (;;) {
        if (MoveFileExA(source.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        const DWORD error = GetLastError();
        if (!sharingMayEnd(error) || GetTickCount() - start >= kMoveRetryMilliseconds) {
            return fail(error, reason);
        }
        Sleep(kMoveRetryStep);
    }
}

bool flushFolder(const LogFolder& /*folder*/, std::string& /*reason*/) {
    return true;  // the file was flushed, and NTFS logs the rename
}

// Runs on the console control handler's thread too: the path is made in a
// buffer of its own.
int removeFileNow(std::intptr_t /*folder*/, const char* folderPath, const char* name) {
    char path[4096 + 512];
    const std::size_t folderLength = std::strlen(folderPath);
    const std::size_t nameLength = std::strlen(name);
    if (folderLength + nameLength >= sizeof path) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    std::memcpy(path, folderPath, folderLength);
    std::memcpy(path + folderLength, name, nameLength + 1);
    if (DeleteFileA(path) || GetLastError() == ERROR_FILE_NOT_FOUND) {
        return 0;
    }
    return static_cast<int>(GetLastError());
}

std::size_t longestPath(const std::string& /*folder*/) {
    return MAX_PATH - 1;
}

namespace {

// What an interruption calls before it ends the process.
void (*gCleanUp)() = nullptr;

// Runs on a thread of its own when the user presses Ctrl-C or Ctrl-Break,
// closes the console window, or Windows shuts down: cleans up, then lets
// the default handler end the process as it would have.
BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT ||
        event == CTRL_SHUTDOWN_EVENT) {
        gCleanUp();
    }
    return FALSE;
}

}  // namespace

void cleanUpOnInterruption(void (*cleanUp)()) {
    gCleanUp = cleanUp;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

bool seekFile(std::FILE* file, std::int64_t offset, int origin) {
    return _fseeki64(file, offset, origin) == 0;
}

std::int64_t tellFile(std::FILE* file) {
    return _ftelli64(file);
}

std::tm localTime(std::time_t when) {
    std::tm local{};
    localtime_s(&local, &when);
    return local;
}

std::string systemReason(long error) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string reason = length > 0 ? std::string(text, length) : "error " + std::to_string(error);
    LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == ' ' || reason.back() == '.')) {
        reason.pop_back();
    }
    return reason;
}
