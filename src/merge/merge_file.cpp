#include "merge_file.h"

#include <cstdio>

#include "detection_file_names.h"
#include "detection_log.h"
#include "merge_run.h"

namespace {

void reportReadFailure(const std::string& path, const ReadProblem& problem, MergeState& state) {
    std::printf(" Cannot read file %s at line %ld (%s); the rest of it was not merged \n",
                path.c_str(), problem.line, readProblemText(problem).c_str());
    ++state.filesLeftOut;
}

// Reads past the file's header; false, after a message, when no records
// can be read from it.
bool readHeader(const std::string& path, MergeState& state) {
    ReadProblem problem;
    const HeaderStatus header = readDetectionHeader(state.input, problem);
    if (header == HeaderStatus::Read) {
        return true;
    }
    if (header == HeaderStatus::Cut) {
        std::printf(" File %s ends inside its header at line %ld; no records merged from it \n",
                    path.c_str(), problem.line);
        ++state.filesLeftOut;
    } else if (header == HeaderStatus::Damaged) {
        std::printf(" Damaged header in file %s at line %ld: %s; no records merged from it \n",
                    path.c_str(), problem.line, readProblemText(problem).c_str());
        ++state.filesLeftOut;
    } else {
        reportReadFailure(path, problem, state);
    }
    return false;
}

// Reports a record past the cap of one file; the cap is passed only when
// a further record begins, and a separator alone after the last record
// holds none.
void checkBeyondCap(const std::string& path, MergeState& state) {
    ReadProblem problem;
    const ReadStatus rest = checkForFurtherRecord(state.input, problem);
    if (rest == ReadStatus::Record) {
        std::printf(" File %s holds more than %d records; the rest of it was not merged \n",
                    path.c_str(), kMaxRecordsPerFile);
        ++state.filesLeftOut;
    } else if (rest == ReadStatus::Failed) {
        reportReadFailure(path, problem, state);
    }
}

// Copies every record of the open per-camera file at `path` into the
// merged file, counting them, and reports damaged records, a cut or
// damaged header, read errors and the record cap. False when the merged
// file could not be written.
bool mergeFile(const std::string& path, std::FILE* file, MergeState& state) {
    startDetectionInput(state.input, file);
    if (!readHeader(path, state)) {
        return true;
    }
    ++state.filesRead;
    ReadProblem problem;
    for (int records = 0; records < kMaxRecordsPerFile;) {
        const ReadStatus status = readDetectionRecord(state.input, state.record, problem);
        if (status == ReadStatus::End) {
            return true;
        }
        if (status == ReadStatus::Failed) {
            reportReadFailure(path, problem, state);
            return true;
        }
        if (status == ReadStatus::Damaged) {
            std::printf(" Damaged record in file %s at line %ld: %s; record not merged \n",
                        path.c_str(), problem.line, readProblemText(problem).c_str());
            ++state.damagedRecords;
            continue;
        }
        if (!writeDetectionRecord(state.record)) {
            return false;
        }
        ++state.count;
        ++records;
    }
    checkBeyondCap(path, state);
    return true;
}

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
