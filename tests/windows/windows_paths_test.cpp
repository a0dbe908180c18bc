// What only the Windows program does: backslash paths in the header, paths
// typed with '/', the command interpreter's listing, drive roots, relative
// and long paths, and the folder dialog failing without a display.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "run_program.h"
#include "test_files.h"
#include "wine_program.h"

namespace {


void copyExample(const std::string& to) {
    makeFolders(to);
    for (const auto& entry : std::filesystem::directory_iterator(KEL_EXAMPLE_FOLDER)) {
        std::filesystem::copy_file(entry.path(), to + "/" + entry.path().filename().string());
    }
}

// Line `number` (from 1) of a file's text, without its line end.
std::string line(const std::string& text, int number) {
    std::size_t start = 0;
    for (int i = 1; i < number; ++i) {
        start = text.find('\n', start) + 1;
    }
    std::size_t end = text.find("\r\n", start);
    return text.substr(start, end - start);
}

// Everything after header line 3, which holds the time of the run.
std::string afterTime(const std::string& text) {
    std::size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        at = text.find('\n', at) + 1;
    }
    return text.substr(at);
}

RunOptions options(const std::string& input, const std::string& workingFolder = "") {
    RunOptions result;
    result.input = input;
    result.workingFolder = workingFolder;
    return result;
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
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
        EXPECT_EQ(run.output, kBanner + kDone);
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

    RunResult run = runWindowsProgram({windowsPath(ff)}, options("\n"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, kBanner + " Cannot open file " + windowsPath(ff) +
                              "\\KELdetectinfo_0002_b.txt for reading \n (Permission denied) \n\n"
                              " Enter CR to exit program \n");
    EXPECT_EQ(readFile(ff + "/MergeListing_KELdetectinfo.txt"),
              "KELdetectinfo_0001_20261130_HALD01.txt\r\n"
              "KELdetectinfo_0002_20261130_HALD02.txt\r\n"
              "KELdetectinfo_0002_b.txt\r\n"
              "KELdetectinfo_0003_20261130_HALD03.txt\r\n");
    // The records of the files before the folder are kept, uncounted.
    const std::string merged = readFile(ff + "/KELdetectinfo_0000_night1.txt");
    EXPECT_EQ(line(merged, 1), "Meteor Count = 000000");
    EXPECT_NE(merged.find("FF_HALD02_"), std::string::npos);
    EXPECT_EQ(merged.find("FF_HALD03_"), std::string::npos);
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
        EXPECT_EQ(run.output, kBanner + kDone);
        const std::string letter(1, typed[0]);
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

TEST(WindowsPaths, RelativeFoldersStayRelativeInTheHeader) {
    TempFolder temp;
    const std::string ff = temp.path + "/HALD/ff/night1";
    copyExample(ff);
    const std::string merged = ff + "/KELdetectinfo_0000_night1.txt";
    struct Case {
        std::string workingFolder, typed, header;
    };
    for (const Case& c : {Case{temp.path + "/HALD/ff", "night1", "night1\\"},
                          Case{temp.path + "/HALD/ff", "..\\ff\\night1", "..\\ff\\night1\\"},
                          Case{ff, ".", ".\\"}}) {
        SCOPED_TRACE(c.typed);
        std::filesystem::remove(merged);
        RunResult run = runWindowsProgram({c.typed}, options("", c.workingFolder));
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output, kBanner + kDone);
        ASSERT_TRUE(fileExists(merged));
        const std::string text = readFile(merged);
        EXPECT_EQ(line(text, 1), "Meteor Count = 000006");
        EXPECT_EQ(line(text, 5), "FF  folder = " + c.header);
        EXPECT_EQ(line(text, 6), "CAL folder = ");
    }
}

// The command interpreter takes paths of up to 259 characters; the listing
// file's is the longest of the listing command. Beyond that the Windows
// program refuses the folder, where the Linux program merges it.
TEST(WindowsPaths, FoldersTooLongForTheCommandInterpreterAreRefusedByName) {
    TempFolder temp;
    const std::string base = temp.path + "/HALD/ff/";
    const std::size_t listingNameLength = std::string("MergeListing_KELdetectinfo.txt").size();
    // "Z:" + path + "\" + listing name is 259 characters, then 260.
    const std::size_t fits = 259 - listingNameLength - 3 - base.size();
    const std::string fitting = base + std::string(fits, 'f');
    const std::string tooLong = base + std::string(fits + 1, 'g');
    copyExample(fitting);
    copyExample(tooLong);
    ASSERT_EQ(windowsPath(fitting).size() + 1 + listingNameLength, 259u);

    RunResult fitted = runWindowsProgram({windowsPath(fitting)});
    EXPECT_EQ(fitted.status, 0);
    EXPECT_EQ(fitted.output, kBanner + kDone);
    EXPECT_EQ(line(readFile(fitting + "/KELdetectinfo_0000_" + std::string(fits, 'f') + ".txt"), 1),
              "Meteor Count = 000006");

    const std::string tooLongFolder = windowsPath(tooLong) + "\\";
    RunResult refused = runWindowsProgram({windowsPath(tooLong)}, options("\n"));
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.output,
              kBanner + " Cannot list folder " + tooLongFolder +
                  ": the command interpreter takes paths of at most 259 characters \n" +
                  " KELdetectinfo directory listing file " + tooLongFolder +
                  "MergeListing_KELdetectinfo.txt not found (or not generated)\n\n");
    EXPECT_FALSE(fileExists(tooLong + "/MergeListing_KELdetectinfo.txt"));

    // Over 255 characters, far beyond the Windows limit, on Linux.
    const std::string linuxLong = base + std::string(120, 'a') + "/" + std::string(120, 'b') + "/night1";
    copyExample(linuxLong);
    ASSERT_GT(linuxLong.size(), 255u);
    RunResult linux = runProgram(programPath(), {linuxLong});
    EXPECT_EQ(linux.status, 0);
    EXPECT_EQ(line(readFile(linuxLong + "/KELdetectinfo_0000_night1.txt"), 1), "Meteor Count = 000006");
}

// Without a display the shell's folder dialog cannot open: reported like a
// cancel, the run ends at once with status 1 and leaves no file.
TEST(WindowsDialog, FailingDialogEndsTheRunWithoutAFile) {
    TempFolder temp;
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{}, std::vector<std::string>{windowsPath(temp.path), "extra"}}) {
        RunResult run = runWindowsProgram(arguments, options("1\n", temp.path));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output, kBanner + " ERROR getting FF files folder pathname \n");
        EXPECT_TRUE(namesIn(temp.path).empty());
    }
}

}  // namespace
