#include "merge_file.h"

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

}  // namespace

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
