// The listing the program writes of an FF folder on POSIX hosts.
#include <gtest/gtest.h>

#include <unistd.h>

#include "folder_files.h"
#include "test_files.h"

namespace {

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
    testing::internal::CaptureStdout();
    ASSERT_EQ(writeFolderListing(ff, ff + "MergeListing_KELdetectinfo.txt", leftOut),
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
}

TEST(FolderListing, EmptyFolderGivesAnEmptyListing) {
    TempFolder temp;
    long leftOut = 0;
    ASSERT_EQ(writeFolderListing(temp.path + "/", temp.path + "/listing.txt", leftOut),
              ListingResult::Written);
    EXPECT_EQ(readFile(temp.path + "/listing.txt"), "");
}

TEST(FolderListing, MissingFolderGivesNoListing) {
    TempFolder temp;
    long leftOut = 0;
    EXPECT_EQ(writeFolderListing(temp.path + "/none/", temp.path + "/none/listing.txt", leftOut),
              ListingResult::NotWritten);
    EXPECT_FALSE(fileExists(temp.path + "/none/listing.txt"));
}

}  // namespace
