// Per-camera files that cannot be read as detection-info files at all: a
// huge file without line ends, and a file whose reading fails in its
// header. The run reports each, keeps what the other files gave, and ends
// with status 2.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "run_program.h"
#include "test_files.h"

namespace {

// An FF folder with a sound file before and after the one under test.
struct FolderAround {
    TempFolder temp;
    std::string path = temp.path + "/HALD/ff/night1";
    std::string tested = path + "/KELdetectinfo_0002_tested.txt";
    FolderAround() {
        makeFolders(path);
        writeFile(path + "/KELdetectinfo_0001_a.txt", perCameraHeader(1) + perCameraRecord(1, 1, 2));
        writeFile(path + "/KELdetectinfo_0003_c.txt", perCameraHeader(1) + perCameraRecord(3, 1, 2));
    }
    // The merged file holds both sound records, and its count says so.
    void expectSoundRecordsMerged() const {
        const std::string merged = readFile(path + "/KELdetectinfo_0000_night1.txt");
        EXPECT_EQ(merged.substr(0, 23), "Meteor Count = 000002\r\n");
        EXPECT_NE(merged.find("FF_c1_m1"), std::string::npos);
        EXPECT_NE(merged.find("FF_c3_m1"), std::string::npos);
    }
};

TEST(ReadingFaults, FileWithoutLineEndsIsRefusedInBoundedMemory) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer reserves far more address space than the limit";
#endif
    // 400 MB of NUL bytes, as a broken capture leaves them, read within an
    // address space of 100 MB.
    FolderAround ff;
    writeFile(ff.tested, "");
    std::filesystem::resize_file(ff.tested, 400LL * 1024 * 1024);
    RunOptions options;
    options.addressSpaceLimit = 100LL * 1024 * 1024;
    RunResult run = runProgram(programPath(), {ff.path}, options);
    EXPECT_EQ(run.status, 2) << run.output;
    EXPECT_EQ(run.output, kBanner + " Damaged header in file " + ff.tested +
                              " at line 1: the line is longer than 262144 bytes; no records "
                              "merged from it \n" +
                              kDone + mergedLine(2, 2, ff.path + "/KELdetectinfo_0000_night1.txt") +
                              notMergedLine(ff.path + "/", 0, 1));
    ff.expectSoundRecordsMerged();
}

TEST(ReadingFaults, ReadErrorInsideTheHeaderIsReportedAsAReadError) {
    // Reading /proc/self/mem from its start fails with EIO.
    FolderAround ff;
    ASSERT_EQ(symlink("/proc/self/mem", ff.tested.c_str()), 0);
    RunResult run = runProgram(programPath(), {ff.path});
    EXPECT_EQ(run.status, 2) << run.output;
    EXPECT_EQ(run.output, kBanner + " Cannot read file " + ff.tested +
                              " at line 1 (read error: Input/output error); the rest of it was "
                              "not merged \n" +
                              kDone + mergedLine(2, 2, ff.path + "/KELdetectinfo_0000_night1.txt") +
                              notMergedLine(ff.path + "/", 0, 1));
    ff.expectSoundRecordsMerged();
}

}  // namespace
