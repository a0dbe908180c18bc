// The FF folder and its files on Windows.
#include "folder_files.h"

#include <windows.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "code_page_text.h"
#include "detection_file_names.h"
#include "host.h"
#include "system_reason.h"

// The listing: the command interpreter's bare directory listing
// of the per-camera files, redirected into the listing file; the run waits
// for it. Its success shows only in the listing file it leaves.
//
// The command interpreter expands %NAME% in a command even inside double
// quotes, and "!NAME!" too where delayed expansion is switched on, so no
// folder path is written into the command: dir runs in the FF folder and
// lists the pattern there. The command interpreter does not run in a
// network folder (\\server\share\...): for those the paths reach it
// through variables of the program's own, which it expands once and not
// again inside their values, with delayed expansion switched off. (Wine's
// cmd, unlike Windows', does expand %NAME% again inside a value.)

namespace {

// The names dir lists: those of the per-camera files, letter case aside.
const std::string kPattern =
    std::string(kDetectionFilePrefix) + "*" + std::string(kDetectionFileSuffix);
constexpr char kPatternVariable[] = "KEL_LISTING_PATTERN";
constexpr char kListingVariable[] = "KEL_LISTING_FILE";

// Removes the listing of an earlier run, so that a command interpreter that
// cannot start shows as a missing listing, never as an old one read again.
// False, after a message, when one is there and stays (read-only, held
// open by another program, no permission).
bool removeEarlierListing(const std::string& listingPath) {
    std::string reason;
    if (!DeleteFileA(listingPath.c_str())) {
        reason = systemReason(GetLastError());
    }
    // Whether it is gone is asked again: a removal can be accepted and yet
    // leave the file (one held open by another program stays until it is
    // closed; under Wine, one that Linux keeps immutable stays for good).
    if (GetFileAttributesA(listingPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (reason.empty()) {
            reason = "still there after its removal";
        }
    } else {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            // Gone, or never there; a folder that is not there is reported
            // by the failure to create the merged file in it.
            return true;
        }
        if (reason.empty()) {
            reason = systemReason(error);
        }
    }
    std::printf(" Cannot remove the earlier KELdetectinfo directory listing file %s (%s) \n",
                listingPath.c_str(), reason.c_str());
    return false;
}

// The full form of a folder path: where a relative path, or one relative
// to a drive's current folder, stands now. The path itself when that
// cannot be found out.
std::string fullPath(const std::string& path) {
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? std::string(full, length) : path;
}

// Runs `command` in the command interpreter, without its AutoRun commands
// and with delayed expansion off, in `workingFolder` (empty: the program's
// own), and waits for it to end. Its messages go where the program's go.
// False when it could not be started.
bool runCommandInterpreter(const std::string& command, const std::string& workingFolder) {
    std::string interpreter;
    if (const char* comspec = std::getenv("COMSPEC"); comspec != nullptr && comspec[0] != '\0') {
        interpreter = comspec;
    } else {
        char systemFolder[MAX_PATH];
        const UINT length = GetSystemDirectoryA(systemFolder, MAX_PATH);
        interpreter = std::string(systemFolder, length < MAX_PATH ? length : 0) + "\\cmd.exe";
    }
    std::string commandLine = "\"" + interpreter + "\" /d /v:off /c " + command;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(interpreter.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                        nullptr, workingFolder.empty() ? nullptr : workingFolder.c_str(),
                        &startup, &process)) {
        return false;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// The code page the command interpreter writes a redirected listing in:
// the console's output code page, or, for a program without a console,
// the OEM code page of the console the interpreter is given.
unsigned listingCodePage() {
    const UINT console = GetConsoleOutputCP();
    return console != 0 ? console : GetOEMCP();
}

}  // namespace

ListingResult writeFolderListing(const std::string& ffFolder, const std::string& listingPath,
                                 long& /*namesLeftOut*/) {
    if (!removeEarlierListing(listingPath)) {
        return ListingResult::Refused;
    }
    std::string folder = fullPath(ffFolder);
    if (folder.back() != '\\') {
        folder += '\\';
    }
    const std::string listingName = listingPath.substr(listingPath.rfind('\\') + 1);
    std::fflush(stdout);  // the banner before whatever the command prints
    bool ran = false;
    if (folder.rfind("\\\\", 0) != 0) {
        ran = runCommandInterpreter("dir /b \"" + kPattern + "\" > \"" + listingName +
                                        "\"",
                                    folder);
    } else {
        const std::string pattern = folder + kPattern;
        const std::string listing = folder + listingName;
        if (!SetEnvironmentVariableA(kPatternVariable, pattern.c_str()) ||
            !SetEnvironmentVariableA(kListingVariable, listing.c_str())) {
            std::printf(" Cannot list folder %s (%s) \n", ffFolder.c_str(),
                        systemReason(GetLastError()).c_str());
            return ListingResult::Refused;
        }
        ran = runCommandInterpreter(std::string("dir /b \"%") + kPatternVariable + "%\" > \"%" +
                                        kListingVariable + "%\"",
                                    std::string());
        SetEnvironmentVariableA(kPatternVariable, nullptr);
        SetEnvironmentVariableA(kListingVariable, nullptr);
    }
    return ran ? ListingResult::Written : ListingResult::NotWritten;
}

bool listedNameForHost(const std::string& ffFolder, std::string& name) {
    std::string converted;
    // A '?' stands where the command interpreter itself had no place for a
    // character of the name.
    if (!convertCodePage(name, listingCodePage(), GetACP(), converted) ||
        converted.find('?') != std::string::npos) {
        std::printf(" File %s has characters in its name that this program cannot use; "
                    "not merged \n",
                    (ffFolder + converted).c_str());
        return false;
    }
    name = converted;
    const std::string path = ffFolder + name;
    const std::string problem = pathLengthProblem(path);
    if (!problem.empty()) {
        std::printf(" File %s cannot be opened: %s; not merged \n", path.c_str(), problem.c_str());
        return false;
    }
    return true;
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

}  // namespace

void lockFolder(const std::string& ffFolder, FolderLock& lock) {
    lock = FolderLock{};
    const FileIdentity folder = identityOfPath(ffFolder);
    HANDLE mutex = folder.known ? createFolderMutex(folder) : nullptr;
    if (mutex == nullptr) {
        return;  // no lock to be had: the run goes on as it would have
    }
    DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited == WAIT_TIMEOUT) {
        std::printf(" Waiting for another run on folder %s to end \n", ffFolder.c_str());
        std::fflush(stdout);
        waited = WaitForSingleObject(mutex, INFINITE);
    }
    // WAIT_ABANDONED: the run that held it ended without letting it go.
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return;
    }
    lock.handle = reinterpret_cast<std::intptr_t>(mutex);
    lock.held = true;
}

void unlockFolder(FolderLock& lock) {
    if (lock.held) {
        HANDLE mutex = reinterpret_cast<HANDLE>(lock.handle);
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    lock = FolderLock{};
}

// Listed files: opening a name waits on nothing that can stand
// in a folder, but the open file is still checked to be a file on disk.
ListedFileOpen openListedFile(const std::string& path, std::FILE*& file, int& error) {
    errno = 0;
    file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = errno != 0 ? errno : EIO;
        return ListedFileOpen::Failed;
    }
    if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != FILE_TYPE_DISK) {
        std::fclose(file);
        file = nullptr;
        return ListedFileOpen::NotAFile;
    }
    return ListedFileOpen::Opened;
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

FileIdentity identityOfOpenFile(std::FILE* file) {
    return identityOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));
}
