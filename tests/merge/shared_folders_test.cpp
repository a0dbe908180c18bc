// Folders on shares and in groups: two clients of one folder that meet in
// a run, NTFS and exFAT through FUSE, a group folder that several users
// merge in turn, a merged file with a second name, and runs that fail
// part way. Each run leaves a complete merged file and listing, or the
// earlier ones, and nothing of its own beside them that it does not name.
#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ff_folder.h"
#include "fuse_mounts.h"
#include "run_program.h"
#include "test_files.h"

namespace {

const std::string kListing = "MergeListing_KELdetectinfo.txt";
const std::string kMergedName = "KELdetectinfo_0000_night1.txt";

std::string camera(int number) {
    return "KELdetectinfo_000" + std::to_string(number) + "_x.txt";
}

void writeCameras(const std::string& ffFolder, int cameras, int records) {
    for (int cam = 1; cam <= cameras; ++cam) {
        std::string text = perCameraHeader(records);
        for (int meteor = 1; meteor <= records; ++meteor) {
            text += perCameraRecord(cam, meteor, 2);
        }
        writeFile(ffFolder + "/" + camera(cam), text);
    }
}

// The names in `folder`, sorted.
std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// What a folder of `cameras` per-camera files holds after a run that left
// nothing of its own behind.
std::vector<std::string> cleanFolder(int cameras) {
    std::vector<std::string> names{kMergedName, kListing};
    for (int cam = 1; cam <= cameras; ++cam) {
        names.push_back(camera(cam));
    }
    std::sort(names.begin(), names.end());
    return names;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// A merged file as the tests compare it, line 3 aside; a cut file stays
// as it is.
std::string comparable(const std::string& merged) {
    return merged.find("Processed with KEL 1.6 on ") == std::string::npos ? merged : withoutTime(merged);
}

// Line 1 and the size of a merged file, for a failure's message.
std::string summary(const std::string& merged) {
    std::string text = merged.substr(0, std::min<std::size_t>(merged.find('\r'), 21));
    text += " (" + std::to_string(merged.size()) + " bytes)";
    return text;
}

const std::vector<long> kRenameCalls = {82, 264, 316};  // rename, renameat, renameat2 (x86-64)

TEST(SharedFolders, TwoSshfsClientsMeetingInARunEachLeaveTheirCompleteMergedFile) {
    KEL_REQUIRE(fuseUnavailable());
    TempFolder base;
    const std::string served = base.path + "/srv/HALD/ff/night1";
    makeFolders(served);
    writeCameras(served, 2, 300);
    ASSERT_EQ(runProgram(programPath(), {served}).status, 0);
    const std::string reference = withoutTime(readFile(served + "/" + kMergedName));
    std::filesystem::remove(served + "/" + kMergedName);
    std::filesystem::remove(served + "/" + kListing);
    auto expected = [&](const std::string& client) {
        std::string text = reference;
        replaceAll(text, base.path + "/srv/", base.path + "/" + client + "/");
        return text;
    };

    SshServer server;
    FuseMount one;
    FuseMount two;
    ASSERT_TRUE(mountSshfs(server, base.path + "/srv", base.path + "/one", one));
    ASSERT_TRUE(mountSshfs(server, base.path + "/srv", base.path + "/two", two));
    const std::string ffA = base.path + "/one/HALD/ff/night1";
    const std::string ffB = base.path + "/two/HALD/ff/night1";

    // B, through the second client, is held as it gives its complete file
    // the merged file's name; meanwhile A, through the first, has written
    // its own file and is held as it gives it the name, until after B has
    // ended. Each run's second rename in its folder is the merged file's,
    // after the listing's.
    StartedProgram runB = startHeld({ffB + "/" + kMergedName, ffB}, "rename,renameat,renameat2", 2,
                                    {programPath(), ffB});
    ASSERT_TRUE(heldIn(runB, kRenameCalls)) << runB.seen;
    StartedProgram runA = startHeld({ffA}, "renameat,renameat2", 2, {programPath(), ffA});
    ASSERT_TRUE(heldIn(runA, kRenameCalls)) << runA.seen;
    releaseHeld(runB);
    const RunResult endB = finishProgram(runB);
    ASSERT_TRUE(stillRunningAfter(runA, 0)) << "the runs did not meet: A ended before B";
    EXPECT_EQ(endB.status, 0) << endB.output;
    EXPECT_EQ(endB.output, kBanner + kDone + mergedLine(600, 2, ffB + "/" + kMergedName));
    const std::string afterB = comparable(readFile(served + "/" + kMergedName));
    EXPECT_TRUE(afterB == expected("two"))
        << "B's merged file is not B's complete file: " << summary(afterB) << " in place of "
        << summary(expected("two"));

    releaseHeld(runA);
    const RunResult endA = finishProgram(runA);
    EXPECT_EQ(endA.status, 0) << endA.output;
    EXPECT_EQ(endA.output, kBanner + kDone + mergedLine(600, 2, ffA + "/" + kMergedName));
    const std::string afterA = comparable(readFile(served + "/" + kMergedName));
    EXPECT_TRUE(afterA == expected("one"))
        << "A's merged file is not A's complete file: " << summary(afterA) << " in place of "
        << summary(expected("one"));
    EXPECT_EQ(entries(served), cleanFolder(2)) << "a run left a file of its own";
}

// A run on a fresh file system mounted at `mountPoint` gives the same
// merged file and listing as on the test's own file system, and leaves
// nothing else.
using MountImage = bool (*)(const std::string& image, int megabytes,
                           const std::string& mountPoint, FuseMount& mount);

void mergesAsOnTheTestsOwnFileSystem(MountImage mountImage) {
    TempFolder base;
    FuseMount mount;
    const std::string mountPoint = base.path + "/volume";
    const std::string ff = mountPoint + "/HALD/ff/night1";
    makeFolders(ff);
    writeCameras(ff, 3, 40);
    ASSERT_EQ(runProgram(programPath(), {ff}).status, 0);
    const std::string reference = withoutTime(readFile(ff + "/" + kMergedName));
    const std::string referenceListing = readFile(ff + "/" + kListing);
    std::filesystem::remove_all(mountPoint + "/HALD");

    // The same path, now on the mounted file system.
    ASSERT_TRUE(mountImage(base.path + "/image", 64, mountPoint, mount));
    makeFolders(ff);
    writeCameras(ff, 3, 40);
    const RunResult run = runProgram(programPath(), {ff});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output, kBanner + kDone + mergedLine(120, 3, ff + "/" + kMergedName));
    EXPECT_EQ(withoutTime(readFile(ff + "/" + kMergedName)), reference);
    EXPECT_EQ(readFile(ff + "/" + kListing), referenceListing);
    EXPECT_EQ(entries(ff), cleanFolder(3));
}

TEST(SharedFolders, MergesOnNtfs3gAsOnTheTestsOwnFileSystem) {
    KEL_REQUIRE(fuseUnavailable());
    mergesAsOnTheTestsOwnFileSystem(mountNtfsImage);
}

TEST(SharedFolders, MergesOnExfatAsOnTheTestsOwnFileSystem) {
    KEL_REQUIRE(fuseUnavailable());
    mergesAsOnTheTestsOwnFileSystem(mountExfatImage);
}

// Two users of one group, made for the test and removed after it.
struct GroupUsers {
    GroupUsers() {
        removeUsers();
        made = runTool({"/usr/sbin/groupadd", kGroup}) == 0 &&
               runTool({"/usr/sbin/useradd", "-M", "-N", "-g", kGroup, "-d", "/nonexistent", "-s",
                        "/usr/sbin/nologin", kFirst}) == 0 &&
               runTool({"/usr/sbin/useradd", "-M", "-N", "-g", kGroup, "-d", "/nonexistent", "-s",
                        "/usr/sbin/nologin", kSecond}) == 0;
        EXPECT_TRUE(made) << "could not add the test users and their group";
    }
    ~GroupUsers() { removeUsers(); }
    GroupUsers(const GroupUsers&) = delete;
    GroupUsers& operator=(const GroupUsers&) = delete;
    // Also those a test that was killed left behind.
    static void removeUsers() {
        std::string ignored;
        runTool({"/usr/sbin/userdel", "-f", kFirst}, &ignored);
        runTool({"/usr/sbin/userdel", "-f", kSecond}, &ignored);
        runTool({"/usr/sbin/groupdel", kGroup}, &ignored);
    }
    static constexpr const char* kFirst = "kel24a";
    static constexpr const char* kSecond = "kel24b";
    static constexpr const char* kGroup = "kel24grp";
    bool made = false;
};

std::string rootNeeded() {
    if (geteuid() != 0) {
        return "adding test users and running as them needs root";
    }
    return access("/usr/sbin/useradd", X_OK) == 0 && access("/usr/bin/setpriv", X_OK) == 0
               ? std::string()
               : "useradd or setpriv is missing";
}

TEST(SharedFolders, GroupFolderMergedInTurnKeepsTheMergedFilesOwnerAndGroup) {
    KEL_REQUIRE(rootNeeded());
    GroupUsers users;
    ASSERT_TRUE(users.made);
    FfFolder ff;
    writeCameras(ff.path, 2, 5);
    // The users reach the folder and a copy of the program.
    for (const std::string& folder : {ff.temp.path, ff.temp.path + "/HALD", ff.temp.path + "/HALD/ff"}) {
        chmod(folder.c_str(), 0755);
    }
    const std::string program = ff.temp.path + "/kel_combine_detectinfo";
    std::filesystem::copy_file(programPath(), program);
    chmod(program.c_str(), 0755);
    const gid_t group = getgrnam(GroupUsers::kGroup)->gr_gid;
    const uid_t first = getpwnam(GroupUsers::kFirst)->pw_uid;
    ASSERT_EQ(chown(ff.path.c_str(), 0, group), 0);
    ASSERT_EQ(chmod(ff.path.c_str(), 02775), 0);

    // Each user's run as a login shell with Debian's default umask starts it.
    auto runAs = [&](const std::string& user) {
        return runProgram("/usr/bin/setpriv",
                          {"--reuid=" + user, "--regid=" + std::string(GroupUsers::kGroup),
                           "--init-groups", "/bin/sh", "-c", "umask 022 && exec \"$0\" \"$1\"",
                           program, ff.path});
    };
    auto owners = [&] {
        struct stat merged {};
        EXPECT_EQ(stat(ff.mergedPath().c_str(), &merged), 0);
        return std::to_string(merged.st_uid) + ":" + std::to_string(merged.st_gid);
    };
    const std::string firstOwns = std::to_string(first) + ":" + std::to_string(group);
    const std::string done = kBanner + kDone + mergedLine(10, 2, ff.mergedPath());

    RunResult run = runAs(GroupUsers::kFirst);
    EXPECT_EQ(run.output, done);
    EXPECT_EQ(owners(), firstOwns);
    run = runAs(GroupUsers::kSecond);
    EXPECT_EQ(run.output, done) << "the colleague's run";
    EXPECT_EQ(owners().substr(owners().find(':')), ":" + std::to_string(group));
    run = runAs(GroupUsers::kFirst);
    EXPECT_EQ(run.output, done) << "the owner's run after the colleague's";
    EXPECT_EQ(owners(), firstOwns);
    run = runProgram(programPath(), {ff.path});
    EXPECT_EQ(run.output, done) << "root's run";
    EXPECT_EQ(owners(), firstOwns) << "root's run did not keep the owner";
}

TEST(SharedFolders, MergedFileWithASecondNameSaysWhichNameKeepsTheEarlierFile) {
    FfFolder ff;
    writeCameras(ff.path, 1, 3);
    ASSERT_EQ(runProgram(programPath(), {ff.path}).status, 0);
    const std::string earlier = ff.merged();
    const std::string secondName = ff.temp.path + "/night1-merged.txt";
    ASSERT_EQ(link(ff.mergedPath().c_str(), secondName.c_str()), 0);
    writeCameras(ff.path, 2, 3);

    const RunResult run = runProgram(programPath(), {ff.path});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(ff.merged().substr(0, 23), "Meteor Count = 000006\r\n");
    // The other name is not written through: it keeps the earlier file
    // whole, and the run says so.
    EXPECT_EQ(readFile(secondName), earlier);
    const std::size_t note = run.output.find("hard link");
    ASSERT_NE(note, std::string::npos) << run.output;
    const std::size_t lineStart = run.output.rfind('\n', note) + 1;
    EXPECT_NE(run.output.find(ff.mergedPath(), lineStart), std::string::npos)
        << "the note does not name the merged file:\n" << run.output;
}

TEST(SharedFolders, FolderThatTakesNoNewFileIsNamedAsTheObstacle) {
    KEL_REQUIRE(geteuid() == 0 ? std::string() : "needs root, to run as a user who does not own the folder");
    FfFolder ff;
    writeCameras(ff.path, 1, 3);
    ASSERT_EQ(runProgram(programPath(), {ff.path}).status, 0);
    const std::string earlier = ff.merged();
    // The files may be written by all, the folder only by its owner.
    chmod(ff.mergedPath().c_str(), 0666);
    chmod(ff.file(kListing).c_str(), 0666);
    for (const std::string& folder : {ff.temp.path, ff.temp.path + "/HALD", ff.temp.path + "/HALD/ff", ff.path}) {
        chmod(folder.c_str(), 0755);
    }
    RunOptions asAnother;
    asAnother.unprivileged = true;
    const RunResult run = runProgram(programPath(), {ff.path}, asAnother);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("(Permission denied)"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("KEL detection log file " + ff.mergedPath()), std::string::npos)
        << "the writable merged file was blamed:\n" << run.output;
    // The folder, or the file that could not be made in it, and the
    // operation that failed.
    EXPECT_TRUE(run.output.find("reate") != std::string::npos &&
                (run.output.find(".tmp") != std::string::npos ||
                 run.output.find("folder " + ff.path) != std::string::npos))
        << run.output;
    EXPECT_EQ(ff.merged(), earlier);
}

TEST(SharedFolders, IoErrorOnTheNewMergedFileLeavesNoFileThatIsNotNamed) {
    FfFolder ff;
    writeCameras(ff.path, 1, 3);
    writeFile(ff.mergedPath(), "an earlier merged file\r\n");
    // Every flush to storage fails, and so does every removal after the
    // first, as on a share whose connection was lost.
    const RunResult run = runProgram(
        stracePath(), {"-f", "-qq", "-o", "/dev/null", "-e", "inject=fsync,fdatasync:error=EIO",
                       "-e", "inject=unlink,unlinkat:error=EIO:when=2+", programPath(), ff.path});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("(Input/output error)"), std::string::npos) << run.output;
    EXPECT_EQ(ff.merged(), "an earlier merged file\r\n");
    for (const std::string& name : entries(ff.path)) {
        if (name != kMergedName && name != kListing && name != camera(1)) {
            EXPECT_NE(run.output.find(ff.file(name)), std::string::npos)
                << name << " was left and not named:\n" << run.output;
        }
    }
}

TEST(SharedFolders, ListingThatCannotBeWrittenLeavesTheEarlierListing) {
    FfFolder ff;
    writeCameras(ff.path, 3, 1);
    ASSERT_EQ(runProgram(programPath(), {ff.path}).status, 0);
    const std::string earlier = readFile(ff.file(kListing));
    const std::string earlierMerged = ff.merged();
    writeCameras(ff.path, 8, 1);
    // A file-size limit (ulimit -f) that the new listing outgrows, as a
    // full disk would stop it.
    RunOptions limited;
    limited.fileSizeLimit = static_cast<long long>(earlier.size()) + 10;
    const RunResult run = runProgram(programPath(), {ff.path}, limited);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("Cannot write KELdetectinfo directory listing file"), std::string::npos)
        << run.output;
    EXPECT_TRUE(!fileExists(ff.file(kListing)) || readFile(ff.file(kListing)) == earlier)
        << "a cut listing was left: " << readFile(ff.file(kListing)).size() << " bytes";
    EXPECT_EQ(ff.merged(), earlierMerged);
    EXPECT_EQ(entries(ff.path), cleanFolder(8));
}

}  // namespace
