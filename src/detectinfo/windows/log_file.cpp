// The merged detection log's operating-system calls on Windows: the
// staging file is opened so that it can be removed while it is open (by
// the console control handler), flushed with FlushFileBuffers, and moved
// over the final name by MoveFileExA, which returns only once the move is
// written through to the disk, the folder's record of the name with it.
// Interruptions come to a console control handler. Also the system's words
// for an error code (system_reason.h), which the listing uses too.
#include "log_file.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>

#include "system_reason.h"

namespace {

// How long a move over the final name is retried while another program
// (a virus scanner, an indexer, a backup) has the file open.
constexpr DWORD kMoveRetryMilliseconds = 2000;
constexpr DWORD kMoveRetryStep = 100;

bool fail(DWORD error, std::string& reason) {
    reason = systemReason(error);
    return false;
}

bool sharingMayEnd(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_ACCESS_DENIED;
}

}  // namespace

// Opens the file for writing, sharing it as the C runtime shares a file it
// opens for writing.
bool mayReplaceFile(const std::string& path, std::string& reason) {
    HANDLE probe = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || fail(error, reason);
    }
    CloseHandle(probe);
    return true;
}

std::FILE* createStagingFile(const std::string& stagingPath, const std::string& /*finalPath*/,
                             std::string& reason) {
    // A leftover of a process that was ended without its clean-up goes
    // first. Removal is shared, so that the console control handler can
    // remove the file while it is open.
    if (!DeleteFileA(stagingPath.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        fail(GetLastError(), reason);
        return nullptr;
    }
    HANDLE handle = CreateFileA(stagingPath.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        fail(GetLastError(), reason);
        return nullptr;
    }
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
        DeleteFileA(stagingPath.c_str());
    }
    return file;
}

bool flushToStorage(std::FILE* file, std::string& reason) {
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return FlushFileBuffers(handle) != 0 || fail(GetLastError(), reason);
}

// Retried for a while as long as another program holds one of the two
// files open.
bool replaceFile(const std::string& from, const std::string& to, std::string& reason) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (MoveFileExA(from.c_str(), to.c_str(),
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

bool flushFolderOf(const std::string& /*path*/, std::string& /*reason*/) {
    return true;  // the move was written through
}

void removeFileNow(const char* path) {
    DeleteFileA(path);
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

std::string systemReason(unsigned long error) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string reason = length > 0 ? std::string(text, length) : "error " + std::to_string(error);
    LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == ' ' || reason.back() == '.')) {
        reason.pop_back();
    }
    return reason;
}
