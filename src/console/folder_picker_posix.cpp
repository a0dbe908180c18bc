// The folder source on POSIX hosts: a prompt on the console that reads
// one path from standard input. An empty line or the end of input cancels.

#include "folder_picker.h"

#include <sys/stat.h>

#include <cstdio>
#include <iostream>

namespace {

bool isFolder(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

bool browseForFfFolder(std::string& path) {
    for (;;) {
        std::printf(" %s: ", kFolderPrompt);
        std::fflush(stdout);
        std::string line;
        if (!std::getline(std::cin, line) || line.empty()) {
            std::printf("\n ERROR getting FF files folder pathname \n");
            return false;
        }
        if (isFolder(line)) {
            path = line;
            return true;
        }
        std::printf(" %s is not a folder \n", line.c_str());
    }
}
