// A temporary FF folder below a HALD folder, and what the tests read back
// from the merged file the program writes into it.
#pragma once

#include <string>

#include "test_files.h"

struct FfFolder {
    TempFolder temp;
    std::string path = temp.path + "/HALD/ff/night1";
    FfFolder();
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string mergedPath() const { return file("KELdetectinfo_0000_night1.txt"); }
    std::string stagingPath() const { return file("KELdetectinfo_0000_night1.tmp"); }
    std::string merged() const { return readFile(mergedPath()); }
};

// The header of a merged file, its line 3 aside (see withoutTime).
std::string mergedHeader(int count, const std::string& ffFolder, const std::string& calFolder);

// The merged file with the time of line 3 replaced by "<time>", after
// checking that it has the right form.
std::string withoutTime(const std::string& merged);
