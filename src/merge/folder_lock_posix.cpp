// The folder lock on POSIX hosts: flock on a descriptor of the folder
// itself. Every name the folder is reached by locks the same folder, and
// the lock is released when the descriptor is closed, at the latest when
// the process ends.
#include "folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

void lockFolder(const std::string& ffFolder, FolderLock& lock) {
    lock = FolderLock{};
    const int folder = open(ffFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return;  // the listing reports a folder that cannot be opened
    }
    int locked = flock(folder, LOCK_EX | LOCK_NB);
    if (locked != 0 && errno == EWOULDBLOCK) {
        std::printf(" Waiting for another run on folder %s to end \n", ffFolder.c_str());
        std::fflush(stdout);
        do {
            locked = flock(folder, LOCK_EX);
        } while (locked != 0 && errno == EINTR);
    }
    if (locked != 0) {
        close(folder);  // no locks here: the run goes on as it would have
        return;
    }
    lock.handle = folder;
    lock.held = true;
}

void unlockFolder(FolderLock& lock) {
    if (lock.held) {
        close(static_cast<int>(lock.handle));
    }
    lock = FolderLock{};
}
