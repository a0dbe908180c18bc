// Listed files on POSIX hosts: opened without blocking, so that a FIFO
// with no writer or a device cannot hold the open, then checked on the
// open descriptor itself, then read with blocking reads as usual.
#include "listed_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

ListedFileOpen openListedFile(const std::string& path, std::FILE*& file, int& error) {
    file = nullptr;
    const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) {
        error = errno;
        return ListedFileOpen::Failed;
    }
    struct stat status {};
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(descriptor);
        return ListedFileOpen::NotAFile;
    }
    const int flags = fcntl(descriptor, F_GETFL);
    if (flags < 0 || fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        (file = fdopen(descriptor, "rb")) == nullptr) {
        error = errno != 0 ? errno : EIO;
        close(descriptor);
        return ListedFileOpen::Failed;
    }
    return ListedFileOpen::Opened;
}
