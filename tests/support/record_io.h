// Reads per-camera file text in memory and writes back what was read, for
// tests of the reader and the record formats.
#pragma once

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "detection_reader.h"

struct ReadOutcome {
    std::string written;              // the record lines of every record read
    int records = 0;
    std::vector<ReadProblem> damaged; // refused records, in order
    bool failed = false;
    ReadProblem failure;              // why, when reading failed
    HeaderStatus header = HeaderStatus::Read;
    ReadProblem headerProblem;        // where and why, unless the header was read
};

// Reads `fileText` as a per-camera file (header, then records, as long as
// the header was read) and writes each record read with the merged file's
// record formats. Reads it a second time with every number converted by
// value, and fails the test when that gives anything else: records,
// damage, lines and bytes alike.
ReadOutcome readAndWrite(const std::string& fileText);

// Reads an open stream, which it closes, as the above does once.
ReadOutcome readAndWrite(std::FILE* in, bool convertByValue = false);

// Shows a reason in test failures by its number.
inline void PrintTo(ReadReason reason, std::ostream* out) {
    *out << "ReadReason " << static_cast<int>(reason);
}

// True when two problems have the same reason and details.
bool sameProblem(const ReadProblem& a, const ReadProblem& b);

// Reads the first record of `fileText`, a per-camera file, into `record`.
ReadStatus readFirstRecord(const std::string& fileText, DetectionRecord& record);

// The record lines of one record, as the merged file holds them.
std::string recordLines(const DetectionRecord& record);
