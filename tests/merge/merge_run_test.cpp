// The built program on real FF folders: what it writes, prints and returns.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "ff_folder.h"
#include "run_program.h"
#include "test_files.h"

namespace {


TEST(MergeRun, MergesEveryRecordOfEveryFileInListingOrder) {
    FfFolder ff;
    // CR LF, LF with odd spacing, and a zero frame rate with no segments.
    writeFile(ff.file("KELdetectinfo_0001_a.txt"),
              crlf(perCameraHeader(2) + perCameraRecord(1, 1, 2) + perCameraRecord(1, 2, 1)));
    writeFile(ff.file("KELdetectinfo_0002_b.txt"),
              perCameraHeader(1) + "\n  \t" + kSeparator + "  FF_c2_m1.fits\n\nCAL_c2.txt   \n" +
                  "2 1\n 1 25 10 5 1 3.5 100 200\n\n" +
                  "10 100.25 200.5 45 -10.5 180 30 1000\n");
    writeFile(ff.file("KELdetectinfo_0003_c.txt"),
              perCameraHeader(2) + perCameraRecord(3, 1, 0, "0000.00") + perCameraRecord(3, 2, 1, "-0"));
    // Records are written as they are, whatever camera the file name says.
    writeFile(ff.file("KELdetectinfo_0004_d.txt"), perCameraHeader(1) + perCameraRecord(7, 9, 0));

    RunResult run = runProgram(programPath(), {ff.path});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, kBanner + kDone + mergedLine(6, 4, ff.mergedPath()));
    const std::string expected =
        mergedHeader(6, ff.path + "/", ff.temp.path + "/HALD/Cal/") +
        crlf(kSeparator + "FF_c1_m1.fits                         \nCAL_c1.txt                 \n"
             "0001 0001 0002 0025.00 010.0 005.0 001.0 003.5 0100.0 0200.0\n"
             "0010.0 0100.25 0200.50 045.00 -10.50 180.00 030.00 001000\n"
             "0011.0 0100.25 0200.50 045.00 -10.50 180.00 030.00 001001\n" +
             kSeparator + "FF_c1_m2.fits                         \nCAL_c1.txt                 \n"
             "0001 0002 0001 0025.00 010.0 005.0 001.0 003.5 0100.0 0200.0\n"
             "0010.0 0100.25 0200.50 045.00 -10.50 180.00 030.00 001000\n" +
             kSeparator + "FF_c2_m1.fits                         \nCAL_c2.txt                 \n"
             "0002 0001 0001 0025.00 010.0 005.0 001.0 003.5 0100.0 0200.0\n"
             "0010.0 0100.25 0200.50 045.00 -10.50 180.00 030.00 001000\n" +
             kSeparator + "FF_c3_m1.fits                         \nCAL_c3.txt                 \n"
             "0003 0001 0000 0029.97 010.0 005.0 001.0 003.5 0100.0 0200.0\n" +
             kSeparator + "FF_c3_m2.fits                         \nCAL_c3.txt                 \n"
             "0003 0002 0001 0029.97 010.0 005.0 001.0 003.5 0100.0 0200.0\n"
             "0010.0 0100.25 0200.50 045.00 -10.50 180.00 030.00 001000\n" +
             kSeparator + "FF_c7_m9.fits                         \nCAL_c7.txt                 \n"
             "0007 0009 0000 0025.00 010.0 005.0 001.0 003.5 0100.0 0200.0\n");
    EXPECT_EQ(withoutTime(ff.merged()), expected);
    EXPECT_EQ(readFile(ff.file("MergeListing_KELdetectinfo.txt")),
              "KELdetectinfo_0001_a.txt\r\nKELdetectinfo_0002_b.txt\r\n"
              "KELdetectinfo_0003_c.txt\r\nKELdetectinfo_0004_d.txt\r\n");
}

TEST(MergeRun, EmptyFolderGivesTheHeaderOnly) {
    FfFolder ff;
    // The parent of a night's folder holds none of its files: the run says so.
    RunResult run = runProgram(programPath(), {ff.path + "/"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, kBanner + kDone + " No per-camera files (KELdetectinfo_<camera>_<text>.txt) in folder " +
                              ff.path + "/ \n" + mergedLine(0, 0, ff.mergedPath()));
    EXPECT_EQ(withoutTime(ff.merged()), mergedHeader(0, ff.path + "/", ff.temp.path + "/HALD/Cal/"));
    EXPECT_EQ(readFile(ff.file("MergeListing_KELdetectinfo.txt")), "");
}

TEST(MergeRun, EarlierMergedFileIsSkippedAndReplaced) {
    FfFolder ff;
    writeFile(ff.file("KELdetectinfo_0001_a.txt"), perCameraHeader(2) + perCameraRecord(1, 1, 1) + perCameraRecord(1, 2, 0));
    writeFile(ff.file("KELdetectinfo_0002_b.txt"), perCameraHeader(0));
    writeFile(ff.file("KELdetectinfo_0005_c.txt"), perCameraHeader(1) + perCameraRecord(5, 1, 3));
    ASSERT_EQ(runProgram(programPath(), {ff.path}).status, 0);
    const std::string first = withoutTime(ff.merged());
    EXPECT_EQ(first.substr(0, 23), "Meteor Count = 000003\r\n");

    RunResult again = runProgram(programPath(), {ff.path});
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(withoutTime(ff.merged()), first);
    EXPECT_NE(readFile(ff.file("MergeListing_KELdetectinfo.txt"))
                  .find("KELdetectinfo_0000_night1.txt\r\n"),
              std::string::npos);
}

TEST(MergeRun, ListedNamesWithoutCameraNumberAreReportedAndLeftOut) {
    FfFolder ff;
    writeFile(ff.file("KELdetectinfo_abc.txt"), perCameraHeader(1) + perCameraRecord(8, 1, 0));
    writeFile(ff.file("keldetectinfo_0001_lower.txt"), perCameraHeader(1) + perCameraRecord(8, 2, 0));
    writeFile(ff.file("KELdetectinfo_7.txt"), perCameraHeader(1) + perCameraRecord(7, 1, 0));
    writeFile(ff.file("KELdetectinfo_-000_x.txt"), perCameraHeader(1) + perCameraRecord(9, 9, 0));

    RunResult run = runProgram(programPath(), {ff.path});
    EXPECT_EQ(run.status, 2);
    for (const char* name : {"KELdetectinfo_abc.txt", "keldetectinfo_0001_lower.txt"}) {
        EXPECT_NE(run.output.find(" File " + ff.file(name) +
                                  " has no camera number in its name; not merged \n"),
                  std::string::npos)
            << run.output;
    }
    EXPECT_NE(run.output.find(kDone + mergedLine(1, 1, ff.mergedPath()) +
                              " Not merged in folder " + ff.path + "/: 0 damaged record(s); 2 listed file(s)"),
              std::string::npos)
        << run.output;
    const std::string merged = ff.merged();
    EXPECT_EQ(merged.substr(0, 23), "Meteor Count = 000001\r\n");
    EXPECT_NE(merged.find("FF_c7_m1"), std::string::npos);
    EXPECT_EQ(merged.find("FF_c8"), std::string::npos);
    EXPECT_EQ(merged.find("FF_c9"), std::string::npos);
}

TEST(MergeRun, NamesWithLineEndsAreLeftOutAndNamed) {
    // A line-based listing would split such a name over two lines.
    FfFolder ff;
    writeFile(ff.file("KELdetectinfo_0001_a.txt"), perCameraHeader(1) + perCameraRecord(1, 1, 0));
    writeFile(ff.file("KELdetectinfo_0002_a\nb.txt"), perCameraHeader(1) + perCameraRecord(2, 1, 0));
    writeFile(ff.file("KELdetectinfo_0003_c\r.txt"), perCameraHeader(1) + perCameraRecord(3, 1, 0));
    writeFile(ff.file("KELdetectinfo_0004_d.txt"), perCameraHeader(1) + perCameraRecord(4, 1, 0));
    RunResult run = runProgram(programPath(), {ff.path});
    EXPECT_EQ(run.status, 2);
    for (const char* shown : {"KELdetectinfo_0002_a\\x0Ab.txt", "KELdetectinfo_0003_c\\x0D.txt"}) {
        EXPECT_NE(run.output.find(" File " + ff.file(shown) +
                                  " has a line end in its name, which the listing cannot hold; "
                                  "not merged \n"),
                  std::string::npos)
            << run.output;
    }
    EXPECT_NE(run.output.find(" Not merged in folder " + ff.path + "/: 0 damaged record(s); 2 listed file(s)"),
              std::string::npos);
    EXPECT_EQ(readFile(ff.file("MergeListing_KELdetectinfo.txt")),
              "KELdetectinfo_0001_a.txt\r\nKELdetectinfo_0004_d.txt\r\n");
    EXPECT_EQ(ff.merged().substr(0, 23), "Meteor Count = 000002\r\n");
}

TEST(MergeRun, FolderThatCannotBeListedEndsTheRunBeforeTheMergedFile) {
    FfFolder ff;
    for (const std::string& folder : {ff.temp.path, ff.temp.path + "/HALD", ff.temp.path + "/HALD/ff"}) {
        chmod(folder.c_str(), 0755);
    }
    writeFile(ff.file("KELdetectinfo_0001_a.txt"), perCameraHeader(1) + perCameraRecord(1, 1, 0));
    chmod(ff.path.c_str(), 0333);  // names can be used, not read
    RunOptions options;
    options.unprivileged = true;
    RunResult run = runProgram(programPath(), {ff.path}, options);
    chmod(ff.path.c_str(), 0755);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, kBanner + " Cannot list folder " + ff.path + "/ (Permission denied) \n");
    EXPECT_FALSE(fileExists(ff.file("KELdetectinfo_0000_night1.txt")));
}

TEST(MergeRun, LinksToTheMergedFileAreNotRead) {
    // Links to the merged file of an earlier run, which this run replaces,
    // and to the new one it writes under its staging name, here left by a
    // run that was killed: reading them would feed the run its own output.
    FfFolder ff;
    writeFile(ff.mergedPath(), perCameraHeader(1) + perCameraRecord(9, 9, 0));
    writeFile(ff.stagingPath(), perCameraHeader(1) + perCameraRecord(8, 8, 0));
    writeFile(ff.file("KELdetectinfo_0001_a.txt"), perCameraHeader(1) + perCameraRecord(1, 1, 0));
    ASSERT_EQ(symlink("KELdetectinfo_0000_night1.txt", ff.file("KELdetectinfo_0005_sym.txt").c_str()), 0);
    ASSERT_EQ(link(ff.mergedPath().c_str(), ff.file("KELdetectinfo_0006_hard.txt").c_str()), 0);
    ASSERT_EQ(symlink("KELdetectinfo_0000_night1.tmp", ff.file("KELdetectinfo_0007_new.txt").c_str()), 0);
    RunResult run = runProgram(programPath(), {ff.path});
    EXPECT_EQ(run.status, 2);
    std::string named;
    for (const char* link : {"KELdetectinfo_0005_sym.txt", "KELdetectinfo_0006_hard.txt",
                             "KELdetectinfo_0007_new.txt"}) {
        named += " File " + ff.file(link) +
                 " is this run's merged file under another name; not read \n";
    }
    EXPECT_EQ(run.output, kBanner + named + kDone + mergedLine(1, 1, ff.mergedPath()) +
                              notMergedLine(ff.path + "/", 0, 3));
    EXPECT_EQ(ff.merged().substr(0, 23), "Meteor Count = 000001\r\n");
    EXPECT_EQ(ff.merged().find("FF_c9"), std::string::npos);
    EXPECT_EQ(ff.merged().find("FF_c8"), std::string::npos);
}

TEST(MergeRun, CameraNumberIsReadFromAtMostFourCharacters) {
    // "00005" is camera 0000, a merged file; "12345" is camera 1234.
    FfFolder ff;
    writeFile(ff.file("KELdetectinfo_00005_five.txt"), perCameraHeader(1) + perCameraRecord(5, 1, 0));
    writeFile(ff.file("KELdetectinfo_12345_wide.txt"), perCameraHeader(1) + perCameraRecord(1, 1, 0));
    RunResult run = runProgram(programPath(), {ff.path});
    EXPECT_EQ(run.status, 0) << run.output;
    const std::string merged = ff.merged();
    EXPECT_EQ(merged.substr(0, 23), "Meteor Count = 000001\r\n");
    EXPECT_NE(merged.find("FF_c1_m1"), std::string::npos);
    EXPECT_EQ(merged.find("FF_c5_m1"), std::string::npos);
}

TEST(MergeRun, OnlyCameraZeroIsSkippedWhateverItsSign) {
    // "-001" is camera -1, merged like any other; "0000" and "-000" are
    // both camera 0, the mark of a merged file.
    FfFolder ff;
    writeFile(ff.file("KELdetectinfo_-001_neg.txt"), perCameraHeader(1) + perCameraRecord(7, 1, 0));
    writeFile(ff.file("KELdetectinfo_0000_old.txt"), perCameraHeader(1) + perCameraRecord(8, 1, 0));
    writeFile(ff.file("KELdetectinfo_-000_old.txt"), perCameraHeader(1) + perCameraRecord(9, 1, 0));
    RunResult run = runProgram(programPath(), {ff.path});
    EXPECT_EQ(run.status, 0) << run.output;
    const std::string merged = ff.merged();
    EXPECT_EQ(merged.substr(0, 23), "Meteor Count = 000001\r\n");
    EXPECT_NE(merged.find("FF_c7_m1"), std::string::npos);
    EXPECT_EQ(merged.find("FF_c8_m1"), std::string::npos);
    EXPECT_EQ(merged.find("FF_c9_m1"), std::string::npos);
}

TEST(MergeRun, ArgumentThatNamesNoFolderIsRefusedBeforeAnythingIsWritten) {
    // A mistyped folder, and a per-camera file given in place of its folder.
    FfFolder ff;
    writeFile(ff.file("KELdetectinfo_0001_a.txt"), perCameraHeader(1) + perCameraRecord(1, 1, 1));
    RunResult missing = runProgram(programPath(), {ff.path + "/none"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.output, kBanner + " FF folder " + ff.path + "/none does not exist \n");

    RunResult file = runProgram(programPath(), {ff.file("KELdetectinfo_0001_a.txt")});
    EXPECT_EQ(file.status, 1);
    EXPECT_EQ(file.output, kBanner + " " + ff.file("KELdetectinfo_0001_a.txt") + " is not a folder \n");
    EXPECT_FALSE(fileExists(ff.file("MergeListing_KELdetectinfo.txt")));
    EXPECT_FALSE(fileExists(ff.mergedPath()));
}

TEST(MergeRun, EmptyFolderArgumentIsRefused) {
    // An empty path would otherwise become the file-system root.
    TempFolder temp;
    RunOptions options;
    options.workingFolder = temp.path;
    RunResult run = runProgram(programPath(), {""}, options);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, kBanner + " No FF folder given \n");
    EXPECT_FALSE(fileExists("/KELdetectinfo_0000_.txt"));
    EXPECT_FALSE(fileExists(temp.path + "/MergeListing_KELdetectinfo.txt"));
}

TEST(MergeRun, FileBeyondTheRecordCapIsCutAndReported) {
    FfFolder ff;
    std::string atCap = perCameraHeader(0);
    const std::string one = perCameraRecord(1, 1, 0);
    atCap.reserve(atCap.size() + 100000 * one.size());
    for (int i = 0; i < 99999; ++i) {
        atCap += one;
    }
    writeFile(ff.file("KELdetectinfo_0001_a.txt"), atCap);
    RunResult whole = runProgram(programPath(), {ff.path});
    EXPECT_EQ(whole.status, 0);
    EXPECT_EQ(whole.output, kBanner + kDone + mergedLine(99999, 1, ff.mergedPath()));
    EXPECT_EQ(ff.merged().substr(0, 23), "Meteor Count = 099999\r\n");

    // A separator alone after the last record begins no further record.
    writeFile(ff.file("KELdetectinfo_0001_a.txt"), atCap + kSeparator + "\n  \n");
    RunResult closed = runProgram(programPath(), {ff.path});
    EXPECT_EQ(closed.status, 0);
    EXPECT_EQ(closed.output, kBanner + kDone + mergedLine(99999, 1, ff.mergedPath()));

    writeFile(ff.file("KELdetectinfo_0001_a.txt"), atCap + perCameraRecord(1, 2, 0));
    writeFile(ff.file("KELdetectinfo_0002_b.txt"), perCameraHeader(1) + perCameraRecord(2, 1, 0));
    RunResult cut = runProgram(programPath(), {ff.path});
    EXPECT_EQ(cut.status, 2);
    EXPECT_EQ(cut.output, kBanner + " File " + ff.file("KELdetectinfo_0001_a.txt") +
                              " holds more than 99999 records; the rest of it was not merged \n" +
                              kDone + mergedLine(100000, 2, ff.mergedPath()) +
                              notMergedLine(ff.path + "/", 0, 1));
    const std::string merged = ff.merged();
    EXPECT_EQ(merged.substr(0, 23), "Meteor Count = 100000\r\n");
    EXPECT_EQ(merged.find("FF_c1_m2"), std::string::npos);
    EXPECT_NE(merged.find("FF_c2_m1"), std::string::npos);
}

}  // namespace
