#include "run_steps.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "console.h"
#include "read_problem.h"

namespace {

// The new merged file's temporary file, where it could not be removed.
void sayWhatWasNotRemoved(const LogFailure& failure) {
    if (!failure.notRemoved.empty()) {
        std::printf(" Cannot remove temporary file %s (%s); remove it by hand \n",
                    shownText(failure.notRemoved).c_str(), failure.notRemovedReason.c_str());
    }
}

}  // namespace

void leaveFolder(Run& run) {
    unlockFolder(run.lock);
    releaseFolder(run.folder);
}

StepResult endAfterFailure(Run& run, Wait wait) {
    abandonDetectionLog(run.logFailure);
    sayWhatWasNotRemoved(run.logFailure);
    leaveFolder(run);
    if (run.oneOfSeveral) {
        return runEndsWith(kExitFileError);  // the folders after it go on
    }
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

// The temporary file is the obstacle, and named, unless the merged file is.
StepResult endAfterWriteFailure(Run& run) {
    run.failure = "merged file cannot be written";
    abandonDetectionLog(run.logFailure);  // which says why a write failed
    const LogFailure& failure = run.logFailure;
    const std::string shownPath = shownText(failure.path);
    const char* path = shownPath.c_str();
    const char* reason = failure.reason.c_str();
    switch (failure.step) {
    case LogStep::Flush:
        std::printf(" Cannot flush temporary file %s to disk (%s) \n", path, reason);
        break;
    case LogStep::Close:
        std::printf(" Cannot close temporary file %s (%s) \n", path, reason);
        break;
    case LogStep::Rename:
        std::printf(" Cannot rename temporary file %s to %s (%s) \n", path,
                    shownText(run.paths.mergedPath).c_str(), reason);
        break;
    default:
        std::printf(" Cannot write temporary file %s (%s) \n", path, reason);
        break;
    }
    return endAfterFailure(run, Wait::ForNumber);
}

StepResult endAfterOpenFailure(Run& run, const std::string& path, int error) {
    std::printf(" Cannot open file %s for reading \n", shownText(path).c_str());
    std::printf(" (%s) \n%s", std::strerror(error), run.oneOfSeveral ? "" : "\n");
    run.failure = "a per-camera file cannot be opened";
    return endAfterFailure(run, Wait::ForCharacter);
}

StepResult endAfterFolderNotFlushed(Run& run) {
    run.failure = "folder not flushed to disk";
    std::printf(" KEL detection log file %s was written, but its folder could not be flushed to "
                "disk (%s) \n",
                shownText(run.paths.mergedPath).c_str(), run.logFailure.reason.c_str());
    return endAfterFailure(run, Wait::ForNumber);
}
