// The process entry: the standard streams are given a place and no failed
// write to the console can stop the process; the options that ask the
// program about itself are answered; then the run of one folder, or of
// several.
#include <cstring>

#include "archive_run.h"
#include "console.h"
#include "host.h"
#include "merge_run.h"

int main(int argc, char** argv) {
    if (!prepareProcess()) {
        return kExitFileError;
    }
    // "--" ends the options: every argument after it is a folder.
    const bool optionsEnded = argc > 1 && std::strcmp(argv[1], "--") == 0;
    if (!optionsEnded) {
        const InfoAnswer answer = answerInfoOption(argc, argv);
        if (answer != InfoAnswer::None) {
            return answer == InfoAnswer::Answered ? kExitMerged : kExitFileError;
        }
    }
    const int folders = argc - (optionsEnded ? 2 : 1);
    char** const arguments = argv + (optionsEnded ? 2 : 1);
    return isSeveralFolderRun(folders, arguments) ? mergeSeveralFolders(folders, arguments)
                                                  : runOneFolder(folders, arguments);
}
