// The listing the program writes of an FF folder on POSIX hosts.
#include <gtest/gtest.h>

#include <unistd.h>

#include "folder_listing.h"
#include "test_files.h"

namespace {

// Lists the folder `ff` as a run does, through the folder held.
ListingResult listHeld(const std::string& ff, const std::string& listingName,
                       std::vector<std::string>& names, long& leftOut) {
    HeldFolder folder;
    if (holdFolder(ff, folder).outcome != FolderHold::Outcome::Held) {
        return ListingResult::Refused;
    }
    LeftAlone leftAlone;
    const ListingResult result = writeFolderListing(folder, listingName, names, leftOut, leftAlone);
    releaseFolder(folder);
    return result;
}

TEST(FolderListing, ListsMatchingRegularFilesInWindowsOrder) {
    TempFolder temp;
    const std::string ff = temp.path + "/";
    for (const char* name :
         {"KELdetectinfo_0002_b.txt", "keldetectinfo_0001_a.TXT", "KELdetectinfo_0001_B.txt",
          "KELdetectinfo_0001_b.txt", "KELdetectinfo_0010_x.txt", "KELDETECTINFO_0003_c.txt",
          "KELdetectinfo_0004_d.txt.old", "other.txt", "KELdetectinfo_.txt", "MergeListing_KELdetectinfo.txt",
          "KELdetectinfo_0005_target.txt"}) {
        writeFile(ff + name, "x");
    }
    makeFolders(ff + "KELdetectinfo_0006_folder.txt");
    ASSERT_EQ(symlink((ff + "KELdetectinfo_0005_target.txt").c_str(),
                      (ff + "KELdetectinfo_0007_link.txt").c_str()),
              0);
    ASSERT_EQ(symlink((ff + "missing").c_str(), (ff + "KELdetectinfo_0008_dangling.txt").c_str()), 0);

    long leftOut = 0;
    std::vector<std::string> names;
    testing::internal::CaptureStdout();
    ASSERT_EQ(listHeld(ff, "MergeListing_KELdetectinfo.txt", names, leftOut),
              ListingResult::Written);
    // The folder is plainly no file; what the dangling link stands for
    // cannot be told, so it is named and counted as not merged.
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              " File " + ff + "KELdetectinfo_0008_dangling.txt cannot be looked at (No such file "
              "or directory); not merged \n");
    EXPECT_EQ(leftOut, 1);
    EXPECT_EQ(readFile(ff + "MergeListing_KELdetectinfo.txt"),
              "KELdetectinfo_.txt\r\n"
              "keldetectinfo_0001_a.TXT\r\n"
              "KELdetectinfo_0001_B.txt\r\n"
              "KELdetectinfo_0001_b.txt\r\n"
              "KELdetectinfo_0002_b.txt\r\n"
              "KELDETECTINFO_0003_c.txt\r\n"
              "KELdetectinfo_0005_target.txt\r\n"
              "KELdetectinfo_0007_link.txt\r\n"
              "KELdetectinfo_0010_x.txt\r\n");
    // The run merges the names it listed, never reading the listing back.
    std::string listed;
    for (const std::string& name : names) {
        listed += name + "\r\n";
    }
    EXPECT_EQ(listed, readFile(ff + "MergeListing_KELdetectinfo.txt"));
}

TEST(FolderListing, EmptyFolderGivesAnEmptyListing) {
    TempFolder temp;
    long leftOut = 0;
    std::vector<std::string> names;
    ASSERT_EQ(listHeld(temp.path + "/", "listing.txt", names, leftOut), ListingResult::Written);
    EXPECT_EQ(readFile(temp.path + "/listing.txt"), "");
    EXPECT_TRUE(names.empty());
}

TEST(FolderListing, MissingFolderIsNotHeld) {
    TempFolder temp;
    HeldFolder folder;
    const FolderHold hold = holdFolder(temp.path + "/none/", folder);
    EXPECT_EQ(hold.outcome, FolderHold::Outcome::Failed);
    EXPECT_EQ(hold.reason, "No such file or directory");
    EXPECT_FALSE(folder.held);
}

}  // namespace
