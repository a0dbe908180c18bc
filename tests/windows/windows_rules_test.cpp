// The Windows program where Windows' own rules meet the user's folders:
// path forms the command interpreter cannot list, and characters that the
// ANSI code page has no place for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_program.h"
#include "test_files.h"
#include "wine_program.h"

namespace {

// "Д" in UTF-8: Wine hands it to the program as '?', which the ANSI code
// page 1252 has in its place.
const std::string kCyrillic = "\xd0\x94";

// The command interpreter cannot list \\?\ and \\.\ paths: an empty listing
// would replace a good merged file with an empty one.
TEST(WindowsPaths, ExtendedAndDevicePathFormsAreRefusedBeforeAnythingIsWritten) {
    TempFolder temp;
    const std::string ff = temp.path + "/HALD/ff/night1";
    copyExample(ff);
    const std::string merged = ff + "/KELdetectinfo_0000_night1.txt";
    writeFile(merged, "an earlier run's merged file\r\n");
    const std::vector<std::string> before = namesIn(ff);
    const std::string native = windowsPath(ff);
    for (const std::string& typed :
         {"\\\\?\\" + native, "\\\\.\\" + native, "//?/Z:" + ff, std::string("\\\\?\\UNC\\server\\share")}) {
        SCOPED_TRACE(typed);
        RunResult run = runWindowsProgram({typed}, options("\n"));
        EXPECT_EQ(run.status, 1);
        std::string shown = typed;
        for (char& c : shown) {
            c = c == '/' ? '\\' : c;
        }
        EXPECT_EQ(run.output, kBanner + " Cannot list folder " + shown +
                                  "\\: the command interpreter cannot list paths that begin "
                                  "with \\\\?\\ or \\\\.\\ \n");
        EXPECT_EQ(namesIn(ff), before);
        EXPECT_EQ(readFile(merged), "an earlier run's merged file\r\n");
    }
}

// A character that the ANSI code page has no place for reaches the program
// as '?', which no Windows path holds: such a path names some other
// folder, or none.
TEST(WindowsPaths, FoldersWithCharactersOutsideTheAnsiCodePageAreRefused) {
    TempFolder temp;
    const std::string ff = temp.path + "/HALD/ff/night_" + kCyrillic;
    copyExample(ff);
    const std::string shown = windowsPath(temp.path) + "\\HALD\\ff\\night_?\\";
    for (const std::string& typed : {windowsPath(ff), windowsPath(temp.path) + "\\HALD\\ff\\night_?"}) {
        SCOPED_TRACE(typed);
        RunResult run = runWindowsProgram({typed}, options("\n"));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output, kBanner + " FF folder " + shown +
                                  " holds characters that this program cannot use (shown as ?) \n");
        EXPECT_EQ(namesIn(ff), namesIn(KEL_EXAMPLE_FOLDER));
    }
}

}  // namespace
