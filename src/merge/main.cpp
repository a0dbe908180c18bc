#include "merge_run.h"

int main(int argc, char** argv) {
    return runMerge(argc, argv);
}
