// The merged file as others left it: its owner, group and permission bits
// after root's run, another user's file that the running user may not
// replace, and a temporary file that could not be removed.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "ff_folder.h"
#include "fuse_mounts.h"
#include "run_program.h"
#include "test_files.h"

namespace {

constexpr uid_t kNobody = 65534;

std::string rootNeeded() {
    return geteuid() == 0 ? std::string() : "needs root, to give files to another user";
}

// A folder of one per-camera file and an earlier merged file of user
// nobody's with `mode`; the folders above it open to every user.
void prepare(FfFolder& ff, mode_t folderMode, mode_t mergedMode) {
    writeFile(ff.file("KELdetectinfo_0001_a.txt"), perCameraHeader(1) + perCameraRecord(1, 1, 1));
    chmod(ff.file("KELdetectinfo_0001_a.txt").c_str(), 0644);
    for (const std::string& folder : {ff.temp.path, ff.temp.path + "/HALD", ff.temp.path + "/HALD/ff"}) {
        chmod(folder.c_str(), 0755);
    }
    chmod(ff.path.c_str(), folderMode);
    writeFile(ff.mergedPath(), "an earlier merged file\r\n");
    chmod(ff.mergedPath().c_str(), mergedMode);
    ASSERT_EQ(chown(ff.mergedPath().c_str(), kNobody, kNobody), 0);
}

struct stat statusOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
    return status;
}

RunResult runWithUmask(const std::string& folder, mode_t mask, const RunOptions& options = {}) {
    const mode_t before = umask(mask);
    RunResult run = runProgram(programPath(), {folder}, options);
    umask(before);
    return run;
}

TEST(MergedFileOwner, RootKeepsTheOwnerButNotBitsSomeoneElseChose) {
    // Another user's world-writable merged file, root's umask 077: the new
    // file is that user's still, with the bits root's new file gets.
    KEL_REQUIRE(rootNeeded());
    FfFolder ff;
    prepare(ff, 0755, 0666);
    const RunResult run = runWithUmask(ff.path, 077);
    EXPECT_EQ(run.output, kBanner + kDone + mergedLine(1, 1, ff.mergedPath()));
    const struct stat merged = statusOf(ff.mergedPath());
    EXPECT_EQ(merged.st_mode & 07777, 0600u) << "the other user's bits were kept";
    EXPECT_EQ(merged.st_uid, kNobody);
    EXPECT_EQ(merged.st_gid, kNobody);
}

TEST(MergedFileOwner, StickyFolderKeepsTheEarlierOwnersNextRunWorking) {
    // Another user's 0000 merged file in a sticky folder: root's run gives
    // the new file no bit the earlier one lacked and keeps its owner, whose
    // next run, once the owner has given it bits again, replaces it. A
    // user who may not replace it is told whose it is and what to do, and
    // nothing changes.
    KEL_REQUIRE(rootNeeded());
    FfFolder ff;
    prepare(ff, 01777, 0);
    RunResult run = runWithUmask(ff.path, 022);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(statusOf(ff.mergedPath()).st_mode & 07777, 0u);
    EXPECT_EQ(statusOf(ff.mergedPath()).st_uid, kNobody);
    chmod(ff.mergedPath().c_str(), 0644);
    chown(ff.file("MergeListing_KELdetectinfo.txt").c_str(), kNobody, kNobody);
    RunOptions asNobody;
    asNobody.unprivileged = true;
    run = runWithUmask(ff.path, 022, asNobody);
    EXPECT_EQ(run.output, kBanner + kDone + mergedLine(1, 1, ff.mergedPath())) << "the owner's run";

    ASSERT_EQ(chown(ff.mergedPath().c_str(), 0, 0), 0);
    const std::string before = ff.merged();
    run = runWithUmask(ff.path, 022, asNobody);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find(" Cannot open KEL detection log file " + ff.mergedPath() +
                              " for writing \n (another user's, in a folder where only a file's "
                              "owner may replace it: its owner, the folder's owner or root can "
                              "remove it) \n"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(ff.merged(), before);
    EXPECT_FALSE(ff.stagingLeft());
}

TEST(MergedFileOwner, TemporaryFileThatCannotBeRemovedIsNamedAndTheNextRunRemovesIt) {
    // A share whose connection is lost: the flush and the removal fail.
    FfFolder ff;
    writeFile(ff.file("KELdetectinfo_0001_a.txt"), perCameraHeader(1) + perCameraRecord(1, 1, 1));
    writeFile(ff.mergedPath(), "an earlier merged file\r\n");
    const TracedRun traced = tracedOnStaging(
        ff, {"-P", ff.path, "-e", "inject=fsync:error=EIO", "-e", "inject=unlinkat:error=EIO"});
    StartedProgram started = startProgram(traced.program, traced.arguments);
    const std::string staging = ff.stagingPrefix() + std::to_string(started.pid) + ".tmp";
    const RunResult run = finishProgram(started);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find(" Cannot flush temporary file " + staging +
                              " to disk (Input/output error) \n Cannot remove temporary file " +
                              staging + " (Input/output error); remove it by hand \n"),
              std::string::npos)
        << run.output;
    EXPECT_TRUE(fileExists(staging));
    EXPECT_EQ(ff.merged(), "an earlier merged file\r\n");

    // Its process is gone: the next run on this computer removes it.
    const RunResult next = runProgram(programPath(), {ff.path});
    EXPECT_EQ(next.output, kBanner + kDone + mergedLine(1, 1, ff.mergedPath()));
    EXPECT_FALSE(ff.stagingLeft());
}

}  // namespace
