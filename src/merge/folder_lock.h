// One run at a time per FF folder. A run holds the lock on its folder from
// before the listing is written until the merged file has its name, so
// that the listing and the merged file are always those of one run. A
// second run waits for the first to end, saying so once. The lock is the
// platform's own and leaves no file behind; it goes with the process, so a
// run that is killed does not keep others waiting.
#pragma once

#include <cstdint>
#include <string>

struct FolderLock {
    std::intptr_t handle = -1;  // the descriptor or handle the lock is held by
    bool held = false;
};

// Takes the lock on `ffFolder`, waiting while another run holds it. Where
// the folder cannot be locked (a file system without locks), the run goes
// on without the lock, and nothing is said.
void lockFolder(const std::string& ffFolder, FolderLock& lock);

// Lets the next run have the folder.
void unlockFolder(FolderLock& lock);
