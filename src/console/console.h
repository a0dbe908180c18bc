// What the user sees and answers at the console, besides the folder
// source (folder_picker.h): the console window, the waits for the
// keyboard, and the options that ask the
// program about itself. posix/console.cpp and windows/console.cpp hold
// what differs between hosts.
#pragma once

#include <string>

// True when the console window belongs to this program alone, as when
// Explorer started it, so that it closes as soon as the program ends and
// its last messages could not be read. False in a console that another
// program (a command prompt, a script) shares, and where there is no
// console window at all.
bool consoleClosesWithProgram();

// True when a console window of its own was opened for the program by
// Explorer (folders dropped on it, a double-click), where a run that is
// given its folders must wait before the window closes; false for a
// scheduled task, a command prompt or a script, which must never wait.
bool consoleOpenedByExplorer();

// The waits for the user after a failure. At the end of standard input
// they end at once, so runs without a keyboard never hang.

// Reads one character: on a console the wait ends when Enter is pressed.
void waitForCharacter();

// Reads one whole number, as the failure to create the merged file asks:
// the wait ends at the first input that is not whitespace. True when that
// was a number; the run does not use it.
bool waitForInteger();

// The arguments that ask for the usage text on this host: --help and -h
// everywhere, and on Windows also /?, as Windows' own commands take it.
extern const char kHelpSwitchList[];
bool isHelpSwitch(const std::string& argument);

enum class InfoAnswer {
    None,      // the argument, if any, is the FF folder
    Answered,  // the usage text or the version was printed: exit status 0
    Refused,   // an unknown option, or standard output could not be
               // written: exit status 1
};

// The options that ask the program about itself instead of merging: the
// help switches print the usage text, --version the version line; any
// other argument that begins with '-' is refused as an unknown option.
// They count only as the one argument of the command line, and only while
// no folder of that name exists, so that every folder, one named like an
// option included, can still be merged ("--" before it makes any argument
// a folder). Writes no file.
InfoAnswer answerInfoOption(int argc, char** argv);
