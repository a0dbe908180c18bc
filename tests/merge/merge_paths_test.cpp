// Deriving the paths of a run from the FF folder path, on POSIX hosts.
#include <gtest/gtest.h>

#include <unistd.h>

#include "merge_paths.h"
#include "test_files.h"

namespace {

TEST(MergePaths, FolderWithOrWithoutTrailingSeparatorGivesTheSamePaths) {
    for (const char* folder : {"/data/obs/HALD/ff/sky1", "/data/obs/HALD/ff/sky1/"}) {
        MergePaths paths = deriveMergePaths(folder);
        EXPECT_EQ(paths.ffFolder, "/data/obs/HALD/ff/sky1/");
        EXPECT_EQ(paths.calFolder, "/data/obs/HALD/Cal/");
        EXPECT_EQ(paths.listingPath, "/data/obs/HALD/ff/sky1/MergeListing_KELdetectinfo.txt");
        EXPECT_EQ(paths.folderName, "sky1");
        EXPECT_EQ(paths.mergedPath, "/data/obs/HALD/ff/sky1/KELdetectinfo_0000_sky1.txt");
    }
}

TEST(MergePaths, CalFolderSitsAtTheFirstHaldFolder) {
    EXPECT_EQ(deriveMergePaths("/a/HALD/b/HALD/ff/x").calFolder, "/a/HALD/Cal/");
    EXPECT_EQ(deriveMergePaths("/HALD/x").calFolder, "/HALD/Cal/");
    // The match is exact: no other letter case, no longer folder names.
    EXPECT_EQ(deriveMergePaths("/a/hald/ff/x").calFolder, "");
    EXPECT_EQ(deriveMergePaths("/a/HALDX/ff/x").calFolder, "");
    EXPECT_EQ(deriveMergePaths("/a/ff/x").calFolder, "");
}

TEST(MergePaths, RelativeFoldersStayRelative) {
    MergePaths paths = deriveMergePaths("obs/HALD/ff/night1");
    EXPECT_EQ(paths.ffFolder, "obs/HALD/ff/night1/");
    EXPECT_EQ(paths.calFolder, "obs/HALD/Cal/");
    EXPECT_EQ(paths.mergedPath, "obs/HALD/ff/night1/KELdetectinfo_0000_night1.txt");
    EXPECT_EQ(deriveMergePaths("night2").mergedPath, "night2/KELdetectinfo_0000_night2.txt");
}

TEST(MergePaths, DotFolderIsNamedForWhereItIs) {
    TempFolder temp;
    makeFolders(temp.path + "/HALD/ff/night3");
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir((temp.path + "/HALD/ff/night3").c_str()), 0);
    MergePaths here = deriveMergePaths(".");
    MergePaths parent = deriveMergePaths("..");
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(here.ffFolder, "./");
    EXPECT_EQ(here.mergedPath, "./KELdetectinfo_0000_night3.txt");
    EXPECT_EQ(parent.mergedPath, "../KELdetectinfo_0000_ff.txt");
}

TEST(MergePaths, RootFolderHasAnEmptyName) {
    MergePaths paths = deriveMergePaths("/");
    EXPECT_EQ(paths.ffFolder, "/");
    EXPECT_EQ(paths.mergedPath, "/KELdetectinfo_0000_.txt");
}

TEST(MergePaths, LongPathsAreKeptWhole) {
    std::string folder = "/data/HALD/ff/" + std::string(400, 'n');
    MergePaths paths = deriveMergePaths(folder);
    EXPECT_EQ(paths.folderName, std::string(400, 'n'));
    EXPECT_EQ(paths.mergedPath, folder + "/KELdetectinfo_0000_" + std::string(400, 'n') + ".txt");
}

}  // namespace
