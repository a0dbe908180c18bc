// The FF folder and its files on Windows.
#include "folder_files.h"

#include <windows.h>
#include <aclapi.h>
#include <io.h>
#include <sddl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "code_page_text.h"
#include "detection_file_names.h"
#include "host.h"
#include "log_file.h"

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

FolderNames listPerCameraFiles(const HeldFolder& held) {
    FolderNames found;
    const std::string& folder = held.path;  // whole, as the run made it
    std::string listing;
    bool ran = false;
    if (folder.rfind("\\\\", 0) != 0) {
        ran = runCommandInterpreter("dir /b \"" + kPattern + "\"", folder, listing);
    } else {
        const std::string pattern = folder + kPattern;
        if (!SetEnvironmentVariableA(kPatternVariable, pattern.c_str())) {
            found.reason = systemReason(static_cast<long>(GetLastError()));
            return found;
        }
        ran = runCommandInterpreter(std::string("dir /b \"%") + kPatternVariable + "%\"",
                                    std::string(), listing);
        SetEnvironmentVariableA(kPatternVariable, nullptr);
    }
    if (!ran) {
        found.reason = "the command interpreter could not be started: " + systemReason(static_cast<long>(GetLastError()));
        return found;
    }
    found.listed = true;
    found.toItsEnd = true;
    found.names = namesOf(listing);
    return found;
}

NameProblem listedNameForHost(const std::string& ffFolder, std::string& name, std::string& detail) {
    std::string converted;
    // A '?' stands where the command interpreter itself had no place for a
    // character of the name.
    const bool whole = convertCodePage(name, listingCodePage(), GetACP(), converted) &&
                       converted.find('?') == std::string::npos;
    name = converted;
    if (!whole) {
        return NameProblem::Characters;
    }
    detail = pathLengthProblem(ffFolder + name);
    return detail.empty() ? NameProblem::None : NameProblem::PathTooLong;
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

namespace {

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

}  // namespace

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

// Has the run say, once, that it waits for another.
struct LockWait {
    const HeldFolder& folder;
    void (*waiting)(const HeldFolder&);
    bool said = false;
};

void sayWaiting(LockWait& wait) {
    if (!wait.said) {
        wait.waiting(wait.folder);
        wait.said = true;
    }
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
HANDLE lockOnServer(LockWait& wait, ULONGLONG deadline, bool& timedOut) {
    HANDLE file = CreateFileA((wait.folder.path + kServerLockName).c_str(),
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
        sayWaiting(wait);
        Sleep(100);
    }
}

}  // namespace

LockOutcome lockFolder(const HeldFolder& held, FolderLock& lock,
                       void (*waiting)(const HeldFolder& folder)) {
    lock = FolderLock{};
    const FileIdentity folder = held.held
                                    ? identityOfHandle(reinterpret_cast<HANDLE>(held.handle))
                                    : FileIdentity{};
    const ULONGLONG deadline = GetTickCount64() + kLockWaitSeconds * 1000ULL;
    HANDLE mutex = folder.known ? createFolderMutex(folder) : nullptr;
    LockWait wait{held, waiting};
    DWORD waited = mutex == nullptr ? WAIT_FAILED : WaitForSingleObject(mutex, 0);
    if (waited == WAIT_TIMEOUT) {
        sayWaiting(wait);
        waited = WaitForSingleObject(mutex, kLockWaitSeconds * 1000);
        if (waited == WAIT_TIMEOUT) {
            CloseHandle(mutex);
            return LockOutcome::TimedOut;
        }
    }
    // WAIT_ABANDONED: the run that held it ended without letting it go.
    if (mutex != nullptr && waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(mutex);
        mutex = nullptr;
    }
    bool timedOut = false;
    HANDLE onServer = onShare(held.path) ? lockOnServer(wait, deadline, timedOut) : nullptr;
    if (timedOut) {
        if (mutex != nullptr) {
            ReleaseMutex(mutex);
            CloseHandle(mutex);
        }
        return LockOutcome::TimedOut;
    }
    if (mutex == nullptr && onServer == nullptr) {
        return LockOutcome::Locked;  // no lock to be had: the run goes on as it would have
    }
    lock.handle = mutex == nullptr ? -1 : reinterpret_cast<std::intptr_t>(mutex);
    lock.onServer = onServer == nullptr ? -1 : reinterpret_cast<std::intptr_t>(onServer);
    lock.held = true;
    return LockOutcome::Locked;
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
// system, on every step of the FF folder's path and for every listed
// file. Whether another user may read where that user's link leads
// cannot be asked of the system without that user's token, which a
// program cannot get without the user's password: such a link is refused.
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

// The account's name, DOMAIN\user, or its security identifier.
std::string accountName(PSID owner) {
    char name[256];
    char domain[256];
    DWORD nameSize = sizeof name;
    DWORD domainSize = sizeof domain;
    SID_NAME_USE use{};
    if (LookupAccountSidA(nullptr, owner, name, &nameSize, domain, &domainSize, &use)) {
        return domainSize > 0 ? std::string(domain) + "\\" + name : std::string(name);
    }
    LPSTR text = nullptr;
    std::string sid = "an unknown account";
    if (ConvertSidToStringSidA(owner, &text)) {
        sid = text;
        LocalFree(text);
    }
    return sid;
}

// Whether the object open as `handle` is a reparse point.
bool isReparsePoint(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information{};
    return !GetFileInformationByHandle(handle, &information) ||
           (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Whether the object open as `handle` is a reparse point of another user,
// whose name `owner` then gets; one whose owner cannot be told counts as
// another's.
bool isOthersLink(HANDLE handle, std::string& ownerName) {
    if (!isReparsePoint(handle)) {
        return false;
    }
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        ownerName = "an account that cannot be told";
        return true;
    }
    const bool trusted = trustedOwner(owner);
    ownerName = trusted ? std::string() : accountName(owner);
    LocalFree(descriptor);
    return !trusted;
}

// Opens `path` without following a reparse point at its end, so that it
// can be looked at first; with `hold`, without delete sharing, so that it
// can be neither renamed nor replaced while it is open.
HANDLE openUnfollowed(const std::string& path, bool hold = false) {
    return CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | (hold ? 0 : FILE_SHARE_DELETE),
                       nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Where the folders of `path` begin: after "D:\", after "\\server\share\",
// or at its start.
std::size_t rootLength(const std::string& path) {
    if (path.rfind("\\\\", 0) == 0) {
        const std::size_t share = path.find('\\', 2);
        const std::size_t end = share == std::string::npos ? share : path.find('\\', share + 1);
        return end == std::string::npos ? path.size() : end + 1;
    }
    return path.size() >= 3 && path[1] == ':' && path[2] == '\\' ? 3 : 0;
}

}  // namespace

// The held folder: each folder on its path, from the root down, is opened
// without following a reparse point and held without delete sharing until
// the next one is, so that none can be swapped for a link in between, and
// another user's reparse point anywhere on it is refused. The folder
// itself is then held without delete sharing, so that no one can rename,
// move or remove it, or a folder above it, while the run works in it; its
// path then names it for the whole run.
FolderHold holdFolder(const std::string& ffFolder, HeldFolder& folder) {
    folder = HeldFolder{};
    FolderHold hold;
    std::string path = ffFolder;
    while (path.size() > 3 && path.back() == '\\') {
        path.pop_back();  // a trailing separator must not make a link be followed unlooked at
    }
    HANDLE above = INVALID_HANDLE_VALUE;
    for (std::size_t end = rootLength(path); end < path.size();) {
        std::size_t next = path.find('\\', end);
        next = next == std::string::npos ? path.size() : next;
        const std::string step = path.substr(0, next);
        end = next + 1;
        HANDLE look = openUnfollowed(step, true);
        if (look == INVALID_HANDLE_VALUE) {
            look = openUnfollowed(step);  // held open by another: looked at all the same
        }
        std::string owner;
        if (look == INVALID_HANDLE_VALUE) {
            // Not to be opened at all: a reparse point there cannot be
            // weighed and is refused; any other step is left to the open of
            // the folder itself, which says why it cannot be reached.
            const DWORD attributes = GetFileAttributesA(step.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES ||
                (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                continue;
            }
            owner = "an account that cannot be told";
        }
        if (look == INVALID_HANDLE_VALUE || isOthersLink(look, owner)) {
            if (look != INVALID_HANDLE_VALUE) {
                CloseHandle(look);
            }
            if (above != INVALID_HANDLE_VALUE) {
                CloseHandle(above);
            }
            hold.outcome = FolderHold::Outcome::OthersLink;
            hold.link = step;
            hold.owner = owner;
            return hold;
        }
        if (above != INVALID_HANDLE_VALUE) {
            CloseHandle(above);
        }
        above = look;
    }
    HANDLE handle = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const DWORD error = GetLastError();
    if (above != INVALID_HANDLE_VALUE) {
        CloseHandle(above);
    }
    if (handle == INVALID_HANDLE_VALUE) {
        hold.reason = systemReason(static_cast<long>(error));
        return hold;
    }
    folder.handle = reinterpret_cast<std::intptr_t>(handle);
    folder.held = true;
    folder.path = ffFolder;
    folder.identity = identityOfHandle(handle);
    hold.outcome = FolderHold::Outcome::Held;
    return hold;
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
ListedFile openListedFile(const HeldFolder& held, const std::string& name) {
    ListedFile opened;
    const std::string path = held.path + name;
    FileIdentity looked;
    HANDLE look = openUnfollowed(path);
    if (look != INVALID_HANDLE_VALUE) {
        std::string owner;
        const bool refused = isOthersLink(look, owner);
        looked = isReparsePoint(look) ? FileIdentity{} : identityOfHandle(look);
        CloseHandle(look);
        if (refused) {
            opened.outcome = ListedFileOpen::Refused;
            return opened;
        }
    }
    errno = 0;
    opened.file = std::fopen(path.c_str(), "rb");
    if (opened.file == nullptr) {
        opened.error = errno != 0 ? errno : EIO;
        opened.outcome = ListedFileOpen::Failed;
        return opened;
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(opened.file)));
    opened.identity = identityOfHandle(handle);
    opened.outcome = ListedFileOpen::Opened;
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        opened.outcome = ListedFileOpen::NotAFile;
    } else if (looked.known && !sameFile(looked, opened.identity)) {
        opened.outcome = ListedFileOpen::Changed;
    }
    if (opened.outcome != ListedFileOpen::Opened) {
        std::fclose(opened.file);
        opened.file = nullptr;
    }
    return opened;
}

FileIdentity identityInFolder(const HeldFolder& folder, const std::string& name) {
    return identityOfPath(folder.path + name);
}

// The folders below: the held folder's entries that are folders and no
// reparse point, each searched by name until one of its names counts.
// Every entry read counts against the bound.
namespace {

bool holdsName(const std::string& folder, bool (*counts)(std::string_view), long& budget) {
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool holds = false;
    do {
        --budget;
        holds = counts(found.cFileName);
    } while (!holds && budget > 0 && FindNextFileA(search, &found) != 0);
    FindClose(search);
    return holds;
}

}  // namespace

long foldersBelowHolding(const HeldFolder& held, bool (*counts)(std::string_view name),
                         bool& complete) {
    long budget = kMostEntriesBelow;
    long holding = 0;
    std::string folder = held.path;
    while (folder.size() > 3 && folder.back() == '\\') {
        folder.pop_back();
    }
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    complete = true;
    if (search == INVALID_HANDLE_VALUE) {
        return 0;
    }
    do {
        --budget;
        const std::string name = found.cFileName;
        const DWORD attributes = found.dwFileAttributes;
        if (name != "." && name != ".." && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
            holdsName(folder + "\\" + name, counts, budget)) {
            ++holding;
        }
    } while (budget > 0 && FindNextFileA(search, &found) != 0);
    complete = budget > 0;
    FindClose(search);
    return holding;
}
