// The Windows program's merged file when a run is cut short under Wine:
// killed outright, interrupted by Ctrl-C, or started with its standard
// output closed. The merged file's name keeps the earlier file or gets the
// new complete one.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "run_program.h"
#include "test_files.h"
#include "wine_program.h"

namespace {

const std::string kEarlier = "Meteor Count = 000001\r\nthe merged file of an earlier run\r\n";

// An FF folder of four per-camera files, about 24 MB in all: large enough
// that a run under Wine takes a second, so that it can be cut short.
struct LargeFolder {
    TempFolder temp;
    std::string path = temp.path + "/HALD/ff/night1";
    std::string merged = path + "/KELdetectinfo_0000_night1.txt";
    LargeFolder() {
        makeFolders(path);
        for (int camera = 1; camera <= 4; ++camera) {
            std::string text = perCameraHeader(0);
            for (int meteor = 1; meteor <= 12000; ++meteor) {
                text += perCameraRecord(camera, meteor, 2);
            }
            writeFile(path + "/KELdetectinfo_000" + std::to_string(camera) + "_x.txt", text);
        }
        writeFile(merged, kEarlier);
    }
    // True when a run's temporary merged file
    // (KELdetectinfo_0000_night1.<computer>.<process>.tmp) is in the folder.
    bool stagingThere() const {
        for (const auto& entry : std::filesystem::directory_iterator(path)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("KELdetectinfo_0000_night1.", 0) == 0 &&
                name.compare(name.size() - 4, 4, ".tmp") == 0) {
                return true;
            }
        }
        return false;
    }
};

// Starts the program on `ff` under Wine and sends `signalNumber` to it once
// its staging file is there. False when the run ended before that.
bool cutShort(const LargeFolder& ff, int signalNumber) {
    StartedProgram started = startWindowsProgram({windowsPath(ff.path)});
    bool caught = false;
    for (int waited = 0; waited < 30000 && !caught; ++waited) {
        if (ff.stagingThere()) {
            caught = kill(started.pid, signalNumber) == 0;
        } else if (!stillRunningAfter(started, 1)) {
            break;
        }
    }
    finishProgram(started);
    return caught;
}

TEST(WindowsMergedFile, KilledProcessLeavesTheEarlierFileAndTheNextRunTheNewOne) {
    LargeFolder ff;
    ASSERT_TRUE(cutShort(ff, SIGKILL)) << "the run ended before it could be killed";
    EXPECT_EQ(readFile(ff.merged), kEarlier);

    // The staging file a killed process leaves is removed by the next run.
    RunResult next = runWindowsProgram({windowsPath(ff.path)});
    EXPECT_EQ(next.status, 0);
    EXPECT_EQ(line(readFile(ff.merged), 1), "Meteor Count = 048000");
    EXPECT_FALSE(ff.stagingThere());
}

TEST(WindowsMergedFile, CtrlCRemovesTheStagingFile) {
    // Wine hands SIGINT to a console program as Ctrl-C.
    LargeFolder ff;
    ASSERT_TRUE(cutShort(ff, SIGINT)) << "the run ended before it could be interrupted";
    EXPECT_EQ(readFile(ff.merged), kEarlier);
    EXPECT_FALSE(ff.stagingThere());
}

TEST(WindowsMergedFile, TwoRunsAtOnceLeaveOneRunsMergedFile) {
    // The second starts while the first writes its merged file; it waits
    // for the first, or, should the first end during the second's start,
    // runs after it. The wait itself is tested directly in the unit tests.
    LargeFolder ff;
    StartedProgram first = startWindowsProgram({windowsPath(ff.path)});
    for (int waited = 0; waited < 30000 && !ff.stagingThere(); ++waited) {
        stillRunningAfter(first, 1);
    }
    ASSERT_TRUE(ff.stagingThere()) << "the first run ended before the second could start";
    RunResult second = runWindowsProgram({windowsPath(ff.path)});
    RunResult firstRun = finishProgram(first);
    EXPECT_EQ(firstRun.status, 0) << firstRun.output;
    EXPECT_EQ(second.status, 0) << second.output;
    const std::string merged = readFile(ff.merged);
    EXPECT_EQ(line(merged, 1), "Meteor Count = 048000");
    EXPECT_EQ(merged.size(), std::filesystem::file_size(ff.merged));
    EXPECT_EQ(std::count(merged.begin(), merged.end(), '\n'), 11 + 48000 * 6);
    EXPECT_FALSE(ff.stagingThere());
}

TEST(WindowsMergedFile, ClosedStandardOutputLeavesTheMergedFileWhole) {
    TempFolder temp;
    const std::string ff = temp.path + "/HALD/ff/night1";
    copyExample(ff);
    RunResult run = runProgram("/bin/bash",
                               {"-c", "exec \"$0\" \"$1\" \"$2\" >&-", KEL_WINE, KEL_WINDOWS_PROGRAM,
                                windowsPath(ff)},
                               underWine());
    EXPECT_EQ(run.status, 0);
    const std::string merged = readFile(ff + "/KELdetectinfo_0000_night1.txt");
    EXPECT_EQ(line(merged, 1), "Meteor Count = 000006");
    EXPECT_EQ(merged.find("KEL Combine Detectinfo"), std::string::npos);
}

TEST(WindowsMergedFile, ProgramImportsTheFlushAndReplaceCalls) {
    // What Wine cannot show: that the program asks Windows itself to flush
    // the file to disk, to move it over the merged file with write-through,
    // and to run a handler on Ctrl-C and a closed console window.
    std::FILE* dump =
        popen("x86_64-w64-mingw32-objdump -p '" KEL_WINDOWS_PROGRAM "' 2>&1", "r");
    ASSERT_NE(dump, nullptr);
    std::string imports;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, dump)) > 0;) {
        imports.append(chunk, n);
    }
    EXPECT_EQ(pclose(dump), 0) << imports.substr(0, 500);
    for (const char* call : {"FlushFileBuffers", "MoveFileExA", "SetConsoleCtrlHandler"}) {
        EXPECT_NE(imports.find(call), std::string::npos) << call;
    }
}

}  // namespace
