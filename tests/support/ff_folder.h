// A temporary FF folder below a HALD folder, and what the tests read back
// from the merged file the program writes into it.
#pragma once

#include <string>
#include <vector>

#include "test_files.h"

struct FfFolder {
    TempFolder temp;
    std::string path = temp.path + "/HALD/ff/night1";
    FfFolder();
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string mergedPath() const { return file("KELdetectinfo_0000_night1.txt"); }
    // A run's temporary merged file is this, its process number, ".tmp".
    std::string stagingPrefix() const;
    // True when a temporary merged file of any run is in the folder.
    bool stagingLeft() const;
    std::string merged() const { return readFile(mergedPath()); }
};

// The header of a merged file, its line 3 aside (see withoutTime).
std::string mergedHeader(int count, const std::string& ffFolder, const std::string& calFolder);

// The merged file with the time of line 3 replaced by "<time>", after
// checking that it has the right form.
std::string withoutTime(const std::string& merged);

// The name of this computer as the program puts it into its temporary
// files' names: letters, digits and '-' only.
std::string hostForFiles();

// The program on `ffFolder` under strace with `options`, `-P` on the
// run's temporary merged file among them. strace -D keeps the program in
// the process that a shell started, so that the shell's "$$" names it.
struct TracedRun {
    std::string program;
    std::vector<std::string> arguments;
};
TracedRun tracedOnStaging(const FfFolder& ff, const std::vector<std::string>& options);
