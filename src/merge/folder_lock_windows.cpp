// The folder lock on Windows: a named mutex whose name is made from the
// folder's volume serial number and file index, so that every path the
// folder is reached by (a mapped drive, a short name, another letter case)
// names the same mutex. It is made in the global namespace, so that runs in
// other sessions (a scheduled task, another user) see it, with a security
// descriptor that lets every user wait for it. Windows releases the mutex
// of a process that ends, and the next waiter then owns it.
#include "folder_lock.h"

#include <windows.h>

#include <cstdio>

#include "file_identity.h"

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
