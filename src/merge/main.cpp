// The process entry: the standard streams are given a place and no failed
// write to the console can stop the process; then one run does the rest.
#include "host.h"
#include "merge_run.h"

int main(int argc, char** argv) {
    if (!prepareProcess()) {
        return kExitFileError;
    }
    return runMerge(argc, argv);
}
