// Runs the built program in a child process, as a user or a script would.
#pragma once

#include <string>
#include <vector>

struct RunResult {
    int status = -1;      // exit status, or -1 when the child did not exit normally
    std::string output;   // everything written to standard output
};

struct RunOptions {
    std::string input;               // standard input; its end follows at once
    long long fileSizeLimit = -1;    // RLIMIT_FSIZE in bytes, -1 for none
    std::vector<std::string> environment;  // extra NAME=value entries
    std::string workingFolder;       // empty: the test's own
    bool unprivileged = false;       // run as user nobody when the tests run as root,
                                     // so that file permissions apply
};

RunResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const RunOptions& options = {});

// The program under test, as built next to the tests.
const std::string& programPath();
