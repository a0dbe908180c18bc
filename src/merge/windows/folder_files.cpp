// The FF folder and its files on Windows.
#include "folder_files.h"

#include <windows.h>
#include <aclapi.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "code_page_text.h"
#include "detection_file_names.h"
#include "host.h"
#include "read_problem.h"
#include "system_reason.h"

// The listing: the command interpreter's bare directory listing of the
// per-camera files, read from a pipe of the program's own making (never
// from a file that someone could replace), written to the listing file by
// the program, and kept in memory as the names the run merges.
//
// The command interpreter expands %NAME% in a command even inside double
// quotes, and "!NAME!" too where delayed expansion is switched on, so no
// folder path is written into the command: dir runs in the FF folder and
// lists the pattern there. The command interpreter does not run in a
// network folder (\\server\share\...): for those the paths reach it
// through a variable of the program's own, which it expands once and not
// again inside its value, with delayed expansion switched off. (Wine's
// cmd, unlike Windows', does expand %NAME% again inside a value.)

namespace {

// The names dir lists: those of the per-camera files, letter case aside.
const std::string kPattern =
    std::string(kDetectionFilePrefix) + "*" + std::string(kDetectionFileSuffix);
constexpr char kPatternVariable[] = "KEL_LISTING_PATTERN";

// The full form of a folder path: where a relative path, or one relative
// to a drive's current folder, stands now. The path itself when that
// cannot be found out.
std::string fullPath(const std::string& path) {
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? std::string(full, length) : path;
}

// Reads `pipe` to its end into `output`.
void readToEnd(HANDLE pipe, std::string& output) {
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        output.append(chunk, got);
    }
}

// Runs `command` in the command interpreter, without its AutoRun commands
// and with delayed expansion off, in `workingFolder` (empty: the program's
// own), its standard output into a pipe of this process's making, which
// is read to its end into `output`. Its other messages go where the
// program's go. False when it could not be started.
bool runCommandInterpreter(const std::string& command, const std::string& workingFolder,
                           std::string& output) {
    std::string interpreter;
    if (const char* comspec = std::getenv("COMSPEC"); comspec != nullptr && comspec[0] != '\0') {
        interpreter = comspec;
    } else {
        char systemFolder[MAX_PATH];
        const UINT length = GetSystemDirectoryA(systemFolder, MAX_PATH);
        interpreter = std::string(systemFolder, length < MAX_PATH ? length : 0) + "\\cmd.exe";
    }
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherited, 0)) {
        return false;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    std::string commandLine = "\"" + interpreter + "\" /d /v:off /c " + command;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const bool started =
        CreateProcessA(interpreter.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup,
                       &process) != FALSE;
    CloseHandle(writeEnd);  // the pipe ends when the interpreter's end closes
    if (started) {
        readToEnd(readEnd, output);
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(readEnd);
    return started;
}

// The name the listing is written under before it takes its own: this
// process's alone, no longer than the listing's own name (so that a path
// that fits for the listing fits for it), and no per-camera file's name.
std::string asideName() {
    char name[32];
    std::snprintf(name, sizeof name, "MergeListing_%08lx.tmp",
                  static_cast<unsigned long>(GetCurrentProcessId()));
    return name;
}

// Writes `bytes` to a file of `folder` made anew under the aside name,
// then moves it over `listingName`; 0, or the error code of the failure,
// after which the aside file is gone. A link under the listing's name is
// replaced, never written through.
DWORD writeListingFile(const std::string& folder, const std::string& listingName,
                       const std::string& bytes) {
    const std::string aside = folder + asideName();
    DeleteFileA(aside.c_str());  // a leftover of a killed run
    HANDLE file = CreateFileA(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    DWORD written = 0;
    DWORD error = 0;
    if (!bytes.empty() &&
        (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
         written != bytes.size())) {
        error = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
    }
    if (!CloseHandle(file) && error == 0) {
        error = GetLastError();
    }
    if (error == 0 &&
        !MoveFileExA(aside.c_str(), (folder + listingName).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        error = GetLastError();
    }
    if (error != 0) {
        DeleteFileA(aside.c_str());
    }
    return error;
}

// The names of the listing, one a line, empty lines aside.
std::vector<std::string> namesOf(const std::string& listing) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        end = end == std::string::npos ? listing.size() : end;
        std::string name = listing.substr(start, end - start);
        if (!name.empty() && name.back() == '\r') {
            name.pop_back();
        }
        if (!name.empty()) {
            names.push_back(std::move(name));
        }
        start = end + 1;
    }
    return names;
}

// The code page the command interpreter writes a redirected listing in:
// the console's output code page, or, for a program without a console,
// the OEM code page of the console the interpreter is given.
unsigned listingCodePage() {
    const UINT console = GetConsoleOutputCP();
    return console != 0 ? console : GetOEMCP();
}

}  // namespace

ListingResult writeFolderListing(const HeldFolder& /*held*/, const std::string& ffFolder,
                                 const std::string& listingName, std::vector<std::string>& names,
                                 long& /*namesLeftOut*/) {
    std::string folder = fullPath(ffFolder);
    if (folder.back() != '\\') {
        folder += '\\';
    }
    std::fflush(stdout);  // the banner before whatever the command prints
    std::string listing;
    bool ran = false;
    if (folder.rfind("\\\\", 0) != 0) {
        ran = runCommandInterpreter("dir /b \"" + kPattern + "\"", folder, listing);
    } else {
        const std::string pattern = folder + kPattern;
        if (!SetEnvironmentVariableA(kPatternVariable, pattern.c_str())) {
            std::printf(" Cannot list folder %s (%s) \n", shownText(ffFolder).c_str(),
                        systemReason(GetLastError()).c_str());
            return ListingResult::Refused;
        }
        ran = runCommandInterpreter(std::string("dir /b \"%") + kPatternVariable + "%\"",
                                    std::string(), listing);
        SetEnvironmentVariableA(kPatternVariable, nullptr);
    }
    if (!ran) {
        std::printf(" Cannot list folder %s (the command interpreter could not be started: %s) \n",
                    shownText(ffFolder).c_str(), systemReason(GetLastError()).c_str());
        return ListingResult::Refused;
    }
    const DWORD error = writeListingFile(folder, listingName, listing);
    if (error != 0) {
        std::printf(" Cannot write KELdetectinfo directory listing file %s (%s) \n",
                    shownText(ffFolder + listingName).c_str(), systemReason(error).c_str());
        return ListingResult::Unwritable;
    }
    names = namesOf(listing);
    return ListingResult::Written;
}

bool listedNameForHost(const std::string& ffFolder, std::string& name) {
    std::string converted;
    // A '?' stands where the command interpreter itself had no place for a
    // character of the name.
    if (!convertCodePage(name, listingCodePage(), GetACP(), converted) ||
        converted.find('?') != std::string::npos) {
        std::printf(" File %s has characters in its name that this program cannot use; "
                    "not merged \n",
                    shownText(ffFolder + converted).c_str());
        return false;
    }
    name = converted;
    const std::string path = ffFolder + name;
    const std::string problem = pathLengthProblem(path);
    if (!problem.empty()) {
        std::printf(" File %s cannot be opened: %s; not merged \n", shownText(path).c_str(),
                    problem.c_str());
        return false;
    }
    return true;
}

// File identity: the volume's serial number and the file's
// index on that volume.
namespace {

FileIdentity identityOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (handle == INVALID_HANDLE_VALUE || GetFileInformationByHandle(handle, &information) == 0) {
        return FileIdentity{};
    }
    FileIdentity identity;
    identity.volume = information.dwVolumeSerialNumber;
    identity.index = (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
    identity.known = true;
    return identity;
}

}  // namespace

FileIdentity identityOfPath(const std::string& path) {
    // No access is asked for, and every kind of sharing is granted, so that
    // a file open for writing elsewhere can still be looked at.
    HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    FileIdentity identity = identityOfHandle(handle);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
    }
    return identity;
}

// The folder lock: a named mutex whose name is made from the
// folder's volume serial number and file index, so that every path the
// folder is reached by (a mapped drive, a short name, another letter case)
// names the same mutex. It is made in the global namespace, so that runs in
// other sessions (a scheduled task, another user) see it, with a security
// descriptor that lets every user wait for it. Windows releases the mutex
// of a process that ends, and the next waiter then owns it.
namespace {

HANDLE createFolderMutex(const FileIdentity& folder) {
    char name[96];
    std::snprintf(name, sizeof name, "Global\\kel_combine_detectinfo-%016llx-%016llx",
                  static_cast<unsigned long long>(folder.volume),
                  static_cast<unsigned long long>(folder.index));
    SECURITY_DESCRIPTOR everyone;
    InitializeSecurityDescriptor(&everyone, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&everyone, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &everyone, FALSE};
    HANDLE mutex = CreateMutexA(&attributes, FALSE, name);
    if (mutex == nullptr) {
        // Where the global namespace is closed to this process, runs of the
        // same session at least do not meet.
        std::snprintf(name, sizeof name, "Local\\kel_combine_detectinfo-%016llx-%016llx",
                      static_cast<unsigned long long>(folder.volume),
                      static_cast<unsigned long long>(folder.index));
        mutex = CreateMutexA(&attributes, FALSE, name);
    }
    return mutex;
}

void sayWaiting(const std::string& ffFolder, bool& said) {
    if (!said) {
        std::printf(" Waiting for another run on folder %s to end \n", shownText(ffFolder).c_str());
        std::fflush(stdout);
        said = true;
    }
}

void sayLeft(const std::string& ffFolder) {
    std::printf(" Another run has held folder %s for %d s; this run leaves it (run again later) \n",
                shownText(ffFolder).c_str(), kLockWaitSeconds);
}

// A mutex is one computer's only. On a share (\\server\share, a mapped
// drive) the run also locks the lock file MergeLock_KELdetectinfo.lock in
// the folder with LockFileEx, which the server enforces for every client.
bool onShare(const std::string& ffFolder) {
    char volume[MAX_PATH] = {};
    return GetVolumePathNameA(ffFolder.c_str(), volume, MAX_PATH) &&
           GetDriveTypeA(volume) == DRIVE_REMOTE;
}

// The lock file's handle, locked, or null where there is none to be had
// (the mutex alone then holds) or, with `timedOut`, where another run
// held it until `deadline` (GetTickCount64).
HANDLE lockOnServer(const std::string& ffFolder, bool& said, ULONGLONG deadline, bool& timedOut) {
    HANDLE file = CreateFileA((ffFolder + "MergeLock_KELdetectinfo.lock").c_str(),
                              GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    for (;;) {
        OVERLAPPED range{};
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                       &range)) {
            return file;
        }
        if (GetLastError() != ERROR_LOCK_VIOLATION || GetTickCount64() >= deadline) {
            timedOut = GetLastError() == ERROR_LOCK_VIOLATION;
            CloseHandle(file);
            return nullptr;
        }
        sayWaiting(ffFolder, said);
        Sleep(100);
    }
}

}  // namespace

bool lockFolder(const HeldFolder& held, const std::string& ffFolder, FolderLock& lock) {
    lock = FolderLock{};
    const FileIdentity folder = held.held
                                    ? identityOfHandle(reinterpret_cast<HANDLE>(held.handle))
                                    : FileIdentity{};
    const ULONGLONG deadline = GetTickCount64() + kLockWaitSeconds * 1000ULL;
    HANDLE mutex = folder.known ? createFolderMutex(folder) : nullptr;
    bool said = false;
    DWORD waited = mutex == nullptr ? WAIT_FAILED : WaitForSingleObject(mutex, 0);
    if (waited == WAIT_TIMEOUT) {
        sayWaiting(ffFolder, said);
        waited = WaitForSingleObject(mutex, kLockWaitSeconds * 1000);
        if (waited == WAIT_TIMEOUT) {
            CloseHandle(mutex);
            sayLeft(ffFolder);
            return false;
        }
    }
    // WAIT_ABANDONED: the run that held it ended without letting it go.
    if (mutex != nullptr && waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(mutex);
        mutex = nullptr;
    }
    bool timedOut = false;
    HANDLE onServer = onShare(ffFolder) ? lockOnServer(ffFolder, said, deadline, timedOut) : nullptr;
    if (timedOut) {
        if (mutex != nullptr) {
            ReleaseMutex(mutex);
            CloseHandle(mutex);
        }
        sayLeft(ffFolder);
        return false;
    }
    if (mutex == nullptr && onServer == nullptr) {
        return true;  // no lock to be had: the run goes on as it would have
    }
    lock.handle = mutex == nullptr ? -1 : reinterpret_cast<std::intptr_t>(mutex);
    lock.onServer = onServer == nullptr ? -1 : reinterpret_cast<std::intptr_t>(onServer);
    lock.held = true;
    return true;
}

// Closing the lock file's handle lets its lock go.
void unlockFolder(FolderLock& lock) {
    if (lock.held && lock.handle != -1) {
        HANDLE mutex = reinterpret_cast<HANDLE>(lock.handle);
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    if (lock.held && lock.onServer != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(lock.onServer));
    }
    lock = FolderLock{};
}

// Links: a reparse point (a symbolic link, a junction) is followed only
// where its owner is the running user, the Administrators group or the
// system. Whether another user may read where that user's link leads
// cannot be told without that user's token: such a link is refused.
namespace {

bool trustedOwner(PSID owner) {
    if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
        IsWellKnownSid(owner, WinLocalSystemSid)) {
        return true;
    }
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    alignas(TOKEN_USER) char user[512];
    DWORD size = 0;
    const bool same = GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
                      EqualSid(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, owner);
    CloseHandle(token);
    return same;
}

// Whether the object open as `handle` is a reparse point.
bool isReparsePoint(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information{};
    return !GetFileInformationByHandle(handle, &information) ||
           (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Whether the object open as `handle` is a reparse point of another user;
// one whose owner cannot be told counts as another's.
bool isOthersLink(HANDLE handle) {
    if (!isReparsePoint(handle)) {
        return false;
    }
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return true;
    }
    const bool trusted = trustedOwner(owner);
    LocalFree(descriptor);
    return !trusted;
}

// Opens `path` without following a reparse point at its end, so that it
// can be looked at first.
HANDLE openUnfollowed(const std::string& path) {
    return CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                       nullptr);
}

}  // namespace

// The held folder: a handle opened without delete sharing, so that no one
// can rename, move or remove the folder while the run works in it; its
// path then names it for the whole run.
bool holdFolder(const std::string& ffFolder, HeldFolder& folder) {
    folder = HeldFolder{};
    std::string path = ffFolder;
    while (path.size() > 3 && path.back() == '\\') {
        path.pop_back();  // a trailing separator must not make a link be followed unlooked at
    }
    HANDLE look = openUnfollowed(path);
    if (look != INVALID_HANDLE_VALUE) {
        const bool refused = isOthersLink(look);
        CloseHandle(look);
        if (refused) {
            std::printf(" FF folder %s is another user's link; not followed \n",
                        shownText(ffFolder).c_str());
            return false;
        }
    }
    HANDLE handle = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        std::printf(" Cannot open FF folder %s (%s) \n", shownText(ffFolder).c_str(),
                    systemReason(GetLastError()).c_str());
        return false;
    }
    folder.handle = reinterpret_cast<std::intptr_t>(handle);
    folder.held = true;
    folder.path = ffFolder;
    return true;
}

void releaseFolder(HeldFolder& folder) {
    if (folder.held) {
        CloseHandle(reinterpret_cast<HANDLE>(folder.handle));
    }
    folder = HeldFolder{};
}

// Listed files: opening a name waits on nothing that can stand in a
// folder, but the open file is still checked to be a file on disk, and to
// be the file that was looked at, not a link put in its place since.
ListedFileOpen openListedFile(const HeldFolder& held, const std::string& name, std::FILE*& file,
                              FileIdentity& identity, int& error) {
    const std::string path = held.path + name;
    FileIdentity looked;
    HANDLE look = openUnfollowed(path);
    if (look != INVALID_HANDLE_VALUE) {
        const bool refused = isOthersLink(look);
        looked = isReparsePoint(look) ? FileIdentity{} : identityOfHandle(look);
        CloseHandle(look);
        if (refused) {
            return ListedFileOpen::Refused;
        }
    }
    errno = 0;
    file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = errno != 0 ? errno : EIO;
        return ListedFileOpen::Failed;
    }
    const HANDLE opened = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    identity = identityOfHandle(opened);
    ListedFileOpen result = ListedFileOpen::Opened;
    if (GetFileType(opened) != FILE_TYPE_DISK) {
        result = ListedFileOpen::NotAFile;
    } else if (looked.known && !sameFile(looked, identity)) {
        result = ListedFileOpen::Changed;
    }
    if (result != ListedFileOpen::Opened) {
        std::fclose(file);
        file = nullptr;
    }
    return result;
}

FileIdentity identityInFolder(const HeldFolder& folder, const std::string& name) {
    return identityOfPath(folder.path + name);
}
