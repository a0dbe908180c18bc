// The staged file's file-system calls on Windows: the staging file is
// opened so that it can be removed while it is open (by the console
// control handler), flushed with FlushFileBuffers, and moved over the
// final name by MoveFileExA, which returns only once the move is written
// through to the disk, the folder's record of the name with it.
#include "file_system.h"

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
