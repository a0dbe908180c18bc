// The process entry: the process is set up so that no way it can end
// leaves a broken merged file and no failed write to the console stops it,
// then one run does the rest.
#include "host.h"
#include "merge_run.h"

int main(int argc, char** argv) {
    if (!prepareProcess()) {
        return kExitFileError;
    }
    return runMerge(argc, argv);
}
