// Runs the built program in a child process, as a user's shell starts it:
// every signal at its default disposition, none blocked, and no limit or
// environment besides what a test asks for.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct RunResult {
    int status = -1;      // exit status, or -1 when the child did not exit normally
    int signal = 0;       // the signal that ended the child, 0 when it exited
    std::string output;   // everything written to standard output
};

struct RunOptions {
    std::string input;               // standard input; its end follows at once
    long long fileSizeLimit = -1;    // RLIMIT_FSIZE in bytes, -1 for none
    long long addressSpaceLimit = -1;  // RLIMIT_AS in bytes, -1 for none
    std::vector<std::string> environment;  // extra NAME=value entries
    std::string workingFolder;       // empty: the test's own
    bool unprivileged = false;       // run as user nobody when the tests run as root,
                                     // so that file permissions apply
};

// A program that runs while the test talks to it through its standard
// input and output.
struct StartedProgram {
    pid_t pid = -1;
    int input = -1;    // the child's standard input, open until closeInput
    int output = -1;   // the child's standard output
    std::string copyFolder;  // a copy of the program for user nobody, if any
    std::string seen;  // the output read so far
    bool ended = false;  // the child has been waited for
    int waitStatus = 0;
};

// Starts `program`. A child that cannot be started (exec fails, the user
// cannot be changed) is reported as a test failure that says why.
StartedProgram startProgram(const std::string& program, const std::vector<std::string>& arguments,
                            const RunOptions& options = {});

// Writes `text` to the child's standard input.
void sendInput(StartedProgram& started, const std::string& text);

// Reads the child's output until it holds `text`; false when it ends, or
// stays silent for 20 seconds, without it.
bool readUntil(StartedProgram& started, const std::string& text);

// True while the child has not ended, checked after `milliseconds`.
bool stillRunningAfter(StartedProgram& started, int milliseconds);

// Closes the child's input, reads its output to the end and waits for it.
RunResult finishProgram(StartedProgram& started);

// startProgram, sendInput of options.input, finishProgram.
RunResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const RunOptions& options = {});

// The program under test, as built next to the tests.
const std::string& programPath();

// strace (Debian package strace), which can end the program or fail one of
// its system calls without any hook in the program; a test failure when it
// is not installed.
const std::string& stracePath();

// A program held by strace where a test needs it to stand still: strace
// runs as a grandchild (-D), so that the program keeps the process that
// startProgram made, and holds it as it enters the `when`th of `calls` on
// one of `paths` (strace matches a call by the paths and descriptors it
// names), for as long as the test needs: until releaseHeld.
StartedProgram startHeld(const std::vector<std::string>& paths, const std::string& calls, int when,
                         const std::vector<std::string>& programArguments);

// Waits until strace holds the program in one of the system calls
// `numbers` (x86-64 numbers; with `file`, one whose first argument is a
// descriptor of that file). The hold lasts until releaseHeld, so the wait
// has no deadline that a slow machine could pass but the test's own time
// limit: false only when the program ends first.
bool heldIn(StartedProgram& held, const std::vector<long>& numbers, const std::string& file = "");

// Ends strace, which lets the program go on untraced from where it was held.
void releaseHeld(const StartedProgram& held);
