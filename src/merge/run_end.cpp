#include "run_end.h"

#include <cstdio>
#include <cstring>

#include "detection_log.h"
#include "keyboard_wait.h"

void leaveFolder(Run& run) {
    // Windows removes no file that is open, and the next run replaces the
    // listing first.
    run.listing.close();
    unlockFolder(run.lock);
}

StepResult endAfterFailure(Run& run, Wait wait) {
    abandonDetectionLog();
    leaveFolder(run);
    run.waited = true;
    if (wait == Wait::ForCharacter) {
        std::printf(" Enter CR to exit program \n");
        waitForCharacter();
    } else {
        std::printf(" Type a number and Enter to exit program \n");
        waitForInteger();
    }
    return runEndsWith(kExitFileError);
}

StepResult endAfterWriteFailure(Run& run) {
    std::printf(" Cannot write KEL detection log file %s (%s) \n", run.paths.mergedPath.c_str(),
                detectionLogError().c_str());
    return endAfterFailure(run, Wait::ForNumber);
}

StepResult endAfterFolderNotFlushed(Run& run) {
    std::printf(" KEL detection log file %s was written, but its folder could not be flushed to "
                "disk (%s) \n",
                run.paths.mergedPath.c_str(), detectionLogError().c_str());
    return endAfterFailure(run, Wait::ForNumber);
}

StepResult endAfterOpenFailure(Run& run, const std::string& path, int error) {
    std::printf(" Cannot open file %s for reading \n", path.c_str());
    std::printf(" (%s) \n\n", std::strerror(error));
    return endAfterFailure(run, Wait::ForCharacter);
}
