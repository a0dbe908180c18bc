// Which file on disk a path or an open file is, whatever name it was
// reached by: a symbolic link and a hard link name the same file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct FileIdentity {
    std::uint64_t volume = 0;  // the device, or the volume's serial number
    std::uint64_t index = 0;   // the inode, or the volume's file index
    bool known = false;
};

FileIdentity identityOfPath(const std::string& path);
FileIdentity identityOfOpenFile(std::FILE* file);

// True only when both are known and name the same file.
inline bool sameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.known && b.known && a.volume == b.volume && a.index == b.index;
}
