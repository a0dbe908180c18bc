// A folder that others may write into, merged by root: what an attacker
// with write access to the FF folder plants there (links, FIFOs, devices,
// swapped names, a held lock, huge or odd files, odd permissions, control
// characters) must never make the run read, write, wait or grow beyond the
// folder. One table of attacks; each row plants, runs the program as root
// with a time bound, and checks what must hold after any sound handling.
//
// The rows need two accounts in one group (kel23atk, the attacker, and
// kel23op, an operator), which the suite adds and removes: they run as
// root, and are skipped otherwise (a failure where CI is set).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "ff_folder.h"
#include "run_program.h"
#include "test_files.h"

namespace {

const std::string kSecret = "kel23secret";
const std::string kListing = "MergeListing_KELdetectinfo.txt";
const std::string kMergedName = "KELdetectinfo_0000_night1.txt";

// How long a run may wait for another run's lock before it gives up on the
// folder, and how far a per-camera file is read at most.
constexpr int kLockWaitSeconds = 30;
constexpr long long kReadBound = 1LL << 30;

// Bounds that no sound run comes near on these small folders.
constexpr long kMaxRssKiB = 256 * 1024;
constexpr std::size_t kMaxOutput = 1 << 20;

struct Accounts {
    bool made = false;
    std::string why;  // why they could not be made
    uid_t attacker = 0;
    uid_t operatorUid = 0;
    gid_t group = 0;
};
Accounts gAccounts;

int runTool(const std::vector<std::string>& command) {
    std::vector<std::string> arguments(command.begin() + 1, command.end());
    return runProgram(command[0], arguments).status;
}

void removeAccounts() {
    runTool({"/usr/sbin/userdel", "kel23atk"});
    runTool({"/usr/sbin/userdel", "kel23op"});
    runTool({"/usr/sbin/groupdel", "kel23grp"});
}

void makeAccounts() {
    if (geteuid() != 0) {
        gAccounts.why = "the attacks need test accounts, which only root can add";
        return;
    }
    removeAccounts();  // left by a run that was killed
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"/usr/sbin/groupadd", "kel23grp"},
          {"/usr/sbin/useradd", "-M", "-N", "-g", "kel23grp", "-s", "/usr/sbin/nologin", "kel23atk"},
          {"/usr/sbin/useradd", "-M", "-N", "-g", "kel23grp", "-s", "/usr/sbin/nologin", "kel23op"}}) {
        if (runTool(command) != 0) {
            gAccounts.why = command[0] + " " + command.back() + " failed";
            return;
        }
    }
    // getpwnam's entry is overwritten by the next call: each uid is taken
    // at once.
    const passwd* entry = getpwnam("kel23atk");
    gAccounts.attacker = entry != nullptr ? entry->pw_uid : 0;
    entry = getpwnam("kel23op");
    gAccounts.operatorUid = entry != nullptr ? entry->pw_uid : 0;
    const group* shared = getgrnam("kel23grp");
    if (gAccounts.attacker == 0 || gAccounts.operatorUid == 0 || shared == nullptr) {
        gAccounts.why = "the accounts were added but cannot be found";
        return;
    }
    gAccounts.group = shared->gr_gid;
    gAccounts.made = true;
}

// Makes `path` the attacker's, as if the attacker had made it.
void byAttacker(const std::string& path) {
    ASSERT_EQ(lchown(path.c_str(), gAccounts.attacker, gAccounts.group), 0) << path;
}

void plantLink(const std::string& target, const std::string& link) {
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0) << link;
    byAttacker(link);
}

// Becomes the attacker, in a child process.
void becomeAttacker() {
    if (setgroups(0, nullptr) != 0 || setgid(gAccounts.group) != 0 ||
        setuid(gAccounts.attacker) != 0) {
        _exit(126);
    }
}

// The folders of one attack: a station's group folder (mode 2775, the
// operator's, the shared group's), a per-camera file of the operator's in
// it, another user's private file and a root-only file beside it, and the
// files outside the folder that must stay as they are.
struct Scene {
    TempFolder temp;
    std::string ffRoot = temp.path + "/HALD/ff";
    std::string ff = ffRoot + "/night1";
    std::string privateFile = temp.path + "/priv/KELdetectinfo_9_private.txt";
    std::string rootOnly = temp.path + "/rootonly/shadow";
    std::vector<std::string> targets;  // files outside the folder, compared after the run
    std::vector<std::string> targetBytes;

    Scene() {
        makeFolders(ff);
        makeFolders(temp.path + "/priv");
        makeFolders(temp.path + "/rootonly");
        for (const std::string& folder : {temp.path, temp.path + "/HALD"}) {
            chmod(folder.c_str(), 0755);
        }
        for (const std::string& folder : {ffRoot, ff}) {
            chown(folder.c_str(), gAccounts.operatorUid, gAccounts.group);
            chmod(folder.c_str(), 02775);
        }
        writeFile(file("KELdetectinfo_0001_a.txt"), perCameraHeader(1) + perCameraRecord(1, 1, 1));
        chown(file("KELdetectinfo_0001_a.txt").c_str(), gAccounts.operatorUid, gAccounts.group);

        std::string record = perCameraRecord(9, 1, 1);
        record.replace(record.find("FF_c9"), 5, "FF_" + kSecret);
        writeFile(privateFile, perCameraHeader(1) + record);
        chmod(privateFile.c_str(), 0600);
        chown(privateFile.c_str(), gAccounts.operatorUid, gAccounts.group);
        chown((temp.path + "/priv").c_str(), gAccounts.operatorUid, gAccounts.group);
        chmod((temp.path + "/priv").c_str(), 0700);

        std::string lines;
        for (int line = 1; line <= 20; ++line) {
            lines += kSecret + " line " + std::to_string(line) + ": root:$6$hash:19000:0:99999\n";
        }
        writeFile(rootOnly, lines);
        chmod(rootOnly.c_str(), 0600);
        chmod((temp.path + "/rootonly").c_str(), 0700);
        keep(privateFile);
        keep(rootOnly);
    }
    std::string file(const std::string& name) const { return ff + "/" + name; }
    void keep(const std::string& path) {
        targets.push_back(path);
        targetBytes.push_back(readFile(path));
    }
};

// A run that ended, or was killed at its bound.
struct BoundedRun {
    RunResult run;
    bool ended = false;       // it ended by itself within the bound
    long maxRssKiB = 0;       // its largest resident size
    std::size_t outputBytes = 0;
};

// Starts `program` with `arguments`, standard input at its end, and ends
// it with SIGKILL when it runs longer than `seconds`. Its output is read
// all along, so that a run writing without end cannot stall on the pipe.
BoundedRun runBounded(const std::vector<std::string>& arguments, int seconds,
                      const std::string& program = programPath()) {
    BoundedRun bounded;
    StartedProgram started = startProgram(program, arguments);
    close(started.input);
    started.input = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    rusage usage{};
    bool reading = true;
    for (;;) {
        if (reading) {
            pollfd ready{started.output, POLLIN, 0};
            if (poll(&ready, 1, 50) > 0) {
                char chunk[65536];
                const ssize_t got = read(started.output, chunk, sizeof chunk);
                if (got <= 0) {
                    reading = false;
                } else {
                    bounded.outputBytes += static_cast<std::size_t>(got);
                    if (started.seen.size() < kMaxOutput) {
                        started.seen.append(chunk, static_cast<std::size_t>(got));
                    }
                }
            }
        } else {
            usleep(20000);
        }
        if (wait4(started.pid, &status, WNOHANG, &usage) == started.pid) {
            bounded.ended = true;
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(started.pid, SIGKILL);
            while (wait4(started.pid, &status, 0, &usage) < 0 && errno == EINTR) {
            }
            break;
        }
    }
    started.ended = true;
    started.waitStatus = status;
    const std::size_t kept = started.seen.size();
    bounded.run = finishProgram(started);
    bounded.outputBytes += bounded.run.output.size() - kept;
    bounded.maxRssKiB = usage.ru_maxrss;
    return bounded;
}

std::string contentsOf(const std::string& path, std::size_t most = kMaxOutput) {
    const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW);
    std::string bytes(most, '\0');
    ssize_t got = descriptor < 0 ? 0 : read(descriptor, bytes.data(), most);
    if (descriptor >= 0) {
        close(descriptor);
    }
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return bytes;
}

int mergedCount(const std::string& merged) {
    return merged.rfind("Meteor Count = ", 0) == 0 ? std::atoi(merged.c_str() + 15) : -1;
}

// What holds after every attack: the run ended within its bound, in
// bounded memory and output; no secret byte reached the output, the
// merged file or the listing; every file outside the folder is as it was.
void expectContained(const Scene& scene, const BoundedRun& bounded, int seconds) {
    EXPECT_TRUE(bounded.ended) << "still running after " << seconds << " s; killed";
    EXPECT_LT(bounded.maxRssKiB, kMaxRssKiB) << "KiB resident at most";
    EXPECT_LT(bounded.outputBytes, kMaxOutput) << "bytes of messages";
    EXPECT_EQ(bounded.run.output.find(kSecret), std::string::npos) << bounded.run.output;
    for (const std::string& name : {kMergedName, kListing}) {
        EXPECT_EQ(contentsOf(scene.file(name)).find(kSecret), std::string::npos)
            << name << " holds a secret";
    }
    for (std::size_t i = 0; i < scene.targets.size(); ++i) {
        EXPECT_EQ(contentsOf(scene.targets[i]), scene.targetBytes[i])
            << scene.targets[i] << " was changed";
    }
}

bool names(const BoundedRun& bounded, const std::string& path) {
    return bounded.run.output.find(path) != std::string::npos;
}

// A run on a folder whose one other per-camera name is an attack: that
// name is named and left out, everything else is merged.
void expectLeftOut(const Scene& scene, const std::string& name, int seconds = 10) {
    const BoundedRun bounded = runBounded({scene.ff}, seconds);
    expectContained(scene, bounded, seconds);
    EXPECT_EQ(bounded.run.status, 2) << bounded.run.output;
    EXPECT_TRUE(names(bounded, scene.file(name))) << bounded.run.output;
    EXPECT_EQ(mergedCount(contentsOf(scene.file(kMergedName))), 1);
}

// A run on a folder whose listing name was planted: the plant is replaced
// (the folder merged as usual) or refused with a message that names the
// listing, and what it pointed to is untouched.
void expectListingContained(const Scene& scene, int seconds = 10) {
    const BoundedRun bounded = runBounded({scene.ff}, seconds);
    expectContained(scene, bounded, seconds);
    const bool merged = bounded.run.status == 0 &&
                        mergedCount(contentsOf(scene.file(kMergedName))) == 1;
    const bool refused = bounded.run.status == 1 && names(bounded, scene.file(kListing));
    EXPECT_TRUE(merged || refused) << bounded.run.status << bounded.run.output;
}

// A child that does `step` as the attacker, over and over, until
// `seconds` have passed or it is stopped.
struct Swapper {
    pid_t pid = -1;
    Swapper(const std::function<void()>& step, int seconds) {
        pid = fork();
        if (pid == 0) {
            becomeAttacker();
            const time_t end = time(nullptr) + seconds;
            while (time(nullptr) < end) {
                step();
            }
            _exit(0);
        }
    }
    ~Swapper() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    Swapper(const Swapper&) = delete;
    Swapper& operator=(const Swapper&) = delete;
};

// --- the attacks -----------------------------------------------------

void linkToAnotherUsersPrivateFile(Scene& scene) {
    plantLink(scene.privateFile, scene.file("KELdetectinfo_0009_private.txt"));
    expectLeftOut(scene, "KELdetectinfo_0009_private.txt");
}

void linkToRootOnlyFile(Scene& scene) {
    plantLink(scene.rootOnly, scene.file("KELdetectinfo_0008_shadow.txt"));
    expectLeftOut(scene, "KELdetectinfo_0008_shadow.txt");
}

void linkToProcKmsg(Scene& scene) {
    // A file the kernel calls regular that blocks its reader; reading it
    // would also take the kernel's messages from their reader.
    plantLink("/proc/kmsg", scene.file("KELdetectinfo_0007_kmsg.txt"));
    expectLeftOut(scene, "KELdetectinfo_0007_kmsg.txt");
}

void listingLinkedToDevZero(Scene& scene) {
    plantLink("/dev/zero", scene.file(kListing));
    expectListingContained(scene);
}

void listingLinkedToDevUrandom(Scene& scene) {
    plantLink("/dev/urandom", scene.file(kListing));
    expectListingContained(scene);
}

void listingIsAFifo(Scene& scene) {
    ASSERT_EQ(mkfifo(scene.file(kListing).c_str(), 0666), 0);
    byAttacker(scene.file(kListing));
    expectListingContained(scene);
    // The run left the folder: the next one is not kept waiting.
    expectListingContained(scene);
}

void listingLinkedToAFile(Scene& scene) {
    const std::string precious = scene.temp.path + "/precious";
    writeFile(precious, "precious\n");
    scene.keep(precious);
    plantLink(precious, scene.file(kListing));
    expectListingContained(scene);
}

void listingLinkedToABlockDevice(Scene& scene) {
    const std::string image = scene.temp.path + "/disk.img";
    writeFile(image, std::string(4096, 'D') + "precious device\n");
    const RunResult attached = runProgram("/usr/sbin/losetup", {"-f", "--show", image});
    std::string device = attached.output;
    if (attached.status != 0 || device.empty()) {
        GTEST_SKIP() << "no loop device here to stand for a disk";
    }
    device.pop_back();  // its line end
    struct Detach {
        std::string device;
        ~Detach() { runTool({"/usr/sbin/losetup", "-d", device}); }
    } detach{device};
    scene.keep(device);
    plantLink(device, scene.file(kListing));
    expectListingContained(scene);
}

void listingSwappedForALinkOnceWritten(Scene& scene) {
    // The attacker's loop puts a link to a root-only file in the listing's
    // place whenever a listing stands there.
    const std::string listing = scene.file(kListing);
    const std::string aside = scene.file("aside");
    const std::string target = scene.rootOnly;
    Swapper swapper(
        [&] {
            struct stat status {};
            if (lstat(listing.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
                symlink(target.c_str(), aside.c_str());
                rename(aside.c_str(), listing.c_str());
            }
        },
        20);
    for (int run = 0; run < 20 && !testing::Test::HasFailure(); ++run) {
        SCOPED_TRACE("run " + std::to_string(run + 1));
        const BoundedRun bounded = runBounded({scene.ff}, 10);
        expectContained(scene, bounded, 10);
        EXPECT_TRUE(bounded.run.status == 0 || bounded.run.status == 1) << bounded.run.output;
    }
}

std::set<std::string> entriesOf(const std::string& folder) {
    std::set<std::string> entries;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        entries.insert(entry.path().filename().string());
    }
    return entries;
}

void folderIsAnotherUsersLink(Scene& scene) {
    // A plain link in the attacker's reach, as the README's ff/*/ loop
    // would meet it.
    const std::string victim = scene.temp.path + "/rootonly";
    const std::set<std::string> before = entriesOf(victim);
    plantLink(victim, scene.ffRoot + "/night9");
    for (const std::string& given : {scene.ffRoot + "/night9", scene.ffRoot + "/night9/"}) {
        SCOPED_TRACE(given);
        const BoundedRun bounded = runBounded({given}, 10);
        expectContained(scene, bounded, 10);
        EXPECT_EQ(bounded.run.status, 1) << bounded.run.output;
        EXPECT_TRUE(names(bounded, scene.ffRoot + "/night9")) << bounded.run.output;
        EXPECT_EQ(entriesOf(victim), before) << "written into the folder the link points to";
    }
}

void folderSwappedWithALinkInALoop(Scene& scene) {
    const std::string victim = scene.temp.path + "/rootonly";
    const std::set<std::string> before = entriesOf(victim);
    const std::string folder = scene.ffRoot + "/night9";
    const std::string link = scene.ffRoot + "/night9.swap";
    makeFolders(folder);
    byAttacker(folder);
    writeFile(folder + "/KELdetectinfo_0001_a.txt", perCameraHeader(1) + perCameraRecord(1, 1, 1));
    plantLink(victim, link);
    Swapper swapper(
        [&] { renameat2(AT_FDCWD, folder.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE); }, 25);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int runs = 0;
    for (; runs < 300 && std::chrono::steady_clock::now() < end; ++runs) {
        const BoundedRun bounded = runBounded({folder}, 10);
        EXPECT_TRUE(bounded.ended);
        EXPECT_EQ(bounded.run.output.find(kSecret), std::string::npos) << bounded.run.output;
        if (entriesOf(victim) != before || testing::Test::HasFailure()) {
            break;
        }
    }
    EXPECT_EQ(entriesOf(victim), before) << "written into the folder the link points to, run "
                                         << runs + 1;
    EXPECT_EQ(contentsOf(scene.rootOnly), scene.targetBytes[1]);
}

void lockHeldByAReader(Scene& scene) {
    // Read access to the folder is all that flock needs.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        becomeAttacker();
        const int folder = open(scene.ff.c_str(), O_RDONLY | O_DIRECTORY);
        if (folder < 0 || flock(folder, LOCK_EX) != 0) {
            _exit(1);
        }
        ssize_t ignored = write(ready[1], "x", 1);
        (void)ignored;
        pause();
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    const int bound = kLockWaitSeconds + 10;
    const BoundedRun bounded = runBounded({scene.ff}, bound);
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    expectContained(scene, bounded, bound);
    EXPECT_EQ(bounded.run.status, 1) << bounded.run.output;
    EXPECT_TRUE(names(bounded, scene.ff)) << bounded.run.output;
    EXPECT_FALSE(fileExists(scene.file(kMergedName))) << "merged while another held the folder";
}

void sparseFileBeyondTheReadBound(Scene& scene) {
    // Records at its start and past the bound, nothing but a hole between;
    // ten more names for the same file.
    const std::string huge = scene.file("KELdetectinfo_0005_huge.txt");
    writeFile(huge, perCameraHeader(2) + perCameraRecord(5, 1, 1));
    std::string beyond = "\n" + perCameraRecord(5, 2, 1);
    beyond.replace(beyond.find("FF_c5"), 5, "FF_kel23beyond");
    const int descriptor = open(huge.c_str(), O_WRONLY);
    ASSERT_GE(descriptor, 0);
    ASSERT_EQ(pwrite(descriptor, beyond.data(), beyond.size(), kReadBound + 4096),
              static_cast<ssize_t>(beyond.size()));
    close(descriptor);
    byAttacker(huge);
    for (int n = 0; n < 10; ++n) {
        const std::string other = scene.file("KELdetectinfo_0006_l" + std::to_string(n) + ".txt");
        ASSERT_EQ(link(huge.c_str(), other.c_str()), 0);
    }
    const BoundedRun bounded = runBounded({scene.ff}, 20);
    expectContained(scene, bounded, 20);
    EXPECT_EQ(bounded.run.status, 2) << bounded.run.output;
    EXPECT_TRUE(names(bounded, huge)) << bounded.run.output.substr(0, 4000);
    const std::string merged = contentsOf(scene.file(kMergedName));
    EXPECT_EQ(merged.find("kel23beyond"), std::string::npos) << "read past the bound";
    EXPECT_EQ(mergedCount(merged), 2) << "the huge file merged more than once";
}

void manyNamesForOneFile(Scene& scene) {
    // 300 names for one file of a few hundred KB make one merge of it.
    std::string text = perCameraHeader(1000);
    for (int meteor = 1; meteor <= 1000; ++meteor) {
        text += perCameraRecord(4, meteor, 4);
    }
    const std::string real = scene.file("KELdetectinfo_0004_real.txt");
    writeFile(real, text);
    byAttacker(real);
    for (int n = 0; n < 299; ++n) {
        plantLink(real, scene.file("KELdetectinfo_0004_l" + std::to_string(n) + ".txt"));
    }
    const BoundedRun bounded = runBounded({scene.ff}, 20);
    expectContained(scene, bounded, 20);
    EXPECT_EQ(bounded.run.status, 2);
    EXPECT_TRUE(names(bounded, scene.file("KELdetectinfo_0004_l7.txt")));
    EXPECT_EQ(mergedCount(contentsOf(scene.file(kMergedName))), 1001);

    // Two folders that link each other's merged file: each run merges the
    // other's merged file once at most, so the counts do not multiply.
    const std::string other = scene.ffRoot + "/night2";
    makeFolders(other);
    writeFile(other + "/KELdetectinfo_0002_b.txt", perCameraHeader(1) + perCameraRecord(2, 1, 1));
    for (const std::string name : {"KELdetectinfo_0003_x.txt", "KELdetectinfo_0003_y.txt"}) {
        plantLink(other + "/KELdetectinfo_0000_night2.txt", scene.file(name));
        plantLink(scene.file(kMergedName), other + "/" + name);
    }
    for (int round = 0; round < 3; ++round) {
        EXPECT_TRUE(runBounded({other}, 20).ended);
        const int before = mergedCount(contentsOf(other + "/KELdetectinfo_0000_night2.txt"));
        EXPECT_TRUE(runBounded({scene.ff}, 20).ended);
        const int after = mergedCount(contentsOf(scene.file(kMergedName)));
        EXPECT_LE(after, 1001 + before) << "round " << round << ": merged more than once";
    }
}

void earlierMergedFileWorldWritable(Scene& scene) {
    // Root's umask 077, and an earlier merged file of the attacker's, 0666.
    const std::string merged = scene.file(kMergedName);
    writeFile(merged, "an earlier merged file\r\n");
    chmod(merged.c_str(), 0666);
    byAttacker(merged);
    const mode_t before = umask(077);
    const BoundedRun bounded = runBounded({scene.ff}, 10);
    umask(before);
    expectContained(scene, bounded, 10);
    EXPECT_EQ(bounded.run.status, 0) << bounded.run.output;
    struct stat status {};
    ASSERT_EQ(lstat(merged.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u) << "the attacker's bits were kept";
}

void earlierMergedFile0000InAStickyFolder(Scene& scene) {
    chown(scene.ff.c_str(), 0, gAccounts.group);
    chmod(scene.ff.c_str(), 03775);
    const std::string merged = scene.file(kMergedName);
    writeFile(merged, "an earlier merged file\r\n");
    chmod(merged.c_str(), 0);
    byAttacker(merged);
    const mode_t before = umask(022);
    const BoundedRun bounded = runBounded({scene.ff}, 10);
    umask(before);
    expectContained(scene, bounded, 10);
    EXPECT_EQ(bounded.run.status, 0) << bounded.run.output;
    struct stat status {};
    ASSERT_EQ(lstat(merged.c_str(), &status), 0);
    // No bit the earlier file lacked: it goes back to the attacker, who chose them.
    EXPECT_EQ(status.st_mode & 07777, 0u) << "wider than the earlier file";
    // The operator may not replace root's files in the sticky folder: the
    // run ends at once and says which file is in the way.
    const BoundedRun operatorRun =
        runBounded({"--reuid=kel23op", "--regid=kel23grp", "--init-groups", programPath(),
                    scene.ff}, 10, "/usr/bin/setpriv");
    EXPECT_TRUE(operatorRun.ended);
    EXPECT_EQ(operatorRun.run.status, 1) << operatorRun.run.output;
    EXPECT_TRUE(names(operatorRun, scene.ff + "/")) << operatorRun.run.output;
}

void controlCharactersInNames(Scene& scene) {
    // No camera number, a damaged record, a file cut inside its header:
    // three kinds of message, each naming a file with ESC and BEL.
    writeFile(scene.file("KELdetectinfo_\x1b[2J\x07_x.txt"), perCameraHeader(1));
    writeFile(scene.file("KELdetectinfo_0002_\x1b]0;t\x07.txt"),
              perCameraHeader(1) + kSeparator + "not a record\n");
    writeFile(scene.file("KELdetectinfo_0003_\x1b[5m.txt"), "Meteor Count = 000001\n");
    // A C1 control as a raw byte and in UTF-8, and a right-to-left override.
    writeFile(scene.file("KELdetectinfo_0004_\x9b" "2J.txt"), "Meteor Count = 000001\n");
    writeFile(scene.file("KELdetectinfo_0005_\xc2\x9b" "2J.txt"), "Meteor Count = 000001\n");
    writeFile(scene.file("KELdetectinfo_0006_\xe2\x80\xae" "exe.txt"), "Meteor Count = 000001\n");
    const BoundedRun bounded = runBounded({scene.ff}, 10);
    expectContained(scene, bounded, 10);
    EXPECT_EQ(bounded.run.status, 2) << bounded.run.output;
    for (const char* raw : {"\x1b", "\x07", "\x9b", "\xe2\x80\xae"}) {
        EXPECT_EQ(bounded.run.output.find(raw), std::string::npos) << "a control character printed raw";
    }
    for (const char* shown : {"KELdetectinfo_\\x1B[2J\\x07_x.txt", "KELdetectinfo_0002_\\x1B]0;t\\x07.txt",
                              "KELdetectinfo_0003_\\x1B[5m.txt", "KELdetectinfo_0004_\\x9B2J.txt",
                              "KELdetectinfo_0005_\\xC2\\x9B2J.txt",
                              "KELdetectinfo_0006_\\xE2\\x80\\xAEexe.txt"}) {
        EXPECT_NE(bounded.run.output.find(shown), std::string::npos) << shown;
    }
}

void linksNamedBeforeTheirNights(Scene& scene) {
    // Links that a glob of the nights lists before the nights they lead to
    // are refused, and the nights are merged where they are named.
    const std::string night2 = scene.ffRoot + "/night2";
    makeFolders(night2);
    writeFile(night2 + "/KELdetectinfo_0002_b.txt", perCameraHeader(1) + perCameraRecord(2, 1, 1));
    plantLink("night1", scene.ffRoot + "/aaa");
    plantLink(night2, scene.ffRoot + "/nigh");
    const BoundedRun bounded = runBounded(
        {scene.ffRoot + "/aaa/", scene.ffRoot + "/nigh/", scene.ff + "/", night2 + "/"}, 20);
    expectContained(scene, bounded, 20);
    EXPECT_EQ(bounded.run.status, 1) << bounded.run.output;
    EXPECT_TRUE(names(bounded, " Failed: " + scene.ffRoot + "/aaa/ (another user's link) "));
    EXPECT_EQ(mergedCount(contentsOf(scene.file(kMergedName))), 1) << bounded.run.output;
    EXPECT_EQ(mergedCount(contentsOf(night2 + "/KELdetectinfo_0000_night2.txt")), 1);
}

struct stat statusOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
    return status;
}

void mergedFilePlantedBeforeTheRun(Scene& scene) {
    // The attacker's merged file: root's new one is root's while it is
    // written (the run killed at its rename leaves it to be looked at), and
    // the attacker's, with no wider bits, only once complete and in place.
    const std::string merged = scene.file(kMergedName);
    writeFile(merged, "x\n");
    chmod(merged.c_str(), 0640);
    byAttacker(merged);
    const BoundedRun killed = runBounded({"-f", "-qq", "-o", "/dev/null", "-e",
                                          "inject=renameat:signal=KILL:when=2", programPath(),
                                          scene.ff},
                                         10, stracePath());
    EXPECT_TRUE(killed.ended);
    std::vector<std::string> staged;
    for (const std::string& name : entriesOf(scene.ff)) {
        if (name.rfind("KELdetectinfo_0000_night1." + hostForFiles() + ".", 0) == 0) {
            staged.push_back(scene.file(name));
        }
    }
    ASSERT_EQ(staged.size(), 1u) << "the killed run's temporary file";
    EXPECT_EQ(statusOf(staged[0]).st_uid, 0u) << "given away before it was complete";
    EXPECT_EQ(statusOf(staged[0]).st_mode & 022, 0u);
    const BoundedRun bounded = runBounded({scene.ff}, 10);
    expectContained(scene, bounded, 10);
    EXPECT_EQ(bounded.run.status, 0) << bounded.run.output;
    EXPECT_EQ(statusOf(merged).st_uid, gAccounts.attacker);
    EXPECT_EQ(statusOf(merged).st_mode & 07777 & ~0640u, 0u) << "wider than the earlier file";
    EXPECT_EQ(mergedCount(contentsOf(merged)), 1);
    EXPECT_FALSE(fileExists(staged[0])) << "the killed run's file was left";
}

void folderBehindALinkAboveIt(Scene& scene) {
    // The operator's private station, reached through the attacker's link
    // one level above the FF folder: nothing is written into it.
    const std::string station = scene.temp.path + "/priv/obs";
    const std::string victimNight = station + "/HALD/ff/night1";
    makeFolders(victimNight);
    const std::string victimMerged = victimNight + "/" + kMergedName;
    writeFile(victimMerged, "the operator's own merged file\r\n");
    chmod(victimMerged.c_str(), 0600);
    rename(scene.privateFile.c_str(), (victimNight + "/KELdetectinfo_0009_private.txt").c_str());
    scene.targets[0] = victimMerged;
    scene.targetBytes[0] = readFile(victimMerged);
    const std::string station2 = scene.ffRoot + "/st2";
    plantLink(station, station2);
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{station2 + "/HALD/ff/night1"},
          {station2 + "/HALD/ff/night1/", scene.ff + "/"}}) {
        const BoundedRun bounded = runBounded(arguments, 10);
        expectContained(scene, bounded, 10);
        EXPECT_EQ(bounded.run.status, 1) << bounded.run.output;
        EXPECT_TRUE(names(bounded, " lies behind " + station2 + ", a link of another user, kel23atk; "
                                   "not followed "))
            << bounded.run.output;
        EXPECT_EQ(entriesOf(victimNight).size(), 2u) << "written into the operator's folder";
    }
}

void linkToAFileAnAclDenies(Scene& scene) {
    // Mode bits would let the attacker read it; the access control list
    // does not. Root opens the link as its owner; the operator, who cannot,
    // refuses the link rather than weigh the list.
    const std::string denied = scene.temp.path + "/acl/KELdetectinfo_0009_acl.txt";
    makeFolders(scene.temp.path + "/acl");
    chmod((scene.temp.path + "/acl").c_str(), 0755);
    writeFile(denied, readFile(scene.privateFile));
    chmod(denied.c_str(), 0644);
    ASSERT_EQ(runTool({"/usr/bin/setfacl", "-m", "user:kel23atk:---", denied}), 0);
    scene.keep(denied);
    plantLink(denied, scene.file("KELdetectinfo_0009_acl.txt"));
    const std::string refused = scene.file("KELdetectinfo_0009_acl.txt") +
                                " is a link of another user to a file that user may not read";
    const BoundedRun bounded = runBounded({scene.ff}, 10);
    expectContained(scene, bounded, 10);
    EXPECT_EQ(bounded.run.status, 2) << bounded.run.output;
    EXPECT_TRUE(names(bounded, refused)) << bounded.run.output;
    const BoundedRun operatorRun = runBounded(
        {"--reuid=kel23op", "--regid=kel23grp", "--init-groups", programPath(), scene.ff}, 10,
        "/usr/bin/setpriv");
    expectContained(scene, operatorRun, 10);
    EXPECT_EQ(operatorRun.run.status, 2) << operatorRun.run.output;
    EXPECT_TRUE(names(operatorRun, ", and " + denied + " carries an access control list"))
        << operatorRun.run.output;
}

void hintThroughLinks(Scene& scene) {
    // The folder above the nights: the hint counts the nights that are
    // folders of the folder, and follows no link, neither to a private
    // folder nor a thousand times into a large one.
    const std::string large = scene.temp.path + "/large";
    makeFolders(large);
    for (int n = 0; n < 20000; ++n) {
        close(open((large + "/FF_" + std::to_string(n) + ".fits").c_str(), O_CREAT | O_WRONLY, 0644));
    }
    writeFile(large + "/KELdetectinfo_0001_z.txt", perCameraHeader(0));
    plantLink(scene.temp.path + "/priv", scene.ffRoot + "/aaa");
    for (int n = 0; n < 1000; ++n) {
        plantLink(large, scene.ffRoot + "/l" + std::to_string(n));
    }
    const BoundedRun bounded = runBounded({scene.ffRoot}, 10);
    expectContained(scene, bounded, 10);
    EXPECT_TRUE(names(bounded, " 1 folder below it holds per-camera files; to merge it: "))
        << bounded.run.output.substr(0, 2000);
}

void temporaryNamesTaken(Scene& scene) {
    // The names of the run's own temporary listing and merged file taken
    // by folders before it starts, and a thousand more names like them:
    // the run takes other names and says a few lines of it at most. A
    // dead run's listing is removed.
    const std::string host = hostForFiles();
    const std::string listingStem = scene.file("MergeListing_KELdetectinfo." + host);
    const std::string mergedStem = scene.file("KELdetectinfo_0000_night1." + host);
    for (int n = 0; n < 500; ++n) {
        const std::string other = ".elsewhere" + std::to_string(n) + "." + std::to_string(n) + ".tmp";
        makeFolders(scene.file("KELdetectinfo_0000_night1." + host + "." + std::to_string(4000000 + n) + ".tmp"));
        writeFile(scene.file("KELdetectinfo_0000_night1" + other), "");
        writeFile(scene.file("MergeListing_KELdetectinfo" + other), "");
    }
    const std::string dead = listingStem + ".4999999.tmp";
    writeFile(dead, "a killed run's listing");
    ASSERT_EQ(runTool({"/bin/chown", "-R", "kel23atk:kel23grp", scene.ff}), 0);
    chown(dead.c_str(), 0, 0);
    const BoundedRun bounded = runBounded(
        {"-c", "mkdir \"$1.$$.tmp\" \"$2.$$.tmp\" && chown kel23atk \"$1.$$.tmp\" && exec \"$0\" \"$3\"",
         programPath(), listingStem, mergedStem, scene.ff},
        10, "/bin/sh");
    expectContained(scene, bounded, 10);
    EXPECT_EQ(bounded.run.status, 0) << bounded.run.output.substr(0, 2000);
    EXPECT_EQ(mergedCount(contentsOf(scene.file(kMergedName))), 1);
    EXPECT_LT(std::count(bounded.run.output.begin(), bounded.run.output.end(), '\n'), 24)
        << bounded.run.output.substr(0, 2000);
    EXPECT_FALSE(fileExists(dead));
}

struct Attack {
    const char* name;
    void (*attack)(Scene&);
};

void PrintTo(const Attack& attack, std::ostream* out) {
    *out << attack.name;
}

const Attack kAttacks[] = {
    {"LinkToAnotherUsersPrivateFile", linkToAnotherUsersPrivateFile},
    {"LinkToRootOnlyFile", linkToRootOnlyFile},
    {"LinkToProcKmsg", linkToProcKmsg},
    {"ListingLinkedToDevZero", listingLinkedToDevZero},
    {"ListingLinkedToDevUrandom", listingLinkedToDevUrandom},
    {"ListingIsAFifo", listingIsAFifo},
    {"ListingLinkedToABlockDevice", listingLinkedToABlockDevice},
    {"ListingLinkedToAFile", listingLinkedToAFile},
    {"ListingSwappedForALinkOnceWritten", listingSwappedForALinkOnceWritten},
    {"FolderIsAnotherUsersLink", folderIsAnotherUsersLink},
    {"FolderSwappedWithALinkInALoop", folderSwappedWithALinkInALoop},
    {"LockHeldByAReader", lockHeldByAReader},
    {"SparseFileBeyondTheReadBound", sparseFileBeyondTheReadBound},
    {"ManyNamesForOneFile", manyNamesForOneFile},
    {"EarlierMergedFileWorldWritable", earlierMergedFileWorldWritable},
    {"EarlierMergedFile0000InAStickyFolder", earlierMergedFile0000InAStickyFolder},
    {"ControlCharactersInNames", controlCharactersInNames},
    {"LinksNamedBeforeTheirNights", linksNamedBeforeTheirNights},
    {"MergedFilePlantedBeforeTheRun", mergedFilePlantedBeforeTheRun},
    {"FolderBehindALinkAboveIt", folderBehindALinkAboveIt},
    {"LinkToAFileAnAclDenies", linkToAFileAnAclDenies},
    {"HintThroughLinks", hintThroughLinks},
    {"TemporaryNamesTaken", temporaryNamesTaken},
};

class FolderAttacks : public testing::TestWithParam<Attack> {
protected:
    static void SetUpTestSuite() { makeAccounts(); }
    static void TearDownTestSuite() {
        if (gAccounts.made) {
            removeAccounts();
        }
    }
    void SetUp() override {
        if (!gAccounts.made) {
            if (std::getenv("CI") != nullptr) {
                FAIL() << gAccounts.why;
            }
            GTEST_SKIP() << gAccounts.why;
        }
    }
};

TEST_P(FolderAttacks, StayInsideTheFolder) {
    Scene scene;
    GetParam().attack(scene);
}

INSTANTIATE_TEST_SUITE_P(, FolderAttacks, testing::ValuesIn(kAttacks),
                         [](const testing::TestParamInfo<Attack>& row) {
                             return std::string(row.param.name);
                         });

}  // namespace
