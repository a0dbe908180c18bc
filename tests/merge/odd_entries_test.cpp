// Entries and paths that are not what a per-camera file or an FF folder
// usually is: every listed entry is merged or named, and a path the run
// cannot work with is refused before anything is written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "ff_folder.h"
#include "run_program.h"
#include "test_files.h"

namespace {


void writeSoundFile(const std::string& path, int camera) {
    writeFile(path, perCameraHeader(1) + perCameraRecord(camera, 1, 1));
}

TEST(OddEntries, NamesWhoseTypeCannotBeToldAreNamedAndCounted) {
    // A link to a share that is not mounted, and a link into a folder that
    // the user may not search.
    FfFolder ff;
    for (const std::string& folder :
         {ff.temp.path, ff.temp.path + "/HALD", ff.temp.path + "/HALD/ff", ff.path}) {
        chmod(folder.c_str(), 0777);
    }
    writeSoundFile(ff.file("KELdetectinfo_0001_a.txt"), 1);
    ASSERT_EQ(symlink("/no/share/KELdetectinfo_0002.txt", ff.file("KELdetectinfo_0002_share.txt").c_str()), 0);
    makeFolders(ff.temp.path + "/private");
    writeSoundFile(ff.temp.path + "/private/cam3.txt", 3);
    chmod((ff.temp.path + "/private").c_str(), 0700);
    ASSERT_EQ(symlink((ff.temp.path + "/private/cam3.txt").c_str(),
                      ff.file("KELdetectinfo_0003_private.txt").c_str()),
              0);
    RunOptions options;
    options.unprivileged = true;
    RunResult run = runProgram(programPath(), {ff.path}, options);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.output,
              kBanner + " File " + ff.file("KELdetectinfo_0002_share.txt") +
                  " cannot be looked at (No such file or directory); not merged \n" + " File " +
                  ff.file("KELdetectinfo_0003_private.txt") +
                  " cannot be looked at (Permission denied); not merged \n" + kDone +
                  mergedLine(1, 1, ff.mergedPath()) +
                  notMergedLine(ff.path + "/", 0, 2));
    EXPECT_EQ(ff.merged().substr(0, 23), "Meteor Count = 000001\r\n");
}

TEST(OddEntries, NameSwappedForAFifoAfterTheListingIsNamedNotWaitedOn) {
    // strace holds the program as it reads the file listed before, while
    // the test puts a FIFO in its place; no one ever writes to the FIFO.
    FfFolder ff;
    writeSoundFile(ff.file("KELdetectinfo_0001_a.txt"), 1);
    const std::string swapped = ff.file("KELdetectinfo_0002_b.txt");
    writeSoundFile(swapped, 2);
    writeSoundFile(ff.file("KELdetectinfo_0003_c.txt"), 3);
    StartedProgram started = startHeld({ff.file("KELdetectinfo_0001_a.txt")}, "read", 1,
                                       {programPath(), ff.path});
    ASSERT_TRUE(heldIn(started, {0}, ff.file("KELdetectinfo_0001_a.txt"))) << started.seen;
    const std::string fifo = ff.temp.path + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    ASSERT_EQ(std::rename(fifo.c_str(), swapped.c_str()), 0);
    releaseHeld(started);
    const bool ended = !stillRunningAfter(started, 10000);
    if (!ended) {
        // Let a run that waits on the FIFO go, so the test can fail.
        close(open(swapped.c_str(), O_WRONLY | O_NONBLOCK));
    }
    EXPECT_TRUE(ended) << "the run waited on the FIFO";
    const RunResult run = finishProgram(started);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.output, kBanner + " File " + swapped + " is no longer a regular file; not merged \n" +
                              kDone + mergedLine(2, 2, ff.mergedPath()) + notMergedLine(ff.path + "/", 0, 1));
    EXPECT_EQ(ff.merged().substr(0, 23), "Meteor Count = 000002\r\n");
}

TEST(OddEntries, LineEndInTheFolderPathIsRefusedBeforeAnythingIsWritten) {
    // A line end, and what other readers take for one (VT, FF, FS, NEL,
    // U+2028), would split header lines 5 and 6.
    const std::string lineEnd = " has a line end in its path, which the merged file's header cannot hold \n";
    const std::string separator = " has a control character or a line separator in its path, which "
                                  "the merged file's header cannot hold \n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"night\n1", "night\\x0A1/" + lineEnd},  {"night\x0b" "1", "night\\x0B1/" + separator},
        {"night\x0c" "1", "night\\x0C1/" + separator}, {"night\x1c" "1", "night\\x1C1/" + separator},
        {"night\xc2\x85" "1", "night\\xC2\\x851/" + separator},
        {"night\xe2\x80\xa8" "1", "night\\xE2\\x80\\xA81/" + separator}};
    for (const auto& [name, message] : cases) {
        TempFolder temp;
        const std::string ff = temp.path + "/HALD/ff/" + name;
        makeFolders(ff);
        writeSoundFile(ff + "/KELdetectinfo_0001_a.txt", 1);
        RunResult run = runProgram(programPath(), {ff});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output, kBanner + " FF folder " + temp.path + "/HALD/ff/" + message);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(ff),
                                std::filesystem::directory_iterator()),
                  1);
    }
}

// A folder below `base` whose path has `length` characters, made in parts
// of at most 200 characters.
std::string deepFolder(const std::string& base, std::size_t length) {
    std::string path = base;
    while (path.size() < length) {
        const std::size_t part = std::min<std::size_t>(200, length - path.size() - 1);
        path.append(1, '/').append(part, 'd');
        makeFolders(path);
    }
    return path;
}

TEST(OddEntries, PathsLongerThanTheSystemOpensAreRefusedAtTheirEdge) {
    TempFolder temp;
    // The merged file's path is the folder's and 30 characters more
    // ("/KELdetectinfo_0000_" + a 6-character name + ".txt"), the listing's 31.
    const std::string fits = deepFolder(temp.path, 4095 - 31 - 7) + "/night1";
    const std::string over = deepFolder(temp.path + "/o", 4096 - 31 - 7) + "/night1";
    ASSERT_EQ(fits.size() + 31, 4095u);
    ASSERT_EQ(over.size() + 31, 4096u);
    for (const std::string& ff : {fits, over}) {
        makeFolders(ff);
    }
    RunResult fitting = runProgram(programPath(), {fits});
    EXPECT_EQ(fitting.status, 0) << fitting.output;
    EXPECT_TRUE(fileExists(fits + "/KELdetectinfo_0000_night1.txt"));

    RunResult refused = runProgram(programPath(), {over});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.output, kBanner + " Cannot write KELdetectinfo directory listing file " +
                                  over + "/MergeListing_KELdetectinfo.txt: its path has 4096 "
                                  "characters, and this system opens paths of at most 4095 \n");
    EXPECT_FALSE(fileExists(over + "/KELdetectinfo_0000_night1.txt"));

    // A per-camera file whose path is too long is named, not passed over.
    const int folder = open(fits.c_str(), O_RDONLY | O_DIRECTORY);
    const std::string name = "KELdetectinfo_0001_" + std::string(30, 'x') + ".txt";
    const int file = openat(folder, name.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    close(file);
    close(folder);
    RunResult named = runProgram(programPath(), {fits});
    EXPECT_EQ(named.status, 2);
    const std::string path = fits + "/" + name;
    EXPECT_EQ(named.output, kBanner + " FF folder " + fits +
                                "/ has no HALD folder in its path; its merged file names no CAL "
                                "folder \n File " + path + " cannot be opened: its path has " +
                                std::to_string(path.size()) +
                                " characters, and this system opens paths of at most 4095; not "
                                "merged \n" +
                                kDone + mergedLine(0, 0, fits + "/KELdetectinfo_0000_night1.txt") +
                                notMergedLine(fits + "/", 0, 1));
}

TEST(OddEntries, FolderNameTooLongToNameTheMergedFileIsRefused) {
    // The merged file's name is the folder's and 23 characters more.
    TempFolder temp;
    const std::string ff = temp.path + "/" + std::string(240, 'n');
    makeFolders(ff);
    RunResult run = runProgram(programPath(), {ff});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, kBanner + " Cannot create KEL detection log file " + ff +
                              "/KELdetectinfo_0000_" + std::string(240, 'n') +
                              ".txt: its name has 263 characters, and this file system takes "
                              "names of at most 255 \n");
    EXPECT_TRUE(std::filesystem::is_empty(ff));
}

}  // namespace
