// The options that ask the program about itself, and the arguments that
// stay the FF folder however much they look like one.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ff_folder.h"
#include "folder_files.h"
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

TEST(InfoOptions, HelpManualPageAndRunsDocumentNameTheFilesARunWrites) {
    // The names a run really writes into its folder, their computer,
    // process and folder parts written as the documents write them: the
    // temporary listing and merged file (left by runs killed as they give
    // each its name), the listing, and the lock file that shares get.
    FfFolder ff;
    writeFile(ff.file("KELdetectinfo_0001_a.txt"), perCameraHeader(1) + perCameraRecord(1, 1, 1));
    std::vector<std::string> written;
    for (const char* renaming : {"1", "2"}) {
        StartedProgram run = startProgram(
            stracePath(), {"-D", "-qq", "-o", "/dev/null", "-e",
                           std::string("inject=renameat:signal=KILL:when=") + renaming,
                           programPath(), ff.path});
        const std::string ending = std::string(1, '.').append(hostForFiles()).append(1, '.')
                                       .append(std::to_string(run.pid)).append(".tmp");
        finishProgram(run);
        for (const auto& entry : std::filesystem::directory_iterator(ff.path)) {
            std::string name = entry.path().filename().string();
            if (name.size() > ending.size() && name.ends_with(ending)) {
                std::filesystem::remove(entry.path());
                name.replace(name.size() - ending.size(), ending.size(), ".<computer>.<process>.tmp");
                written.push_back(name.starts_with("KELdetectinfo_0000_night1.")
                                      ? name.replace(19, 6, "<folder name>")
                                      : name);
            }
        }
    }
    ASSERT_EQ(written.size(), 2u) << "a killed run left no temporary file";
    ASSERT_EQ(runProgram(programPath(), {ff.path}).status, 0);
    for (const auto& entry : std::filesystem::directory_iterator(ff.path)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with("KELdetectinfo_")) {
            written.push_back(name);  // the listing
        }
    }
    written.push_back(kServerLockName);
    const std::string source = KEL_SOURCE_FOLDER;
    const std::vector<std::pair<std::string, std::string>> documents = {
        {"--help", runProgram(programPath(), {"--help"}).output},
        {"the manual page", readFile(source + "/doc/kel_combine_detectinfo.1")},
        {"doc/runs.md", readFile(source + "/doc/runs.md")}};
    for (const auto& [document, text] : documents) {
        for (const std::string& name : written) {
            EXPECT_NE(text.find(name), std::string::npos) << document << " does not name " << name;
        }
    }
}

}  // namespace
