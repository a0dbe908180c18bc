#include "run_program.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

// What the child reports through its start pipe when it cannot become the
// program: the step that failed and its errno.
struct StartFailure {
    char step[32];
    int error;
};

[[noreturn]] void failStart(int pipeFd, const char* step) {
    StartFailure failure{};
    std::strncpy(failure.step, step, sizeof failure.step - 1);
    failure.error = errno;
    ssize_t ignored = write(pipeFd, &failure, sizeof failure);
    (void)ignored;
    _exit(127);
}

void setLimit(int resource, long long bytes, int pipeFd, const char* step) {
    if (bytes < 0) {
        return;
    }
    rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
    if (setrlimit(resource, &limit) != 0) {
        failStart(pipeFd, step);
    }
}

// The disposition a shell gives the programs it starts: every signal at
// its default, none blocked, whatever this test process has set.
void defaultSignals() {
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        signal(signalNumber, SIG_DFL);  // fails harmlessly for SIGKILL, SIGSTOP
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

// A copy of `program` that user nobody can reach: the build folder may lie
// below a folder that only its owner may enter, such as /root.
std::string copyForNobody(const std::string& program, std::string& copyFolder) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kel-program-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a folder for the program's copy");
    }
    copyFolder = pattern;
    const std::string copy = copyFolder + "/" + std::filesystem::path(program).filename().string();
    std::filesystem::copy_file(program, copy);
    chmod(copyFolder.c_str(), 0755);
    chmod(copy.c_str(), 0755);
    return copy;
}

void rememberExit(StartedProgram& started, int status) {
    started.ended = true;
    started.waitStatus = status;
}

}  // namespace

StartedProgram startProgram(const std::string& program, const std::vector<std::string>& arguments,
                            const RunOptions& options) {
    StartedProgram started;
    const bool asNobody = options.unprivileged && geteuid() == 0;
    const std::string runnable = asNobody ? copyForNobody(program, started.copyFolder) : program;

    int toChild[2];
    int fromChild[2];
    int startPipe[2];
    // Close-on-exec, so that no other child started meanwhile holds them
    // open: a child waits for the end of its input until the test closes it.
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0 ||
        pipe2(startPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    [[maybe_unused]] const bool traced = std::filesystem::path(program).filename() == "strace";
    // The test writes to a child that may have stopped reading: that must
    // not end the test.
    signal(SIGPIPE, SIG_IGN);
    pid_t child = fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        defaultSignals();
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        close(toChild[0]);
        close(toChild[1]);
        close(fromChild[0]);
        close(fromChild[1]);
        close(startPipe[0]);
        setLimit(RLIMIT_FSIZE, options.fileSizeLimit, startPipe[1], "setrlimit(RLIMIT_FSIZE)");
        setLimit(RLIMIT_AS, options.addressSpaceLimit, startPipe[1], "setrlimit(RLIMIT_AS)");
        if (asNobody) {
            constexpr uid_t kNobody = 65534;
            if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) {
                failStart(startPipe[1], "becoming user nobody");
            }
        }
        for (const std::string& entry : options.environment) {
            putenv(strdup(entry.c_str()));
        }
#ifdef __SANITIZE_ADDRESS__
        // In the sanitizer build LeakSanitizer ends a program that runs
        // under ptrace with status 1; under strace, leaks are left to the
        // many runs without it.
        if (traced) {
            putenv(strdup("ASAN_OPTIONS=detect_leaks=0"));
        }
#endif
        if (!options.workingFolder.empty() && chdir(options.workingFolder.c_str()) != 0) {
            failStart(startPipe[1], "chdir");
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(runnable.c_str()));
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execv(runnable.c_str(), argv.data());
        failStart(startPipe[1], "execv");
    }
    close(toChild[0]);
    close(fromChild[1]);
    close(startPipe[1]);
    started.pid = child;
    started.input = toChild[1];
    started.output = fromChild[0];

    // The start pipe closes on a successful exec; a report means failure.
    StartFailure failure{};
    ssize_t got = 0;
    do {
        got = read(startPipe[0], &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    close(startPipe[0]);
    if (got == static_cast<ssize_t>(sizeof failure)) {
        ADD_FAILURE() << "could not start " << runnable << (asNobody ? " as user nobody" : "")
                      << ": " << failure.step << " failed: " << std::strerror(failure.error);
    }
    return started;
}

void sendInput(StartedProgram& started, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(started.input, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;  // the child has stopped reading
        }
        done += static_cast<std::size_t>(n);
    }
}

namespace {

// Adds one read's worth of the child's output; false at its end, or when
// nothing came for `timeoutMilliseconds` (-1: no limit).
bool readMore(StartedProgram& started, int timeoutMilliseconds = -1) {
    pollfd ready{started.output, POLLIN, 0};
    int polled = 0;
    do {
        polled = poll(&ready, 1, timeoutMilliseconds);
    } while (polled < 0 && errno == EINTR);
    if (polled <= 0) {
        return false;
    }
    char chunk[4096];
    ssize_t n = 0;
    do {
        n = read(started.output, chunk, sizeof chunk);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        return false;
    }
    started.seen.append(chunk, static_cast<std::size_t>(n));
    return true;
}

}  // namespace

bool readUntil(StartedProgram& started, const std::string& text) {
    // A child that waits for input without having printed `text` would
    // otherwise keep the test waiting for good.
    constexpr int kQuietLimit = 20000;
    while (started.seen.find(text) == std::string::npos) {
        if (!readMore(started, kQuietLimit)) {
            return false;
        }
    }
    return true;
}

bool stillRunningAfter(StartedProgram& started, int milliseconds) {
    constexpr int kStep = 10;
    for (int waited = 0; !started.ended && waited < milliseconds; waited += kStep) {
        usleep(kStep * 1000);
        int status = 0;
        if (waitpid(started.pid, &status, WNOHANG) == started.pid) {
            rememberExit(started, status);
        }
    }
    return !started.ended;
}

RunResult finishProgram(StartedProgram& started) {
    if (started.input >= 0) {
        close(started.input);
        started.input = -1;
    }
    while (readMore(started)) {
    }
    close(started.output);
    started.output = -1;
    if (!started.ended) {
        int status = 0;
        while (waitpid(started.pid, &status, 0) < 0 && errno == EINTR) {
        }
        rememberExit(started, status);
    }
    if (!started.copyFolder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(started.copyFolder, ignored);
    }
    RunResult result;
    result.output = started.seen;
    result.status = WIFEXITED(started.waitStatus) ? WEXITSTATUS(started.waitStatus) : -1;
    result.signal = WIFSIGNALED(started.waitStatus) ? WTERMSIG(started.waitStatus) : 0;
    return result;
}

RunResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const RunOptions& options) {
    StartedProgram started = startProgram(program, arguments, options);
    sendInput(started, options.input);
    return finishProgram(started);
}

const std::string& programPath() {
    static const std::string path = KEL_PROGRAM_PATH;
    return path;
}

const std::string& stracePath() {
    static const std::string path = [] {
        for (const char* candidate : {"/usr/bin/strace", "/bin/strace"}) {
            if (access(candidate, X_OK) == 0) {
                return std::string(candidate);
            }
        }
        return std::string();
    }();
    if (path.empty()) {
        ADD_FAILURE() << "strace is not installed (Debian package strace)";
    }
    return path;
}

StartedProgram startHeld(const std::vector<std::string>& paths, const std::string& calls, int when,
                         const std::vector<std::string>& programArguments) {
    std::vector<std::string> arguments{"-D", "-f", "-qq", "-o", "/dev/null"};
    for (const std::string& path : paths) {
        arguments.insert(arguments.end(), {"-P", path});
    }
    // A day: longer than any test runs.
    arguments.insert(arguments.end(), {"-e", "inject=" + calls + ":delay_enter=86400000000:when=" +
                                                 std::to_string(when)});
    arguments.insert(arguments.end(), programArguments.begin(), programArguments.end());
    return startProgram(stracePath(), arguments);
}

namespace {

// The value of `field` in /proc/PID/status, or empty.
std::string statusField(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field + ":", 0) == 0) {
            return line.substr(field.size() + 1);
        }
    }
    return std::string();
}

// Whether the program is stopped for its tracer in one of `numbers`, on
// `file` when one is named.
bool isHeldIn(pid_t pid, const std::vector<long>& numbers, const std::string& file) {
    if (statusField(pid, "State").find("tracing stop") == std::string::npos) {
        return false;
    }
    std::ifstream syscall("/proc/" + std::to_string(pid) + "/syscall");
    long number = -1;
    std::string first;
    if (!(syscall >> number >> first) ||
        std::find(numbers.begin(), numbers.end(), number) == numbers.end()) {
        return false;
    }
    if (file.empty()) {
        return true;
    }
    char target[4096];
    const std::string descriptor = "/proc/" + std::to_string(pid) + "/fd/" +
                                   std::to_string(std::stoul(first, nullptr, 16));
    const ssize_t size = readlink(descriptor.c_str(), target, sizeof target);
    return size > 0 && std::string(target, static_cast<std::size_t>(size)) == file;
}

}  // namespace

bool heldIn(StartedProgram& held, const std::vector<long>& numbers, const std::string& file) {
    while (!isHeldIn(held.pid, numbers, file)) {
        if (!stillRunningAfter(held, 10)) {
            return false;
        }
    }
    return true;
}

void releaseHeld(const StartedProgram& held) {
    const std::string tracer = statusField(held.pid, "TracerPid");
    const pid_t pid = tracer.empty() ? 0 : static_cast<pid_t>(std::stol(tracer));
    if (pid > 0) {
        kill(pid, SIGKILL);
    }
}
