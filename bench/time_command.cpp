// Runs one command once and prints its wall-clock time in seconds, its peak
// resident memory in KiB and its exit status, on one line:
//   <seconds> <peak KiB> <status>
// The clock runs from just before the process is started to the moment it
// has been reaped, so the start of this helper itself is not counted.
//
// Usage: time_command [--stdout FILE] -- COMMAND [ARGUMENTS...]
// With --stdout the command's standard output goes to FILE (created or
// truncated), otherwise to /dev/null.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    const char* outputPath = "/dev/null";
    int first = 1;
    if (first + 1 < argc && std::strcmp(argv[first], "--stdout") == 0) {
        outputPath = argv[first + 1];
        first += 2;
    }
    if (first >= argc || std::strcmp(argv[first], "--") != 0 || first + 1 >= argc) {
        std::fprintf(stderr, "usage: time_command [--stdout FILE] -- COMMAND [ARGUMENTS...]\n");
        return 2;
    }
    char** command = argv + first + 1;

    int output = open(outputPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (output < 0) {
        std::fprintf(stderr, "time_command: cannot open %s: %s\n", outputPath,
                     std::strerror(errno));
        return 2;
    }
    int input = open("/dev/null", O_RDONLY);

    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child < 0) {
        std::fprintf(stderr, "time_command: fork failed: %s\n", std::strerror(errno));
        return 2;
    }
    if (child == 0) {
        dup2(output, STDOUT_FILENO);
        dup2(input, STDIN_FILENO);  // a program waiting for a key ends at once
        execvp(command[0], command);
        std::fprintf(stderr, "time_command: cannot run %s: %s\n", command[0],
                     std::strerror(errno));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::fprintf(stderr, "time_command: wait failed: %s\n", std::strerror(errno));
            return 2;
        }
    }
    auto stop = std::chrono::steady_clock::now();
    close(output);
    close(input);

    double seconds = std::chrono::duration<double>(stop - start).count();
    int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    // ru_maxrss is in KiB on Linux.
    std::printf("%.6f %ld %d\n", seconds, usage.ru_maxrss, exitStatus);
    return 0;
}
