#include <csignal>

#include "merge_run.h"

int main(int argc, char** argv) {
#ifdef SIGXFSZ
    // Past a file-size limit (ulimit -f, a quota) a write then fails with
    // EFBIG, which the run reports, instead of killing the process
    // without a word.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    return runMerge(argc, argv);
}
