// A folder whose listing fails part way: readdir is made to fail here, as
// a failing disk or a network folder that goes away would make it.
#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>

#include <cerrno>

#include "folder_listing.h"
#include "test_files.h"

namespace {
int entriesBeforeFailure = -1;  // -1: readdir works as usual
}

// Takes the place of the C library's readdir for this test program.
extern "C" dirent* readdir(DIR* folder) {
    using Readdir = dirent* (*)(DIR*);
    static auto real = reinterpret_cast<Readdir>(dlsym(RTLD_NEXT, "readdir"));
    if (entriesBeforeFailure == 0) {
        errno = EIO;
        return nullptr;
    }
    if (entriesBeforeFailure > 0) {
        --entriesBeforeFailure;
    }
    return real(folder);
}

namespace {

TEST(FolderListing, ReadErrorPartWayIsReportedNotTakenForTheEnd) {
    TempFolder temp;
    const std::string ff = temp.path + "/";
    writeFile(ff + "KELdetectinfo_0001_a.txt", "x");
    writeFile(ff + "KELdetectinfo_0002_b.txt", "x");
    long leftOut = 0;
    std::vector<std::string> names;
    HeldFolder folder;
    ASSERT_EQ(holdFolder(ff, folder).outcome, FolderHold::Outcome::Held);
    testing::internal::CaptureStdout();
    entriesBeforeFailure = 2;
    LeftAlone leftAlone;
    ListingResult result = writeFolderListing(folder, "listing.txt", names, leftOut, leftAlone);
    entriesBeforeFailure = -1;
    releaseFolder(folder);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, ListingResult::Refused);
    EXPECT_EQ(output, " Cannot list folder " + ff + " to its end (Input/output error) \n");
    EXPECT_FALSE(fileExists(ff + "listing.txt"));
}

}  // namespace
