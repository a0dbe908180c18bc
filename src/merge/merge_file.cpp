#include "merge_file.h"

#include "detection_log.h"
#include "merge_run.h"

bool mergeFile(const std::string& path, std::FILE* file, MergeState& state) {
    startDetectionInput(state.input, file);
    ReadProblem problem;
    auto reportReadFailure = [&] {
        std::printf(" Cannot read file %s at line %ld (%s); the rest of it was not merged \n",
                    path.c_str(), problem.line, readProblemText(problem).c_str());
        ++state.filesLeftOut;
    };
    const HeaderStatus header = readDetectionHeader(state.input, problem);
    if (header == HeaderStatus::Cut) {
        std::printf(" File %s ends inside its header at line %ld; no records merged from it \n",
                    path.c_str(), problem.line);
        ++state.filesLeftOut;
        return true;
    }
    if (header == HeaderStatus::Damaged) {
        std::printf(" Damaged header in file %s at line %ld: %s; no records merged from it \n",
                    path.c_str(), problem.line, readProblemText(problem).c_str());
        ++state.filesLeftOut;
        return true;
    }
    if (header == HeaderStatus::Failed) {
        reportReadFailure();
        return true;
    }
    ++state.filesRead;
    int records = 0;
    while (records < kMaxRecordsPerFile) {
        ReadStatus status = readDetectionRecord(state.input, state.record, problem);
        if (status == ReadStatus::End) {
            return true;
        }
        if (status == ReadStatus::Failed) {
            reportReadFailure();
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
    // The cap is passed only when a further record begins; a separator
    // alone after the last record holds none.
    const ReadStatus rest = checkForFurtherRecord(state.input, problem);
    if (rest == ReadStatus::Record) {
        std::printf(" File %s holds more than %d records; the rest of it was not merged \n",
                    path.c_str(), kMaxRecordsPerFile);
        ++state.filesLeftOut;
    } else if (rest == ReadStatus::Failed) {
        reportReadFailure();
    }
    return true;
}
