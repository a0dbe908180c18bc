// Runs the cross-built Windows program under Wine, headless, in the
// throwaway Wine prefix of the Windows build.
#pragma once

#include <string>
#include <vector>

#include "run_program.h"

// The Windows form of a path of this machine: Wine's drive Z: is the root.
std::string windowsPath(const std::string& posixPath);

// `options` with the environment a run under Wine needs: the throwaway
// prefix, no display, a UTF-8 locale.
RunOptions underWine(const RunOptions& options = {});

// Starts kel_combine_detectinfo.exe with `arguments` under Wine.
StartedProgram startWindowsProgram(const std::vector<std::string>& arguments,
                                   const RunOptions& options = {});

// Runs kel_combine_detectinfo.exe with `arguments`; its console output comes
// back with the CR LF line ends of a Windows console turned into LF.
RunResult runWindowsProgram(const std::vector<std::string>& arguments,
                            const RunOptions& options = {});

// Options for a run: standard input and, if not empty, the working folder.
RunOptions options(const std::string& input, const std::string& workingFolder = "");

// Copies the example FF folder's files into `to`, made if missing.
void copyExample(const std::string& to);

// The names in `folder`, sorted.
std::vector<std::string> namesIn(const std::string& folder);

// Line `number` (from 1) of a file's text, without its line end.
std::string line(const std::string& text, int number);

// The folder that Wine's drive letter `letter` (lower case) stands for, for
// as long as the object lives.
struct WineDrive {
    WineDrive(char letter, const std::string& folder);
    ~WineDrive();
    WineDrive(const WineDrive&) = delete;
    WineDrive& operator=(const WineDrive&) = delete;
    std::string link;
};
