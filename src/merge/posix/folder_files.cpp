// The FF folder and its files on POSIX hosts.
#include "folder_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "detection_file_names.h"
#include "host.h"
#include "read_problem.h"

// The listing, written by the program itself in the order a
// Windows folder lists its files: the regular files (links followed) whose
// names begin with "KELdetectinfo_" and end with ".txt", letter case aside,
// sorted by name with a-z taken as A-Z, ties by plain byte order. A name
// with a line end in it cannot stand on one line of the listing, a path
// too long to open cannot be merged, and an entry whose type cannot be
// told may be a per-camera file that is out of reach: each is left out
// with a message. The names are the system's own, and the host opens
// files by them as they are.

namespace {

// An entry named like a per-camera file that the listing leaves out, and
// the message that says why.
struct LeftOut {
    std::string name;
    std::string message;
};

// Why the entry `name` of `ffFolder`, named like a per-camera file, cannot
// be listed, in a message; empty when it can. `isFile` tells whether it is
// a regular file: what is plainly no file (a folder, a FIFO, a device) is
// left out without a word.
std::string whyNotListed(const std::string& ffFolder, std::string_view name, bool& isFile) {
    isFile = false;
    const std::string path = ffFolder + std::string(name);
    if (name.find_first_of("\r\n") != std::string_view::npos) {
        return " File " + shownText(path) +
               " has a line end in its name, which the listing cannot hold; not merged \n";
    }
    const std::string lengthProblem = pathLengthProblem(path);
    if (!lengthProblem.empty()) {
        return " File " + shownText(path) + " cannot be opened: " + lengthProblem +
               "; not merged \n";
    }
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        // A link to a share that is not mounted, or into a folder this
        // user may not search: what it stands for is unknown, and it may
        // well be a per-camera file.
        return " File " + shownText(path) + " cannot be looked at (" + std::strerror(errno) +
               "); not merged \n";
    }
    isFile = S_ISREG(status.st_mode);
    return std::string();
}

// Reads the matching names of `ffFolder`; false, with errno set, when the
// folder could not be read to its end.
bool readMatchingNames(DIR* folder, const std::string& ffFolder, std::vector<std::string>& names,
                       std::vector<LeftOut>& leftOut) {
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(folder);
        if (entry == nullptr) {
            return errno == 0;
        }
        std::string_view name = entry->d_name;
        if (!isDetectionInfoName(name)) {
            continue;
        }
        bool isFile = false;
        std::string message = whyNotListed(ffFolder, name, isFile);
        if (!message.empty()) {
            leftOut.push_back({std::string(name), std::move(message)});
        } else if (isFile) {
            names.emplace_back(name);
        }
    }
}

// Says what was left out, in the order the listing would have had it.
void reportLeftOut(std::vector<LeftOut>& leftOut, long& namesLeftOut) {
    std::sort(leftOut.begin(), leftOut.end(),
              [](const LeftOut& a, const LeftOut& b) { return listedBefore(a.name, b.name); });
    for (const LeftOut& entry : leftOut) {
        std::fputs(entry.message.c_str(), stdout);
        ++namesLeftOut;
    }
}

}  // namespace

ListingResult writeFolderListing(const std::string& ffFolder, const std::string& listingPath,
                                 long& namesLeftOut) {
    DIR* folder = opendir(ffFolder.c_str());
    if (folder == nullptr) {
        if (errno == ENOENT || errno == ENOTDIR) {
            // A folder that is not there: creating the merged file in it
            // fails first, and says so.
            return ListingResult::NotWritten;
        }
        std::printf(" Cannot list folder %s (%s) \n", ffFolder.c_str(), std::strerror(errno));
        return ListingResult::Refused;
    }
    std::vector<std::string> names;
    std::vector<LeftOut> leftOut;
    const bool complete = readMatchingNames(folder, ffFolder, names, leftOut);
    const int readError = errno;
    closedir(folder);
    if (!complete) {
        std::printf(" Cannot list folder %s to its end (%s) \n", ffFolder.c_str(),
                    std::strerror(readError));
        return ListingResult::Refused;
    }
    std::sort(names.begin(), names.end(), listedBefore);
    reportLeftOut(leftOut, namesLeftOut);

    errno = 0;
    std::FILE* listing = std::fopen(listingPath.c_str(), "wb");
    bool written = listing != nullptr;
    for (std::size_t i = 0; written && i < names.size(); ++i) {
        const std::string& name = names[i];
        written = std::fwrite(name.data(), 1, name.size(), listing) == name.size() &&
                  std::fwrite("\r\n", 1, 2, listing) == 2;
    }
    int error = written ? 0 : errno;
    errno = 0;
    if (listing != nullptr && std::fclose(listing) != 0 && error == 0) {
        error = errno;
        written = false;
    }
    if (!written) {
        std::printf(" Cannot write KELdetectinfo directory listing file %s (%s) \n",
                    listingPath.c_str(), std::strerror(error != 0 ? error : EIO));
        return ListingResult::Unwritable;
    }
    return ListingResult::Written;
}

bool listedNameForHost(const std::string& /*ffFolder*/, std::string& /*name*/) {
    return true;
}

// The folder lock: flock on a descriptor of the folder
// itself. Every name the folder is reached by locks the same folder, and
// the lock is released when the descriptor is closed, at the latest when
// the process ends.
void lockFolder(const std::string& ffFolder, FolderLock& lock) {
    lock = FolderLock{};
    const int folder = open(ffFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return;  // the listing reports a folder that cannot be opened
    }
    int locked = flock(folder, LOCK_EX | LOCK_NB);
    if (locked != 0 && errno == EWOULDBLOCK) {
        std::printf(" Waiting for another run on folder %s to end \n", ffFolder.c_str());
        std::fflush(stdout);
        do {
            locked = flock(folder, LOCK_EX);
        } while (locked != 0 && errno == EINTR);
    }
    if (locked != 0) {
        close(folder);  // no locks here: the run goes on as it would have
        return;
    }
    lock.handle = folder;
    lock.held = true;
}

void unlockFolder(FolderLock& lock) {
    if (lock.held) {
        close(static_cast<int>(lock.handle));
    }
    lock = FolderLock{};
}

// Listed files: opened without blocking, so that a FIFO
// with no writer or a device cannot hold the open, then checked on the
// open descriptor itself, then read with blocking reads as usual.
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

// File identity: device and inode.
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
