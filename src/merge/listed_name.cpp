#include "listed_name.h"

#include <cstdio>

#include "camera_number.h"
#include "listed_file.h"
#include "run_end.h"

namespace {

NameResult leftOut(Run& run) {
    ++run.state->filesLeftOut;
    return {NameResult::Kind::LeftOut};
}

NameResult endsRun(const StepResult& end) {
    return {NameResult::Kind::RunEnds, end.status};
}

// A listed name may be a link to the merged file: reading it would feed
// the run its own output, or the earlier run's.
bool isOwnFile(const Run& run, std::FILE* file) {
    const FileIdentity identity = identityOfOpenFile(file);
    return sameFile(identity, run.ownFiles.earlierMerged) ||
           sameFile(identity, run.ownFiles.staging);
}

}  // namespace

NameResult mergeListedName(Run& run, std::string name) {
    const std::string& ffFolder = run.paths.ffFolder;
    int camera = 0;
    if (!cameraNumberOf(name, camera)) {
        std::printf(" File %s has no camera number in its name; not merged \n",
                    (ffFolder + name).c_str());
        return leftOut(run);
    }
    if (camera == 0) {
        return {NameResult::Kind::Skipped};  // such as the merged file of an earlier run
    }
    if (!listedNameForHost(ffFolder, name)) {
        return leftOut(run);
    }
    const std::string path = ffFolder + name;
    std::FILE* file = nullptr;
    int error = 0;
    const ListedFileOpen opened = openListedFile(path, file, error);
    if (opened == ListedFileOpen::Failed) {
        return endsRun(endAfterOpenFailure(run, path, error));
    }
    if (opened == ListedFileOpen::NotAFile) {
        std::printf(" File %s is no longer a regular file; not merged \n", path.c_str());
        return leftOut(run);
    }
    if (isOwnFile(run, file)) {
        std::printf(" File %s is this run's merged file under another name; not read \n",
                    path.c_str());
        std::fclose(file);
        return leftOut(run);
    }
    const bool written = mergeFile(path, file, *run.state);
    std::fclose(file);
    return written ? NameResult{NameResult::Kind::Merged} : endsRun(endAfterWriteFailure(run));
}
