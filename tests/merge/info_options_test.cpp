// The options that ask the program about itself, and the arguments that
// stay the FF folder however much they look like one.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "run_program.h"
#include "test_files.h"

namespace {

RunOptions inFolder(const std::string& folder) {
    RunOptions options;
    options.workingFolder = folder;
    return options;
}

TEST(InfoOptions, HelpSwitchesPrintTheUsageTextAndWriteNothing) {
    TempFolder temp;
    RunResult help = runProgram(programPath(), {"--help"}, inFolder(temp.path));
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.output.rfind("Usage: kel_combine_detectinfo [FF-FOLDER ...]\n", 0), 0u)
        << help.output;
    for (const char* told : {"KELdetectinfo_0000_<folder name>.txt", "MergeListing_KELdetectinfo.txt",
                             "  --help, -h ", "\n  kel_combine_detectinfo /data/obs/HALD/ff/night1\n"}) {
        EXPECT_NE(help.output.find(told), std::string::npos) << told;
    }
    RunResult h = runProgram(programPath(), {"-h"}, inFolder(temp.path));
    EXPECT_EQ(h.status, 0);
    EXPECT_EQ(h.output, help.output);
    EXPECT_TRUE(std::filesystem::is_empty(temp.path));
}

TEST(InfoOptions, VersionPrintsTheVersionLineOfThePackages) {
    TempFolder temp;
    RunResult run = runProgram(programPath(), {"--version"}, inFolder(temp.path));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "kel_combine_detectinfo 1.61\n");
    // The packages take their version from the build; it must be the program's.
    EXPECT_EQ(std::string(KEL_PROJECT_VERSION), "1.61");
    EXPECT_TRUE(std::filesystem::is_empty(temp.path));
}

TEST(InfoOptions, UnwritableStandardOutputEndsWithStatus1) {
    RunResult run = runProgram("/bin/sh", {"-c", "\"$0\" --version > /dev/full", programPath()});
    EXPECT_EQ(run.status, 1);
}

TEST(InfoOptions, ExistingFolderNamedLikeAnOptionIsMerged) {
    TempFolder temp;
    for (const std::string name : {"--help", "-h", "--version"}) {
        SCOPED_TRACE(name);
        makeFolders(temp.path + "/" + name);
        writeFile(temp.path + "/" + name + "/KELdetectinfo_0001_a.txt",
                  perCameraHeader(1) + perCameraRecord(1, 1, 1));
        RunResult run = runProgram(programPath(), {name}, inFolder(temp.path));
        // Shown as a whole path, which has no HALD folder in it.
        const std::string whole = temp.path + "/" + name + "/";
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output, kBanner + " FF folder " + whole +
                                  " has no HALD folder in its path; its merged file names no CAL "
                                  "folder \n" +
                                  kDone + mergedLine(1, 1, whole + "KELdetectinfo_0000_" + name + ".txt"));
        EXPECT_EQ(readFile(temp.path + "/" + name + "/KELdetectinfo_0000_" + name + ".txt")
                      .substr(0, 23),
                  "Meteor Count = 000001\r\n");
    }
}

TEST(InfoOptions, NearMissesAreUnknownOptionsAndOtherArgumentsFolders) {
    TempFolder temp;
    // Near misses of the options, refused before anything is written.
    for (const std::string argument : {"-V", "--HELP", "-help", "--version=1", "-?", "-"}) {
        SCOPED_TRACE(argument);
        RunResult run = runProgram(programPath(), {argument}, inFolder(temp.path));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output, " Unknown option " + argument +
                                  " (kel_combine_detectinfo --help lists the options) \n");
    }
    // "/?", which only Windows takes as a switch, is a folder here.
    RunResult path = runProgram(programPath(), {"/?"}, inFolder(temp.path));
    EXPECT_EQ(path.status, 1);
    EXPECT_EQ(path.output, kBanner + " FF folder /? does not exist \n");
    EXPECT_TRUE(std::filesystem::is_empty(temp.path));
    // Among several arguments, and after "--", every argument is a folder:
    // a name that begins with '-' (a file of that name caught by a "*")
    // fails as a folder would, and stops no other.
    makeFolders(temp.path + "/night1");
    writeFile(temp.path + "/-x", "a file");
    RunResult several = runProgram(programPath(), {"-x", "night1"}, inFolder(temp.path));
    EXPECT_EQ(several.status, 1);
    EXPECT_NE(several.output.find(" Failed: " + temp.path + "/-x/ (not a folder) \n"),
              std::string::npos)
        << several.output;
    EXPECT_TRUE(fileExists(temp.path + "/night1/KELdetectinfo_0000_night1.txt"));
    RunResult ended = runProgram(programPath(), {"--", "-x"}, inFolder(temp.path));
    EXPECT_EQ(ended.status, 1);
    EXPECT_EQ(ended.output, kBanner + " " + temp.path + "/-x is not a folder \n");
}

}  // namespace
