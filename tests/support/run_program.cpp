#include "run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace {

void writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

RunResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const RunOptions& options) {
    int toChild[2];
    int fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_t child = fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        close(toChild[0]);
        close(toChild[1]);
        close(fromChild[0]);
        close(fromChild[1]);
        if (options.fileSizeLimit >= 0) {
            // A write past the limit then fails with EFBIG instead of
            // killing the process.
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit{static_cast<rlim_t>(options.fileSizeLimit),
                         static_cast<rlim_t>(options.fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (options.unprivileged && geteuid() == 0) {
            constexpr uid_t kNobody = 65534;
            if (setgid(kNobody) != 0 || setuid(kNobody) != 0) {
                _exit(126);
            }
        }
        for (const std::string& entry : options.environment) {
            putenv(strdup(entry.c_str()));
        }
        if (!options.workingFolder.empty() && chdir(options.workingFolder.c_str()) != 0) {
            _exit(127);
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    // The input is small; the child reads it whole or stops reading, and a
    // closed pipe must not end the test.
    signal(SIGPIPE, SIG_IGN);
    writeAll(toChild[1], options.input);
    close(toChild[1]);

    RunResult result;
    char chunk[4096];
    ssize_t n = 0;
    while ((n = read(fromChild[0], chunk, sizeof chunk)) > 0) {
        result.output.append(chunk, static_cast<std::size_t>(n));
    }
    close(fromChild[0]);
    int status = 0;
    waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

const std::string& programPath() {
    static const std::string path = KEL_PROGRAM_PATH;
    return path;
}
