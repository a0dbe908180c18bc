// The folder lock on Windows, a named mutex: a second run on the folder,
// here a second thread, waits until the first lets the folder go or ends.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "folder_files.h"

namespace {

std::string temporaryFolder() {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    const std::string folder = std::string(base) + "kel-lock-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder + "\\";
}

// The folders a lock was waited for, one a line, as the run is told of them.
std::string gWaitedFor;

void noteWaiting(const HeldFolder& folder) {
    gWaitedFor += folder.path + "\n";
}

// Holds `folder` and takes its lock, as a run does.
bool holdAndLock(const std::string& folder, HeldFolder& held, FolderLock& lock) {
    return holdFolder(folder, held).outcome == FolderHold::Outcome::Held &&
           lockFolder(held, lock, noteWaiting) == LockOutcome::Locked;
}

TEST(FolderLock, SecondRunWaitsUntilTheFirstLetsTheFolderGo) {
    const std::string folder = temporaryFolder();
    HeldFolder firstFolder;
    FolderLock first;
    ASSERT_TRUE(holdAndLock(folder, firstFolder, first));
    ASSERT_TRUE(first.held);

    gWaitedFor.clear();
    std::atomic<bool> locked{false};
    HeldFolder secondFolder;
    FolderLock second;
    // The same folder by another name: its short form, no trailing backslash.
    std::thread waiting([&] {
        holdAndLock(folder.substr(0, folder.size() - 1), secondFolder, second);
        locked = true;
    });
    Sleep(300);
    EXPECT_FALSE(locked) << "the second run did not wait";
    unlockFolder(first);
    waiting.join();
    EXPECT_TRUE(second.held);
    EXPECT_EQ(gWaitedFor, folder.substr(0, folder.size() - 1) + "\n") << "not said once";
    unlockFolder(second);
    releaseFolder(secondFolder);
    releaseFolder(firstFolder);
    RemoveDirectoryA(folder.c_str());
}

TEST(FolderLock, FolderOfARunThatEndedWithoutLettingGoIsFree) {
    // Windows gives an abandoned mutex to the next waiter.
    const std::string folder = temporaryFolder();
    HeldFolder endedFolder;
    FolderLock ended;
    std::thread run([&] { holdAndLock(folder, endedFolder, ended); });
    run.join();  // the thread ends holding the mutex
    HeldFolder nextFolder;
    FolderLock next;
    EXPECT_TRUE(holdAndLock(folder, nextFolder, next));
    EXPECT_TRUE(next.held);
    unlockFolder(next);
    releaseFolder(nextFolder);
    CloseHandle(reinterpret_cast<HANDLE>(ended.handle));
    releaseFolder(endedFolder);
    RemoveDirectoryA(folder.c_str());
}

}  // namespace
