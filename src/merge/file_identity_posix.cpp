// File identity on POSIX hosts: device and inode.
#include "file_identity.h"

#include <sys/stat.h>

namespace {

FileIdentity identityOf(const struct stat& status) {
    FileIdentity identity;
    identity.volume = static_cast<std::uint64_t>(status.st_dev);
    identity.index = static_cast<std::uint64_t>(status.st_ino);
    identity.known = true;
    return identity;
}

}  // namespace

FileIdentity identityOfPath(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? identityOf(status) : FileIdentity{};
}

FileIdentity identityOfOpenFile(std::FILE* file) {
    struct stat status {};
    return fstat(fileno(file), &status) == 0 ? identityOf(status) : FileIdentity{};
}
