// Windows: the command interpreter passes a wildcard on unexpanded, and the
// program takes it for the folders it matches.
#include <gtest/gtest.h>

#include <string>

#include "run_program.h"
#include "test_files.h"
#include "wine_program.h"

namespace {

TEST(WindowsManyFolders, WildcardStandsForTheFoldersItMatchesInListingOrder) {
    // The order is the folder listing's (names compared in upper case, so
    // "_" after the letters), not the order they were made in; a file, a
    // hidden folder and a pattern that matches nothing are no folders.
    TempFolder temp;
    const std::string ff = temp.path + "/HALD/ff";
    for (const char* name : {"night10", "_x", "Night2", "night1", ".hidden"}) {
        copyExample(ff + "/" + name);
    }
    writeFile(ff + "/night9.txt", "not a folder\n");
    const std::string shown = windowsPath(ff);
    RunResult run = runWindowsProgram({shown + "\\*", shown + "\\zz*"});
    std::string merged;
    for (const char* name : {"night1", "night10", "Night2", "_x"}) {
        merged += mergedLine(6, 3, shown + "\\" + name + "\\KELdetectinfo_0000_" + name + ".txt");
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, kBanner + merged + " No folder matches " + shown + "\\zz* \n" +
                              "\n Tally of 5 folders: 4 merged whole, 0 with something left out, 0 "
                              "with no per-camera files, 1 failed \n" +
                              " Failed: " + shown + "\\zz* (no folder matches) \n");
    EXPECT_FALSE(fileExists(ff + "/.hidden/KELdetectinfo_0000_.hidden.txt"));
}

}  // namespace
