// What only the Windows program does: backslash paths in the header, paths
// typed with '/', the command interpreter's listing, drive roots, relative
// paths, paths longer than Windows opens, and the folder dialog failing
// without a display.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "run_program.h"
#include "test_files.h"
#include "wine_program.h"

namespace {

// Everything after header line 3, which holds the time of the run.
std::string afterTime(const std::string& text) {
    std::size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        at = text.find('\n', at) + 1;
    }
    return text.substr(at);
}

TEST(WindowsPaths, HeaderShowsBackslashPathsHoweverTheFolderWasTyped) {
    TempFolder temp;
    const std::string ff = temp.path + "/HALD/ff/night1";
    copyExample(ff);
    const std::string merged = ff + "/KELdetectinfo_0000_night1.txt";
    std::string first;
    for (const std::string& typed : {windowsPath(ff), "Z:" + ff, windowsPath(ff) + "\\"}) {
        SCOPED_TRACE(typed);
        RunResult run = runWindowsProgram({typed});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output, kBanner + kDone +
                                  mergedLine(6, 3, windowsPath(ff) + "\\KELdetectinfo_0000_night1.txt"));
        const std::string text = readFile(merged);
        EXPECT_EQ(line(text, 1), "Meteor Count = 000006");
        EXPECT_EQ(line(text, 5), "FF  folder = " + windowsPath(ff) + "\\");
        EXPECT_EQ(line(text, 6), "CAL folder = " + windowsPath(temp.path) + "\\HALD\\Cal\\");
        if (first.empty()) {
            first = afterTime(text);
        }
        EXPECT_EQ(afterTime(text), first);
    }
}

TEST(WindowsPaths, ListingIsTheCommandInterpretersAndNamesFoldersToo) {
    TempFolder temp;
    const std::string ff = temp.path + "/HALD/ff/night1";
    copyExample(ff);
    // A folder that matches the pattern, and a listing left by another run.
    makeFolders(ff + "/KELdetectinfo_0002_b.txt");
    writeFile(ff + "/MergeListing_KELdetectinfo.txt", "KELdetectinfo_0009_gone.txt\r\n");
    const std::string earlier = "Meteor Count = 000001\r\nthe merged file of an earlier run\r\n";
    writeFile(ff + "/KELdetectinfo_0000_night1.txt", earlier);

    RunResult run = runWindowsProgram({windowsPath(ff)}, options("\n"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, kBanner + " Cannot open file " + windowsPath(ff) +
                              "\\KELdetectinfo_0002_b.txt for reading \n (Permission denied) \n\n"
                              " Enter CR to exit program \n");
    EXPECT_EQ(readFile(ff + "/MergeListing_KELdetectinfo.txt"),
              "KELdetectinfo_0000_night1.txt\r\n"
              "KELdetectinfo_0001_20261130_HALD01.txt\r\n"
              "KELdetectinfo_0002_20261130_HALD02.txt\r\n"
              "KELdetectinfo_0002_b.txt\r\n"
              "KELdetectinfo_0003_20261130_HALD03.txt\r\n");
    // The run that failed leaves the earlier merged file as it was.
    EXPECT_EQ(readFile(ff + "/KELdetectinfo_0000_night1.txt"), earlier);
    EXPECT_FALSE(fileExists(ff + "/KELdetectinfo_0000_night1.tmp"));
}

TEST(WindowsPaths, DriveRootNamesTheMergedFileForItsLetter) {
    TempFolder temp;
    copyExample(temp.path + "/root");
    WineDrive drive('k', temp.path + "/root");
    for (const std::string typed : {"K:\\", "K:", "k:/"}) {
        SCOPED_TRACE(typed);
        std::filesystem::remove(temp.path + "/root/KELdetectinfo_0000_K.txt");
        RunResult run = runWindowsProgram({typed});
        EXPECT_EQ(run.status, 0);
        const std::string letter(1, typed[0]);
        EXPECT_EQ(run.output, kBanner + " FF folder " + letter +
                                  ":\\ has no HALD folder in its path; its merged file names no CAL folder \n" +
                                  kDone + mergedLine(6, 3, letter + ":\\KELdetectinfo_0000_" + letter + ".txt"));
        const std::string merged = temp.path + "/root/KELdetectinfo_0000_" + letter + ".txt";
        ASSERT_TRUE(fileExists(merged)) << testing::PrintToString(namesIn(temp.path + "/root"));
        const std::string text = readFile(merged);
        EXPECT_EQ(line(text, 1), "Meteor Count = 000006");
        EXPECT_EQ(line(text, 5), "FF  folder = " + letter + ":\\");
        EXPECT_EQ(line(text, 6), "CAL folder = ");
        std::filesystem::remove(merged);
    }
    for (const std::string& name : namesIn(temp.path + "/root")) {
        EXPECT_EQ(name.find(':'), std::string::npos) << name;
    }
}

TEST(WindowsPaths, RelativeFoldersAreShownAsWholePaths) {
    // As GetFullPathName makes them whole; a drive-relative path is taken
    // against that drive's current folder, its root for this process. Wine
    // names the current folder by the drive that maps it most closely, so
    // the drive is mapped for the drive-relative case alone.
    TempFolder temp;
    const std::string ff = temp.path + "/HALD/ff/night1";
    copyExample(ff);
    const std::string merged = ff + "/KELdetectinfo_0000_night1.txt";
    const std::string whole = windowsPath(temp.path);
    struct Case {
        std::string workingFolder, typed, station;
    };
    for (const Case& c : {Case{temp.path + "/HALD/ff", "night1", whole},
                          Case{temp.path + "/HALD/ff", "..\\ff\\night1", whole},
                          Case{ff, ".", whole},
                          Case{temp.path, "K:HALD\\ff\\night1", "K:"}}) {
        SCOPED_TRACE(c.typed);
        std::unique_ptr<WineDrive> drive;
        if (c.station == "K:") {
            drive = std::make_unique<WineDrive>('k', temp.path);
        }
        std::filesystem::remove(merged);
        RunResult run = runWindowsProgram({c.typed}, options("", c.workingFolder));
        const std::string shown = c.station + "\\HALD\\ff\\night1\\";
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output, kBanner + kDone + mergedLine(6, 3, shown + "KELdetectinfo_0000_night1.txt"));
        ASSERT_TRUE(fileExists(merged));
        const std::string text = readFile(merged);
        EXPECT_EQ(line(text, 1), "Meteor Count = 000006");
        EXPECT_EQ(line(text, 5), "FF  folder = " + shown);
        EXPECT_EQ(line(text, 6), "CAL folder = " + c.station + "\\HALD\\Cal\\");
    }
}

// Without a long-path manifest Windows opens paths of at most 259
// characters, and the command interpreter lists no folder whose listing
// file's path is longer. Wine has neither limit, so each check is met at
// its edge: 259 characters go through, 260 are refused. The merged file's
// path is the longest once the folder's name has more than 7 characters.
TEST(WindowsPaths, PathsLongerThanWindowsOpensAreRefusedAtTheirEdge) {
    TempFolder temp;
    const std::string base = temp.path + "/HALD/ff/";
    const std::size_t windowsBase = windowsPath(base).size();
    const std::string listingName = "MergeListing_KELdetectinfo.txt";

    // The listing file's path, for a folder named "night1" below a padding folder.
    const std::size_t listingPad = 259 - (windowsBase + 1 + 6 + 1 + listingName.size());
    const std::string listingFits = base + std::string(listingPad, 'f') + "/night1";
    const std::string listingTooLong = base + std::string(listingPad + 1, 'g') + "/night1";
    ASSERT_EQ(windowsPath(listingFits + "/" + listingName).size(), 259u);
    // The merged file's path, for a folder with a long name.
    const std::string longName = "night_with_a_long_name";
    const std::string mergedName = "KELdetectinfo_0000_" + longName + ".txt";
    const std::size_t mergedPad = 259 - (windowsBase + 1 + longName.size() + 1 + mergedName.size());
    const std::string mergedFits = base + std::string(mergedPad, 'm') + "/" + longName;
    const std::string mergedTooLong = base + std::string(mergedPad + 1, 'n') + "/" + longName;
    ASSERT_EQ(windowsPath(mergedFits + "/" + mergedName).size(), 259u);

    // At the listing's edge only short per-camera names stay within reach.
    makeFolders(listingFits);
    writeFile(listingFits + "/KELdetectinfo_1_a.txt",
              perCameraHeader(2) + perCameraRecord(1, 1, 1) + perCameraRecord(1, 2, 0));
    copyExample(mergedFits);
    for (const std::string& folder : {listingFits, mergedFits}) {
        SCOPED_TRACE(folder);
        RunResult run = runWindowsProgram({windowsPath(folder)});
        EXPECT_EQ(run.status, 0);
        const std::string name = std::filesystem::path(folder).filename().string();
        const bool listingEdge = folder == listingFits;
        EXPECT_EQ(run.output, kBanner + kDone +
                                  mergedLine(listingEdge ? 2 : 6, listingEdge ? 1 : 3,
                                             windowsPath(folder) + "\\KELdetectinfo_0000_" + name +
                                                 ".txt"));
        EXPECT_EQ(line(readFile(folder + "/KELdetectinfo_0000_" + name + ".txt"), 1),
                  folder == listingFits ? "Meteor Count = 000002" : "Meteor Count = 000006");
    }

    const std::string mergedTooLongPath = windowsPath(mergedTooLong) + "\\" + mergedName;
    struct Refusal {
        std::string folder, message;
    };
    for (const Refusal& refusal :
         {Refusal{listingTooLong, " Cannot list folder " + windowsPath(listingTooLong) +
                                      "\\: the command interpreter takes paths of at most 259 "
                                      "characters \n"},
          Refusal{mergedTooLong, " Cannot create KEL detection log file " + mergedTooLongPath +
                                     ": its path has 260 characters, and Windows opens paths of "
                                     "at most 259 \n"}}) {
        SCOPED_TRACE(refusal.folder);
        copyExample(refusal.folder);
        RunResult run = runWindowsProgram({windowsPath(refusal.folder)}, options("\n"));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output, kBanner + refusal.message);
        // Neither the listing nor the merged file was written.
        EXPECT_EQ(namesIn(refusal.folder), namesIn(KEL_EXAMPLE_FOLDER));
    }

    // A per-camera file's path, read from the listing: the one too long is
    // named and left out, the rest merged.
    const std::string ff = base + "night1";
    makeFolders(ff);
    const std::size_t namePad = 259 - (windowsPath(ff).size() + 1 + 19 + 4);
    writeFile(ff + "/KELdetectinfo_0001_" + std::string(namePad, 'a') + ".txt",
              perCameraHeader(2) + perCameraRecord(1, 1, 1) + perCameraRecord(1, 2, 0));
    const std::string tooLongName = "KELdetectinfo_0002_" + std::string(namePad + 1, 'b') + ".txt";
    writeFile(ff + "/" + tooLongName, perCameraHeader(1) + perCameraRecord(2, 1, 0));
    RunResult run = runWindowsProgram({windowsPath(ff)});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.output, kBanner + " File " + windowsPath(ff) + "\\" + tooLongName +
                              " cannot be opened: its path has 260 characters, and Windows "
                              "opens paths of at most 259; not merged \n" +
                              kDone +
                              mergedLine(2, 1, windowsPath(ff) + "\\KELdetectinfo_0000_night1.txt") +
                              notMergedLine(windowsPath(ff) + "\\", 0, 1));
    EXPECT_EQ(line(readFile(ff + "/KELdetectinfo_0000_night1.txt"), 1), "Meteor Count = 000002");

    // Over 255 characters, far beyond the Windows limit, on Linux.
    const std::string linuxLong = base + std::string(120, 'a') + "/" + std::string(120, 'b') + "/night1";
    copyExample(linuxLong);
    ASSERT_GT(linuxLong.size(), 255u);
    RunResult linux = runProgram(programPath(), {linuxLong});
    EXPECT_EQ(linux.status, 0);
    EXPECT_EQ(line(readFile(linuxLong + "/KELdetectinfo_0000_night1.txt"), 1), "Meteor Count = 000006");
}

// Without a display the shell's folder dialog cannot open: the run says
// why (Wine gives no system reason, so only the wording around it is
// fixed) and asks at the console, where the end of input cancels as the
// dialog's Cancel does and a folder is merged.
TEST(WindowsDialog, DialogThatCannotOpenSaysWhyAndAsksAtTheConsole) {
    TempFolder temp;
    const std::string ff = temp.path + "/HALD/ff/night1";
    copyExample(ff);
    const std::string said = " The folder dialog cannot open (";
    const std::string asked = "); asking on the console \n Navigate to and select the FF Folder: ";
    RunResult cancelled = runWindowsProgram({}, options("", temp.path));
    EXPECT_EQ(cancelled.status, 1);
    EXPECT_EQ(cancelled.output.rfind(kBanner + said, 0), 0u) << cancelled.output;
    EXPECT_NE(cancelled.output.find(asked + "\n ERROR getting FF files folder pathname \n"),
              std::string::npos) << cancelled.output;
    EXPECT_FALSE(fileExists(ff + "/KELdetectinfo_0000_night1.txt"));

    const std::string typed = windowsPath(ff);
    RunResult chosen = runWindowsProgram({}, options("\"" + typed + "\"\n", temp.path));
    EXPECT_EQ(chosen.status, 0);
    EXPECT_NE(chosen.output.find(asked + "\"" + typed + "\"\n" + kDone +
                                 mergedLine(6, 3, typed + "\\KELdetectinfo_0000_night1.txt")),
              std::string::npos) << chosen.output;
}

}  // namespace
