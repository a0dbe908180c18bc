#include "merge_run.h"
#include "process_setup.h"

int main(int argc, char** argv) {
    if (!prepareProcess()) {
        return kExitFileError;
    }
    return runMerge(argc, argv);
}
