// Staged files on Windows: the staging file is opened so that it can be
// removed while it is open (by the console control handler), flushed with
// FlushFileBuffers, and moved over the final name by MoveFileExA, which
// returns only once the move is written through to the disk.
#include "staged_file.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>

#include "system_reason.h"

namespace {

// The staging path as removeStagingFileNow finds it, from the thread of a
// console control handler: a fixed buffer, and a flag that is set only
// while the buffer holds the whole path of a staging file that may exist.
char gInterruptPath[4096];
volatile LONG gInterruptPathSet = 0;

// How long a move over the final name is retried while another program
// (a virus scanner, an indexer, a backup) has the file open.
constexpr DWORD kMoveRetryMilliseconds = 2000;
constexpr DWORD kMoveRetryStep = 100;

bool fail(DWORD error, std::string& reason) {
    reason = systemReason(error);
    return false;
}

bool failFromRuntime(std::string& reason) {
    reason = std::strerror(errno != 0 ? errno : EIO);
    return false;
}

// Opens an existing file at `path` for writing, sharing it as the C
// runtime shares a file it opens for writing, to learn whether it could be
// written in place: a read-only file, a folder, or a file that another
// program holds open without sharing writing is refused. True also when
// nothing is there.
bool mayReplace(const std::string& path, std::string& reason) {
    HANDLE probe = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || fail(error, reason);
    }
    CloseHandle(probe);
    return true;
}

// The staging file, made anew: a leftover of a process that was ended
// without its clean-up goes first. Removal is shared, so that the console
// control handler can remove the file while it is open.
HANDLE createStagingFile(const std::string& stagingPath, std::string& reason) {
    if (!DeleteFileA(stagingPath.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        fail(GetLastError(), reason);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = CreateFileA(stagingPath.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        fail(GetLastError(), reason);
    }
    return handle;
}

bool sharingMayEnd(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_ACCESS_DENIED;
}

// Moves the staging file over the final name, retrying for a while as long
// as another program holds one of the two open.
bool moveOverFinal(const StagedFile& staged, std::string& reason) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (MoveFileExA(staged.stagingPath.c_str(), staged.finalPath.c_str(),
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

}  // namespace

bool createStagedFile(StagedFile& staged, const std::string& finalPath,
                      const std::string& stagingPath, std::string& reason) {
    staged = StagedFile{};
    staged.finalPath = finalPath;
    staged.stagingPath = stagingPath;
    if (!mayReplace(finalPath, reason)) {
        return false;
    }
    if (stagingPath.size() >= sizeof gInterruptPath) {
        return fail(ERROR_FILENAME_EXCED_RANGE, reason);
    }
    // Set before the file can exist, so that no interruption leaves it.
    std::memcpy(gInterruptPath, stagingPath.c_str(), stagingPath.size() + 1);
    InterlockedExchange(&gInterruptPathSet, 1);
    HANDLE handle = createStagingFile(stagingPath, reason);
    if (handle == INVALID_HANDLE_VALUE) {
        InterlockedExchange(&gInterruptPathSet, 0);
        return false;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    // Open for reading too, so that what was written can be moved within it.
    staged.file = descriptor < 0 ? nullptr : _fdopen(descriptor, "w+b");
    if (staged.file == nullptr) {
        failFromRuntime(reason);
        if (descriptor < 0) {
            CloseHandle(handle);
        } else {
            _close(descriptor);
        }
        DeleteFileA(stagingPath.c_str());
        InterlockedExchange(&gInterruptPathSet, 0);
        return false;
    }
    return true;
}

CommitResult commitStagedFile(StagedFile& staged, std::string& reason) {
    std::FILE* file = staged.file;
    staged.file = nullptr;
    errno = 0;
    bool done = std::fflush(file) == 0 || failFromRuntime(reason);
    if (done) {
        HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
        done = FlushFileBuffers(handle) != 0 || fail(GetLastError(), reason);
    }
    errno = 0;
    if (std::fclose(file) != 0 && done) {
        done = failFromRuntime(reason);
    }
    done = done && moveOverFinal(staged, reason);
    if (!done) {
        DeleteFileA(staged.stagingPath.c_str());
    }
    InterlockedExchange(&gInterruptPathSet, 0);
    // The move is written through, the folder's record of the name with it.
    return done ? CommitResult::Committed : CommitResult::Failed;
}

void discardStagedFile(StagedFile& staged) {
    if (staged.file == nullptr) {
        return;
    }
    std::fclose(staged.file);
    staged.file = nullptr;
    DeleteFileA(staged.stagingPath.c_str());
    InterlockedExchange(&gInterruptPathSet, 0);
}

void removeStagingFileNow() {
    if (gInterruptPathSet != 0) {
        DeleteFileA(gInterruptPath);
    }
}
