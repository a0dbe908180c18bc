// Process set-up on POSIX hosts.
#include "process_setup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed: the
// lowest free descriptor is the one opened.
bool fillStandardDescriptors() {
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) >= 0 || errno != EBADF) {
            continue;
        }
        if (open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY) != descriptor) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool prepareProcess() {
    if (!fillStandardDescriptors()) {
        return false;  // no standard stream can be trusted to say so
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    return true;
}
