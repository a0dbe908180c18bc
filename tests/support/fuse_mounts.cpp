#include "fuse_mounts.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

namespace {

const char* const kTools[] = {"/usr/sbin/sshd", "/usr/bin/ssh-keygen", "/usr/bin/sshfs",
                              "/usr/bin/fusermount", "/usr/sbin/mkntfs", "/usr/bin/ntfs-3g",
                              "/usr/sbin/mkfs.exfat", "/usr/sbin/mount.exfat-fuse",
                              "/usr/sbin/losetup", "/usr/bin/timeout"};

// A port on 127.0.0.1 that nothing listens on now.
int freePort() {
    const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    close(probe);
    return port;
}

bool accepts(int port) {
    const int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool connected =
        connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(client);
    return connected;
}

bool makeImage(const std::string& image, int megabytes) {
    const int file = open(image.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const bool made = file >= 0 && ftruncate(file, static_cast<off_t>(megabytes) << 20) == 0;
    if (file >= 0) {
        close(file);
    }
    return made;
}

}  // namespace

std::string fuseUnavailable() {
    if (geteuid() != 0) {
        return "mounting through FUSE and adding test users needs root";
    }
    if (access("/dev/fuse", R_OK | W_OK) != 0) {
        return "no /dev/fuse to mount through";
    }
    for (const char* tool : kTools) {
        if (access(tool, X_OK) != 0) {
            return std::string(tool) +
                   " is missing (scripts/install-deps test installs the test's packages)";
        }
    }
    return std::string();
}

int runTool(const std::vector<std::string>& command, std::string* output) {
    // Its error output joins its output, shown by the test that fails.
    std::vector<std::string> arguments{"60", "/bin/sh", "-c", "exec \"$@\" 2>&1", "sh"};
    arguments.insert(arguments.end(), command.begin(), command.end());
    const RunResult run = runProgram("/usr/bin/timeout", arguments);
    if (output != nullptr) {
        *output = run.output;
    } else if (run.status != 0) {
        std::printf("%s", run.output.c_str());
    }
    return run.status;
}

SshServer::SshServer() {
    const std::string folder = keys.path;
    // The privilege separation folder that the sshd package's service
    // makes at boot; an sshd without it refuses to start.
    mkdir("/run/sshd", 0755);
    if (runTool({"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", folder + "/host_key"}) != 0 ||
        runTool({"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", folder + "/client_key"}) != 0) {
        ADD_FAILURE() << "ssh-keygen could not make the test's keys";
        return;
    }
    std::filesystem::copy_file(folder + "/client_key.pub", folder + "/authorized_keys");
    port = freePort();
    writeFile(folder + "/sshd_config",
              "Port " + std::to_string(port) + "\nListenAddress 127.0.0.1\n"
              "HostKey " + folder + "/host_key\nAuthorizedKeysFile " + folder + "/authorized_keys\n"
              "PermitRootLogin prohibit-password\nPasswordAuthentication no\n"
              "KbdInteractiveAuthentication no\nUsePAM no\nStrictModes no\nPidFile none\n"
              "Subsystem sftp internal-sftp\n");
    sshd = startProgram("/usr/sbin/sshd", {"-D", "-E", folder + "/sshd.log", "-f", folder + "/sshd_config"});
    for (int tries = 0; tries < 200 && !running; ++tries) {
        running = accepts(port);
        if (!running && !stillRunningAfter(sshd, 50)) {
            break;
        }
    }
    if (!running) {
        ADD_FAILURE() << "the test's sshd did not listen on 127.0.0.1 port " << port << ":\n"
                      << (fileExists(folder + "/sshd.log") ? readFile(folder + "/sshd.log") : "");
    }
}

SshServer::~SshServer() {
    if (sshd.pid > 0) {
        // Its sessions may still hold its output for a moment: the test
        // waits for sshd itself only.
        if (!sshd.ended) {
            kill(sshd.pid, SIGTERM);
            waitpid(sshd.pid, nullptr, 0);
        }
        close(sshd.input);
        close(sshd.output);
    }
}

FuseMount::~FuseMount() {
    if (mounted) {
        // A file system still busy for a moment after the last run is
        // tried again, then detached lazily so that no mount outlives the
        // test.
        bool done = false;
        for (int tries = 0; tries < 20 && !done; ++tries) {
            done = runTool({"/usr/bin/fusermount", "-u", "-q", mountPoint}) == 0;
            if (!done) {
                usleep(100000);
            }
        }
        if (!done) {
            ADD_FAILURE() << "could not unmount " << mountPoint << "; detached lazily";
            runTool({"/usr/bin/fusermount", "-u", "-z", "-q", mountPoint});
        }
    }
    if (!loopDevice.empty()) {
        runTool({"/usr/sbin/losetup", "-d", loopDevice});
    }
}

bool mountSshfs(const SshServer& server, const std::string& folder, const std::string& mountPoint,
                FuseMount& mount) {
    makeFolders(mountPoint);
    mount.mountPoint = mountPoint;
    mount.mounted =
        server.running &&
        runTool({"/usr/bin/sshfs", "-p", std::to_string(server.port), "-o",
                 "IdentityFile=" + server.keys.path + "/client_key," +
                     "StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,BatchMode=yes,"
                     "LogLevel=ERROR",
                 "root@127.0.0.1:" + folder, mountPoint}) == 0;
    EXPECT_TRUE(mount.mounted) << "sshfs could not mount " << folder << " at " << mountPoint;
    return mount.mounted;
}

bool mountNtfsImage(const std::string& image, int megabytes, const std::string& mountPoint,
                    FuseMount& mount) {
    makeFolders(mountPoint);
    mount.mountPoint = mountPoint;
    mount.mounted = makeImage(image, megabytes) &&
                    runTool({"/usr/sbin/mkntfs", "-F", "-Q", "-q", image}) == 0 &&
                    runTool({"/usr/bin/ntfs-3g", image, mountPoint}) == 0;
    EXPECT_TRUE(mount.mounted) << "could not make and mount an NTFS image at " << mountPoint;
    return mount.mounted;
}

bool mountExfatImage(const std::string& image, int megabytes, const std::string& mountPoint,
                     FuseMount& mount) {
    makeFolders(mountPoint);
    mount.mountPoint = mountPoint;
    std::string device;
    const bool attached = makeImage(image, megabytes) &&
                          runTool({"/usr/sbin/mkfs.exfat", image}) == 0 &&
                          runTool({"/usr/sbin/losetup", "--find", "--show", image}, &device) == 0;
    while (!device.empty() && device.back() == '\n') {
        device.pop_back();
    }
    mount.loopDevice = attached ? device : std::string();
    mount.mounted = attached && !device.empty() &&
                    runTool({"/usr/sbin/mount.exfat-fuse", device, mountPoint}) == 0;
    EXPECT_TRUE(mount.mounted) << "could not make and mount an exFAT image at " << mountPoint;
    return mount.mounted;
}
