// Real file systems for the tests, mounted through FUSE by the test itself
// and unmounted when the test ends: an sshd of the test's own on 127.0.0.1
// with sshfs clients of it, an NTFS image through ntfs-3g and an exFAT
// image through exfat-fuse. Needs root and /dev/fuse; see fuseUnavailable.
#pragma once

#include <sys/types.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "run_program.h"
#include "test_files.h"

// Why these file systems cannot be mounted here (not root, no /dev/fuse, a
// tool missing), or empty when they can.
std::string fuseUnavailable();

// Skips the test with the reason `whyNot` unless it is empty, but fails it where the environment
// variable CI is set: the CI machine can mount, so a skip there hides a
// failure.
#define KEL_REQUIRE(whyNot)                                             \
    do {                                                                \
        const std::string kelWhyNot = (whyNot);                         \
        if (!kelWhyNot.empty()) {                                       \
            if (std::getenv("CI") != nullptr) {                         \
                FAIL() << "CI is set, so this may not skip: " << kelWhyNot; \
            }                                                           \
            GTEST_SKIP() << kelWhyNot;                                  \
        }                                                               \
    } while (false)

// An sshd listening on 127.0.0.1 on a free port, with its own host key and
// a key of its own for root, all in `keys`; stopped when the object goes.
// The system's sshd and its configuration are not touched.
struct SshServer {
    SshServer();
    ~SshServer();
    SshServer(const SshServer&) = delete;
    SshServer& operator=(const SshServer&) = delete;
    TempFolder keys;
    StartedProgram sshd;
    int port = 0;
    bool running = false;  // false after a test failure that says why
};

// A FUSE mount, unmounted (and its loop device, if any, detached) when the
// object goes.
struct FuseMount {
    FuseMount() = default;
    ~FuseMount();
    FuseMount(const FuseMount&) = delete;
    FuseMount& operator=(const FuseMount&) = delete;
    std::string mountPoint;
    std::string loopDevice;
    bool mounted = false;
};

// Mounts `folder` of the server's machine at `mountPoint` through sshfs, as
// one client of it. False, after a test failure that says why, when it
// cannot.
bool mountSshfs(const SshServer& server, const std::string& folder, const std::string& mountPoint,
                FuseMount& mount);

// Makes a sparse image file of `megabytes` with a fresh file system and
// mounts it at `mountPoint`: NTFS through ntfs-3g on the file itself;
// exFAT through exfat-fuse, which mounts only block devices, on a loop
// device of the file.
bool mountNtfsImage(const std::string& image, int megabytes, const std::string& mountPoint,
                    FuseMount& mount);
bool mountExfatImage(const std::string& image, int megabytes, const std::string& mountPoint,
                     FuseMount& mount);

// Runs a tool to its end, bounded to 60 seconds; its exit status, or -1.
// The tool's standard output is returned in `output` when asked for.
int runTool(const std::vector<std::string>& command, std::string* output = nullptr);
