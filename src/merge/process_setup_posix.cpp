// Process set-up on POSIX hosts.
#include "process_setup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "staged_file.h"

namespace {

// Removes the merged file being written, then ends the process by the same
// signal, now at its default action, so that the status reads as killed
// by it.
void onInterrupt(int signalNumber) {
    removeStagingFileNow();
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

// A signal that was ignored when the process started (nohup ignores
// SIGHUP) stays ignored.
void cleanUpOn(int signalNumber) {
    struct sigaction current {};
    if (sigaction(signalNumber, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(signalNumber, &action, nullptr);
}

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
    for (int signalNumber : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) {
        cleanUpOn(signalNumber);
    }
    return true;
}
