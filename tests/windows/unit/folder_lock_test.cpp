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

TEST(FolderLock, SecondRunWaitsUntilTheFirstLetsTheFolderGo) {
    const std::string folder = temporaryFolder();
    FolderLock first;
    lockFolder(folder, first);
    ASSERT_TRUE(first.held);

    testing::internal::CaptureStdout();
    std::atomic<bool> locked{false};
    FolderLock second;
    // The same folder by another name: its short form, no trailing backslash.
    std::thread waiting([&] {
        lockFolder(folder.substr(0, folder.size() - 1), second);
        locked = true;
    });
    Sleep(300);
    EXPECT_FALSE(locked) << "the second run did not wait";
    unlockFolder(first);
    waiting.join();
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(second.held);
    EXPECT_EQ(said, " Waiting for another run on folder " + folder.substr(0, folder.size() - 1) +
                        " to end \n");
    unlockFolder(second);
    RemoveDirectoryA(folder.c_str());
}

TEST(FolderLock, FolderOfARunThatEndedWithoutLettingGoIsFree) {
    // Windows gives an abandoned mutex to the next waiter.
    const std::string folder = temporaryFolder();
    FolderLock ended;
    std::thread run([&] { lockFolder(folder, ended); });
    run.join();  // the thread ends holding the mutex
    FolderLock next;
    testing::internal::CaptureStdout();
    lockFolder(folder, next);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(next.held);
    unlockFolder(next);
    CloseHandle(reinterpret_cast<HANDLE>(ended.handle));
    RemoveDirectoryA(folder.c_str());
}

}  // namespace
