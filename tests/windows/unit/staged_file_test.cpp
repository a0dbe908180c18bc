// The merged file's staging by the detection log on Windows where other
// programs hold files open, as virus scanners, indexers and editors do: Wine keeps Windows'
// sharing rules, but no such program runs beside the tests, so this test
// holds the files itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

#include "detection_log.h"
#include "temporary_file.h"

namespace {

// A folder of its own for each test.
struct Folder {
    Folder() {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        path = std::string(base) + "kel-staged-" + std::to_string(GetCurrentProcessId()) + "-" +
               testing::UnitTest::GetInstance()->current_test_info()->name();
        CreateDirectoryA(path.c_str(), nullptr);
        // Held as a run holds its folder.
        handle = CreateFileA(path.c_str(), FILE_LIST_DIRECTORY,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    }
    ~Folder() {
        for (const std::string& file : {merged(), staging()}) {
            SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(file.c_str());
        }
        CloseHandle(handle);
        RemoveDirectoryA(path.c_str());
    }
    std::string merged() const { return path + "\\KELdetectinfo_0000_x.txt"; }
    // The run's temporary file: the computer's name and the process's number.
    std::string staging() const {
        char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
        DWORD length = sizeof name;
        GetComputerNameA(name, &length);
        std::string host;
        for (DWORD i = 0; i < length; ++i) {
            if (std::isalnum(static_cast<unsigned char>(name[i])) || name[i] == '-') {
                host += name[i];
            }
        }
        return path + "\\KELdetectinfo_0000_x." + host + "." +
               std::to_string(GetCurrentProcessId()) + ".tmp";
    }
    std::string path;
    HANDLE handle = INVALID_HANDLE_VALUE;
};

void writeText(const std::string& path, const char* text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs(text, file);
    std::fclose(file);
}

std::string readText(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return "<absent>";
    }
    char text[256] = {};
    const std::size_t length = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    return std::string(text, length);
}

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// What a merged file of no records begins with.
bool holdsNewHeader(const std::string& path) {
    return readText(path).rfind("Meteor Count = 000000\r\n", 0) == 0;
}

// What the log said of its last call in these tests.
LogNotes gNotes;
LogFailure gFailure;

bool openLog(const Folder& folder) {
    const LogPlace place{reinterpret_cast<std::intptr_t>(folder.handle), folder.path + "\\",
                         "KELdetectinfo_0000_x.txt", true};
    return openDetectionLog(place, "C:\\cal\\", gNotes, gFailure);
}

HANDLE holdOpen(const std::string& path, DWORD sharing) {
    return CreateFileA(path.c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(StagedFile, MergedFileHeldWithoutSharedWritingIsNotReplaced) {
    // A program that holds the merged file open and shares no writing
    // would have refused the merged file's creation in place. (A read-only
    // merged file is refused the same way on Windows; Wine lets root write
    // it, as Linux does, so that is not tested here.)
    Folder folder;
    writeText(folder.merged(), "earlier");
    HANDLE held = holdOpen(folder.merged(), FILE_SHARE_READ);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const bool created = openLog(folder);
    CloseHandle(held);
    EXPECT_FALSE(created);
    EXPECT_FALSE(gFailure.reason.empty());
    abandonDetectionLog(gFailure);
    EXPECT_EQ(readText(folder.merged()), "earlier");
    EXPECT_FALSE(exists(folder.staging()));
}

// A new merged file staged over an earlier one that a scanner then holds
// open, with reading and writing shared but not its removal.
HANDLE stageWhileHeld(const Folder& folder) {
    writeText(folder.merged(), "earlier");
    if (!openLog(folder)) {
        ADD_FAILURE() << gFailure.reason;
        return INVALID_HANDLE_VALUE;
    }
    return holdOpen(folder.merged(), FILE_SHARE_READ | FILE_SHARE_WRITE);
}

TEST(StagedFile, MoveWaitsWhileAnotherProgramHoldsTheMergedFile) {
    // The scanner lets go after half a second: the move is retried.
    Folder folder;
    HANDLE held = stageWhileHeld(folder);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::thread scanner([held] {
        Sleep(500);
        CloseHandle(held);
    });
    EXPECT_EQ(finishDetectionLog(0, gFailure), FinishResult::Finished) << gFailure.reason;
    scanner.join();
    EXPECT_TRUE(holdsNewHeader(folder.merged())) << readText(folder.merged());
    EXPECT_FALSE(exists(folder.staging()));
}

TEST(StagedFile, MoveGivesUpAfterTwoSecondsAndKeepsTheEarlierFile) {
    Folder folder;
    HANDLE held = stageWhileHeld(folder);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const DWORD start = GetTickCount();
    EXPECT_EQ(finishDetectionLog(0, gFailure), FinishResult::Failed);
    const DWORD waited = GetTickCount() - start;
    CloseHandle(held);
    EXPECT_GE(waited, 1900u);
    EXPECT_LT(waited, 5000u);
    EXPECT_FALSE(gFailure.reason.empty());
    EXPECT_EQ(readText(folder.merged()), "earlier");
    EXPECT_FALSE(exists(folder.staging()));
}

TEST(StagedFile, InterruptionRemovesTheStagingFileWhileItIsOpen) {
    // The console control handler runs on a thread of its own while the
    // staging file is open and being written.
    Folder folder;
    ASSERT_TRUE(openLog(folder)) << gFailure.reason;
    std::thread handler(removeTemporaryFilesNow);
    handler.join();
    // The process ends as the interruption would: its files are closed,
    // nothing else is done.
    _fcloseall();
    EXPECT_FALSE(exists(folder.staging()));
    EXPECT_FALSE(exists(folder.merged()));
}

}  // namespace
