// The Windows program's answers to /?, --help and --version, and a folder
// named like an option, which is merged.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "run_program.h"
#include "test_files.h"
#include "wine_program.h"

namespace {

RunOptions inFolder(const std::string& folder) {
    RunOptions options;
    options.workingFolder = folder;
    return options;
}

TEST(WindowsOptions, SlashQuestionMarkHelpAndVersionAnswerAndWriteNothing) {
    TempFolder temp;
    RunResult slash = runWindowsProgram({"/?"}, inFolder(temp.path));
    EXPECT_EQ(slash.status, 0);
    EXPECT_EQ(slash.output.rfind("Usage: kel_combine_detectinfo [FF-FOLDER ...]\n", 0), 0u)
        << slash.output;
    EXPECT_NE(slash.output.find("  --help, -h, /? "), std::string::npos) << slash.output;
    RunResult help = runWindowsProgram({"--help"}, inFolder(temp.path));
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.output, slash.output);
    RunResult version = runWindowsProgram({"--version"}, inFolder(temp.path));
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, "kel_combine_detectinfo 1.61\n");
    EXPECT_TRUE(std::filesystem::is_empty(temp.path));
}

TEST(WindowsOptions, ExistingFolderNamedHelpIsMerged) {
    TempFolder temp;
    makeFolders(temp.path + "/--help");
    writeFile(temp.path + "/--help/KELdetectinfo_0001_a.txt",
              perCameraHeader(1) + perCameraRecord(1, 1, 1));
    RunResult run = runWindowsProgram({"--help"}, inFolder(temp.path));
    EXPECT_EQ(run.status, 0);
    const std::string whole = windowsPath(temp.path) + "\\--help\\";
    EXPECT_EQ(run.output, kBanner + " FF folder " + whole +
                              " has no HALD folder in its path; its merged file names no CAL folder \n" +
                              kDone + mergedLine(1, 1, whole + "KELdetectinfo_0000_--help.txt"));
    EXPECT_TRUE(fileExists(temp.path + "/--help/KELdetectinfo_0000_--help.txt"));
}

}  // namespace
